#include "serial/portmap.h"

#include <QRegularExpression>
#include <QSerialPortInfo>

#include <algorithm>

namespace {

int groupOf(const QString &name)
{
    if (name.startsWith(u"ttyS"))
        return 0;
    if (name.startsWith(u"ttyUSB"))
        return 1;
    if (name.startsWith(u"ttyACM"))
        return 2;
    return 3;
}

// Natural order: ttyS2 before ttyS10.
bool naturalLess(const QString &a, const QString &b)
{
    static const QRegularExpression tail(QStringLiteral("^(.*?)(\\d+)$"));
    const auto ma = tail.match(a);
    const auto mb = tail.match(b);
    if (ma.hasMatch() && mb.hasMatch() && ma.captured(1) == mb.captured(1))
        return ma.captured(2).toLongLong() < mb.captured(2).toLongLong();
    return a < b;
}

QString baseName(const QString &path)
{
    return path.section(u'/', -1);
}

} // namespace

PortMap PortMap::fromSystem()
{
    QList<PortDevice> system;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        system.append({info.systemLocation(), info.description()});
    return build(QProcessEnvironment::systemEnvironment(), system);
}

PortMap PortMap::build(const QProcessEnvironment &environment, const QList<PortDevice> &system)
{
    PortMap map;
    static const QRegularExpression variable(QStringLiteral("^QUORLINE_COM([1-9]\\d{0,4})$"));
    for (const QString &key : environment.keys()) {
        const auto match = variable.match(key);
        const QString path = environment.value(key);
        if (match.hasMatch() && !path.isEmpty())
            map.m_entries.insert(match.captured(1).toInt(), {path, QStringLiteral("set by %1").arg(key)});
    }

    QList<PortDevice> sorted;
    for (const PortDevice &device : system) {
        const bool named = std::any_of(map.m_entries.cbegin(), map.m_entries.cend(),
                                       [&device](const PortDevice &d) { return d.path == device.path; });
        if (!named)
            sorted.append(device);
    }
    std::stable_sort(sorted.begin(), sorted.end(), [](const PortDevice &a, const PortDevice &b) {
        const QString na = baseName(a.path), nb = baseName(b.path);
        if (groupOf(na) != groupOf(nb))
            return groupOf(na) < groupOf(nb);
        return naturalLess(na, nb);
    });

    int next = 1;
    for (const PortDevice &device : sorted) {
        while (map.m_entries.contains(next))
            ++next;
        map.m_entries.insert(next, device);
    }
    return map;
}

std::optional<PortDevice> PortMap::device(int number) const
{
    const auto it = m_entries.constFind(number);
    if (it == m_entries.cend())
        return std::nullopt;
    return *it;
}
