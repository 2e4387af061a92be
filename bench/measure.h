#pragma once

// What every benchmark measures and how it reads its options.

#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

// CPU time of this process: the machine is shared, so wall time alone says little.
inline double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Resident memory of this process, in bytes.
inline qint64 residentBytes()
{
    FILE *f = std::fopen("/proc/self/statm", "r");
    long resident = 0;
    if (f) {
        // The second field: the size in pages, then the resident pages.
        char line[128] = {};
        if (std::fgets(line, sizeof line, f)) {
            char *end = nullptr;
            std::strtol(line, &end, 10);
            resident = std::strtol(end, nullptr, 10);
        }
        std::fclose(f);
    }
    return qint64(resident) * sysconf(_SC_PAGESIZE);
}

// The machine's one-minute load average, -1 when unknown.
inline double loadAverage()
{
    double load[1] = {};
    return getloadavg(load, 1) == 1 ? load[0] : -1;
}

// The command line: "--name value" options and plain positional values.
class Arguments
{
public:
    explicit Arguments(const QStringList &arguments) : m_args(arguments) {}

    QString option(const QString &name, const QString &fallback = QString()) const
    {
        const qsizetype at = m_args.indexOf(name);
        return at >= 0 && at + 1 < m_args.size() ? m_args[at + 1] : fallback;
    }
    double number(const QString &name, double fallback) const
    {
        const QString value = option(name);
        return value.isEmpty() ? fallback : value.toDouble();
    }
    // The index-th argument after the program's name.
    QString positional(int index, const QString &fallback) const
    {
        return index + 1 < m_args.size() ? m_args[index + 1] : fallback;
    }
    const QStringList &all() const { return m_args; }

private:
    QStringList m_args;
};
