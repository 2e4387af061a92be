#pragma once

#include <QByteArrayView>
#include <QString>

#include <optional>

#include <sys/types.h>

// UUCP-style device locks in /var/lock, shared with every other serial program on the machine.
namespace portlock {

inline constexpr char Directory[] = "/var/lock";

// How long a lock file may stay empty or unreadable while the program that made it writes it.
inline constexpr qint64 WritingMs = 2000;

// The lock file's name for a device, as QSerialPort and other programs build it:
// /dev/ttyUSB0 -> LCK..ttyUSB0, /dev/pts/3 -> LCK..pts_3.
QString lockName(const QString &canonicalDevice);

// The process a lock file names: its first whitespace-separated decimal number, or a native
// int when the file is exactly four bytes of binary (the old binary form). Empty when the
// file names no process: empty, garbage, zero, negative or beyond any process number.
std::optional<pid_t> lockPid(QByteArrayView content);

// What a lock file found in place says, before any process is asked about.
struct Reading
{
    enum class Kind {
        Names,          // a process, alive or not
        BeingWritten,   // empty or unreadable and young: its program is still writing it
        NamesNoProcess, // old enough to be whole, and names nobody
        CannotBeRead,   // old enough to be whole, and we may not read it
    };
    Kind kind = Kind::NamesNoProcess;
    pid_t pid = 0; // for Names
    bool operator==(const Reading &) const = default;
};

// content: the file's bytes, or nothing when it cannot be read; ageMs: since it last changed.
Reading readLock(std::optional<QByteArrayView> content, qint64 ageMs);

// kill(pid, 0): a process we may not signal is still alive.
bool processAlive(pid_t pid);

// The short program name of a process (/proc/PID/comm), empty when it cannot be read.
QString processName(pid_t pid);

// "process 1234 (minicom)", or "process 1234" when its name cannot be read: the one wording
// of a device's holder in every message.
QString describeProcess(pid_t pid);
QString describeProcess(pid_t pid, const QString &name);

} // namespace portlock

// Our hold on one device, taken before anything opens it for use: other programs' lock files
// are honoured (also where we may not write one), the device is opened on a descriptor that
// changes no setting and refused when another program holds it exclusively or with flock, the
// flock is taken on that descriptor, and our lock file appears whole, mode 0644. Only the file
// we made is ever removed; a dead process's lock is cleaned.
class PortLock
{
public:
    PortLock() = default;
    ~PortLock() { release(); }
    PortLock(const PortLock &) = delete;
    PortLock &operator=(const PortLock &) = delete;

    // Throws Failure naming the holder when the device is taken, or when a lock cannot be read.
    // checked is the device number deviceguard found; shown is the name the user knows. The
    // lock directory is a parameter only for tests.
    void acquire(const QString &canonicalDevice, dev_t checked, const QString &shown,
                 const QString &directory = QString::fromLatin1(portlock::Directory));
    // Closes the device descriptor (and so the flock) and removes our lock file.
    void release();
    QString path() const { return m_path; }

private:
    void writeLockFile(const QString &path, const QString &shown);

    QString m_path;
    int m_fd = -1;       // our lock file, flocked so that QLockFile never takes it as stale
    int m_deviceFd = -1; // the device, opened before the port, holding its flock
};
