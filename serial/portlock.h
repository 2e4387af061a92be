#pragma once

#include <QByteArrayView>
#include <QString>

#include <optional>

#include <sys/types.h>

// UUCP-style device locks in /var/lock, shared with every other serial program on the machine.
namespace portlock {

inline constexpr char Directory[] = "/var/lock";

// The lock file's name for a device, as QSerialPort and other programs build it:
// /dev/ttyUSB0 -> LCK..ttyUSB0, /dev/pts/3 -> LCK..pts_3.
QString lockName(const QString &canonicalDevice);

// The process a lock file names: its first whitespace-separated decimal number, or a native
// int when the file is exactly four bytes of binary (the old binary form). Empty when the
// file names no process: empty, garbage, zero, negative or beyond any process number.
std::optional<pid_t> lockPid(QByteArrayView content);

// kill(pid, 0): a process we may not signal is still alive.
bool processAlive(pid_t pid);

// The short program name of a process (/proc/PID/comm), empty when it cannot be read.
QString processName(pid_t pid);

// "process 1234 (minicom)", or "process 1234" when its name cannot be read.
QString describeProcess(pid_t pid);

} // namespace portlock

// Our lock on one device, taken with O_EXCL and held with flock, so that neither UUCP-style
// programs nor Qt's own lock files take it as stale. Only the file we created is ever removed.
class PortLock
{
public:
    PortLock() = default;
    ~PortLock() { release(); }
    PortLock(const PortLock &) = delete;
    PortLock &operator=(const PortLock &) = delete;

    // Takes the lock for the device, cleaning a lock whose process is dead; throws Failure
    // naming the holder when a live process holds it, or when the lock cannot be read.
    // The lock directory is a parameter only for tests; shown is the name the user knows.
    void acquire(const QString &canonicalDevice, const QString &shown,
                 const QString &directory = QString::fromLatin1(portlock::Directory));
    void release();
    QString path() const { return m_path; }

private:
    QString m_path;
    int m_fd = -1;
};
