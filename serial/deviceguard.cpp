#include "serial/deviceguard.h"

#include "base/failure.h"
#include "serial/openadvice.h"
#include "serial/portlock.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace deviceguard {

namespace {

constexpr long DevptsMagic = 0x1cd1;
constexpr unsigned TtyAuxMajor = 5; // /dev/tty, /dev/console, /dev/ptmx
constexpr unsigned VirtualConsoleMajor = 4;
constexpr unsigned FirstSerialMinor = 64; // below it, major 4 is the virtual consoles

bool sameTerminal(dev_t device, int fd)
{
    struct stat st
    {
    };
    return ::isatty(fd) && ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == device;
}

// The process holding a flock on the file (device number, inode), from /proc/locks.
pid_t flockHolder(dev_t dev, ino_t ino)
{
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray id = QByteArray::number(major(dev), 16).rightJustified(2, '0') + ':' +
                          QByteArray::number(minor(dev), 16).rightJustified(2, '0') + ':' +
                          QByteArray::number(quint64(ino));
    // /proc files report no size: read to the end rather than ask whether we are there.
    for (const QByteArray &line : locks.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        // "1: FLOCK ADVISORY WRITE 1234 00:05:6 0 EOF"; waiters have "->" in the second field.
        if (f.size() >= 6 && f[1] == "FLOCK" && f[5] == id && f[4].toInt() != ::getpid())
            return pid_t(f[4].toInt());
    }
    return 0;
}

// "in use by process 1234 (minicom) (it holds the device in exclusive mode)"
QString inUse(const QString &shown, const QString &canonical, const QString &how)
{
    const QList<OpenAdvice::Holder> holders = OpenAdvice::holdersOf(canonical);
    const QString who = holders.isEmpty() ? QStringLiteral("another program")
                                          : portlock::describeProcess(pid_t(holders.first().pid));
    return QStringLiteral("%1: in use by %2 (it holds the device %3)").arg(shown, who, how);
}

} // namespace

QString canonicalDevice(const QString &path)
{
    char resolved[PATH_MAX];
    if (::realpath(QFile::encodeName(path).constData(), resolved) == nullptr) {
        if (errno == ELOOP)
            throw Failure(QStringLiteral("%1 is a loop of symbolic links").arg(path));
        if (errno == ENOENT || errno == ENOTDIR)
            throw Failure(QStringLiteral("%1 does not exist").arg(path));
        throw Failure(QStringLiteral("%1: %2").arg(path, errnoText(errno)));
    }
    return QFile::decodeName(resolved);
}

dev_t controllingTerminal()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    // Fields after the command name, which may hold blanks and ends at the last ')'.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 5)
        return 0;
    const unsigned ttyNr = fields[4].toUInt();
    return ttyNr == 0 ? 0
                      : makedev((ttyNr >> 8) & 0xfff, (ttyNr & 0xff) | ((ttyNr >> 12) & 0xfff00));
}

dev_t checkSerialDevice(const QString &canonical, const QString &shown)
{
    const QByteArray name = QFile::encodeName(canonical);
    struct stat st
    {
    };
    if (::stat(name.constData(), &st) != 0)
        throw Failure(QStringLiteral("%1: %2").arg(shown, errnoText(errno)));
    if (S_ISDIR(st.st_mode))
        throw Failure(QStringLiteral("%1 is a directory, not a serial device").arg(shown));
    if (S_ISREG(st.st_mode))
        throw Failure(QStringLiteral("%1 is a regular file, not a serial device").arg(shown));
    if (!S_ISCHR(st.st_mode))
        throw Failure(QStringLiteral("%1 is not a serial device").arg(shown));

    const dev_t device = st.st_rdev;
    const dev_t controlling = controllingTerminal();
    const bool ownTerminal =
        device == makedev(TtyAuxMajor, 0) || (controlling != 0 && device == controlling) ||
        sameTerminal(device, 0) || sameTerminal(device, 1) || sameTerminal(device, 2);
    if (ownTerminal)
        throw Failure(QStringLiteral("%1 is the terminal this program runs in, not a serial port")
                          .arg(shown));
    if (major(device) == TtyAuxMajor)
        throw Failure(QStringLiteral("%1 is not a serial device").arg(shown));
    if (major(device) == VirtualConsoleMajor && minor(device) < FirstSerialMinor)
        throw Failure(QStringLiteral("%1 is a virtual console, not a serial device").arg(shown));

    // Pseudo-terminals have no entry under /sys; their file system says what they are.
    struct statfs fs
    {
    };
    if (::statfs(name.constData(), &fs) == 0 && fs.f_type == DevptsMagic)
        return device;
    const QString subsystem =
        QStringLiteral("/sys/dev/char/%1:%2/subsystem").arg(major(device)).arg(minor(device));
    if (QFileInfo(QFileInfo(subsystem).symLinkTarget()).fileName() != u"tty")
        throw Failure(QStringLiteral("%1 is not a serial device").arg(shown));
    return device;
}

void checkOpened(int fd, dev_t checked, const QString &shown)
{
    if (!sameTerminal(checked, fd))
        throw Failure(QStringLiteral("%1 changed while it was being opened").arg(shown));
}

void flockDevice(int fd, const QString &shown)
{
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return;
    if (errno != EWOULDBLOCK)
        throw Failure(QStringLiteral("%1 cannot be locked: %2").arg(shown, errnoText(errno)));
    struct stat st
    {
    };
    const pid_t holder = ::fstat(fd, &st) == 0 ? flockHolder(st.st_dev, st.st_ino) : 0;
    // The process that took the lock may have handed it on and gone.
    if (holder > 0 && portlock::processAlive(holder))
        throw Failure(QStringLiteral("%1: in use by %2 (it holds a lock on the device)")
                          .arg(shown, portlock::describeProcess(holder)));
    throw Failure(
        QStringLiteral("%1: in use by another program (it holds a lock on the device)").arg(shown));
}

int openUnchanged(const QString &canonical, dev_t checked, const QString &shown)
{
    // O_NONBLOCK: no wait for carrier; no termios call and no ioctl that sets anything follow.
    const int fd = ::open(QFile::encodeName(canonical).constData(),
                          O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == EBUSY)
            throw Failure(inUse(shown, canonical, QStringLiteral("in exclusive mode")));
        if (error == EACCES || error == EPERM)
            throw Failure(OpenAdvice::describe(OpenAdvice::gather(shown, false), errnoText(error)));
        throw Failure(QStringLiteral("%1: %2").arg(shown, errnoText(error)));
    }
    try {
        checkOpened(fd, checked, shown);
        // Root opens a device that another program holds in exclusive mode: look, do not clear.
        int exclusive = 0;
        if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0)
            throw Failure(inUse(shown, canonical, QStringLiteral("in exclusive mode")));
        flockDevice(fd, shown);
    } catch (...) {
        ::close(fd);
        throw;
    }
    return fd;
}

bool speedTaken(qint64 requested, qint64 actual)
{
    return requested > 0 && actual > 0 && std::llabs(actual - requested) * 50 <= requested;
}

} // namespace deviceguard
