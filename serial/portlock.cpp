#include "serial/portlock.h"

#include "base/failure.h"
#include "serial/deviceguard.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace portlock {

QString lockName(const QString &canonicalDevice)
{
    QString name = canonicalDevice;
    if (name.startsWith(u"/dev/"))
        name = name.mid(5);
    name.replace(u'/', u'_');
    return QStringLiteral("LCK..") + name;
}

std::optional<pid_t> lockPid(QByteArrayView content)
{
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    // Four bytes that are not all text are the old binary form.
    const auto isText = [&isSpace](char c) { return (c >= ' ' && c < 127) || isSpace(c); };
    if (content.size() == sizeof(int) && !std::all_of(content.begin(), content.end(), isText)) {
        int value = 0;
        std::memcpy(&value, content.data(), sizeof value);
        return value > 0 ? std::optional<pid_t>(pid_t(value)) : std::nullopt;
    }
    qsizetype i = 0;
    while (i < content.size() && isSpace(content[i]))
        ++i;
    long long value = 0;
    const qsizetype first = i;
    for (; i < content.size() && isDigit(content[i]); ++i) {
        value = value * 10 + (content[i] - '0');
        if (value > INT_MAX)
            return std::nullopt;
    }
    if (i == first || (i < content.size() && !isSpace(content[i])) || value == 0)
        return std::nullopt;
    return pid_t(value);
}

Reading readLock(std::optional<QByteArrayView> content, qint64 ageMs)
{
    // A clock set back may date a file in the future: only a small skew counts as young.
    const bool young = ageMs > -WritingMs && ageMs < WritingMs;
    if (!content)
        return {young ? Reading::Kind::BeingWritten : Reading::Kind::CannotBeRead};
    // Blanks alone are the start of a padded PID ("      1234\n") that is still being written.
    const bool blank = std::all_of(content->begin(), content->end(), [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r';
    });
    if (blank && young)
        return {Reading::Kind::BeingWritten};
    if (const auto pid = lockPid(*content))
        return {Reading::Kind::Names, *pid};
    return {Reading::Kind::NamesNoProcess};
}

bool processAlive(pid_t pid)
{
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

QString processName(pid_t pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(comm.read(64)).trimmed();
}

QString describeProcess(pid_t pid)
{
    return describeProcess(pid, processName(pid));
}

QString describeProcess(pid_t pid, const QString &name)
{
    return name.isEmpty() ? QStringLiteral("process %1").arg(pid)
                          : QStringLiteral("process %1 (%2)").arg(pid).arg(name);
}

} // namespace portlock

namespace {

// Milliseconds since the file last changed.
qint64 ageMs(const struct stat &st)
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return (qint64(now.tv_sec) - qint64(st.st_mtim.tv_sec)) * 1000 +
           (qint64(now.tv_nsec) - qint64(st.st_mtim.tv_nsec)) / 1000000;
}

// What a lock file found in place says.
struct FoundLock
{
    enum class Kind { Gone, Dead, Alive, BeingWritten, Unreadable } kind = Kind::Gone;
    pid_t pid = 0;
    QString why; // for Unreadable
    dev_t dev = 0;
    ino_t ino = 0;
};

FoundLock judged(const portlock::Reading &reading, FoundLock found, const QString &whyUnreadable)
{
    using Kind = portlock::Reading::Kind;
    switch (reading.kind) {
    case Kind::Names:
        found.pid = reading.pid;
        found.kind =
            portlock::processAlive(reading.pid) ? FoundLock::Kind::Alive : FoundLock::Kind::Dead;
        break;
    case Kind::BeingWritten:
        found.kind = FoundLock::Kind::BeingWritten;
        break;
    case Kind::NamesNoProcess:
        found.kind = FoundLock::Kind::Unreadable;
        found.why = QStringLiteral("it names no process");
        break;
    case Kind::CannotBeRead:
        found.kind = FoundLock::Kind::Unreadable;
        found.why = whyUnreadable;
        break;
    }
    return found;
}

FoundLock inspect(const QString &path)
{
    FoundLock found;
    const QByteArray name = QFile::encodeName(path);
    const int fd =
        ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        struct stat st
        {
        };
        if (error == ENOENT || ::lstat(name.constData(), &st) != 0)
            return found;
        found.dev = st.st_dev;
        found.ino = st.st_ino;
        if (error == ELOOP) {
            found.kind = FoundLock::Kind::Unreadable;
            found.why = QStringLiteral("it is a symbolic link");
            return found;
        }
        return judged(portlock::readLock(std::nullopt, ageMs(st)), found,
                      QStringLiteral("it cannot be read: %1").arg(errnoText(error)));
    }
    struct stat st
    {
    };
    char buf[64];
    ssize_t n = -1;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        n = ::read(fd, buf, sizeof buf);
    const int readError = errno;
    ::close(fd);
    found.dev = st.st_dev;
    found.ino = st.st_ino;
    if (!S_ISREG(st.st_mode)) {
        found.kind = FoundLock::Kind::Unreadable;
        found.why = QStringLiteral("it is not a regular file");
        return found;
    }
    const auto content = n < 0 ? std::nullopt : std::optional(QByteArrayView(buf, n));
    return judged(portlock::readLock(content, ageMs(st)), found,
                  QStringLiteral("it cannot be read: %1").arg(errnoText(readError)));
}

// Removes a dead process's lock only if the name still holds the very file that was read.
void removeIfSame(const QString &path, const FoundLock &found)
{
    struct stat st
    {
    };
    const QByteArray name = QFile::encodeName(path);
    if (::lstat(name.constData(), &st) == 0 && st.st_dev == found.dev && st.st_ino == found.ino)
        ::unlink(name.constData());
}

// Throws unless the lock in place, if any, leaves the device to us; cleans a dead one where
// the directory lets us.
void honour(const QString &path, const QString &shown, bool writable)
{
    const FoundLock found = inspect(path);
    switch (found.kind) {
    case FoundLock::Kind::Alive:
        throw Failure(QStringLiteral("%1: in use by %2 (lock file %3)")
                          .arg(shown, portlock::describeProcess(found.pid), path));
    case FoundLock::Kind::BeingWritten:
        throw Failure(
            QStringLiteral("%1: another program is taking it: its lock file %2 is being written")
                .arg(shown, path));
    case FoundLock::Kind::Unreadable:
        throw Failure(
            QStringLiteral(
                "%1: locked by %2, but %3; remove that file if no program uses the device")
                .arg(shown, path, found.why));
    case FoundLock::Kind::Dead:
        if (writable)
            removeIfSame(path, found);
        break;
    case FoundLock::Kind::Gone:
        break;
    }
}

} // namespace

void PortLock::acquire(const QString &canonicalDevice, dev_t checked, const QString &shown,
                       const QString &directory)
{
    release();
    const QString path = directory + u'/' + portlock::lockName(canonicalDevice);
    // Where no lock file can be written, other programs' are still read, and the flock on the
    // device guards our own open.
    const bool writable = ::access(QFile::encodeName(directory).constData(), W_OK | X_OK) == 0;
    // Before the device is opened: the first open of a UART raises its modem lines.
    honour(path, shown, writable);
    m_deviceFd = deviceguard::openUnchanged(canonicalDevice, checked, shown);
    if (!writable)
        return;
    try {
        writeLockFile(path, shown);
    } catch (...) {
        release();
        throw;
    }
}

// Written in a file of its own and linked to the lock's name, so that it appears whole; a
// link never replaces a lock that another program made meanwhile.
void PortLock::writeLockFile(const QString &path, const QString &shown)
{
    const qsizetype cut = path.lastIndexOf(u'/');
    QByteArray temporary =
        QFile::encodeName(path.left(cut) + QStringLiteral("/.quorline-") + path.mid(cut + 1)) +
        "-XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        throw Failure(QStringLiteral("%1: the lock file %2 cannot be made: %3")
                          .arg(shown, path, errnoText(errno)));
    const QByteArray text = QByteArray::number(::getpid()).rightJustified(10, ' ') + '\n';
    const bool written = ::write(fd, text.constData(), size_t(text.size())) == text.size() &&
                         ::fchmod(fd, 0644) == 0;
    ::flock(fd, LOCK_EX | LOCK_NB);
    const QByteArray name = QFile::encodeName(path);
    bool linked = false;
    int linkError = 0;
    for (int attempt = 0; written && !linked && attempt < 3; ++attempt) {
        linked = ::link(temporary.constData(), name.constData()) == 0;
        linkError = errno;
        if (linked || linkError != EEXIST)
            break;
        try {
            honour(path, shown, true); // it appeared after our first look
        } catch (...) {
            ::unlink(temporary.constData());
            ::close(fd);
            throw;
        }
    }
    ::unlink(temporary.constData());
    if (!linked) {
        ::close(fd);
        // A lock directory with no hard links is one we cannot write to: the flock guards.
        if (written && (linkError == EPERM || linkError == EOPNOTSUPP))
            return;
        if (!written)
            throw Failure(
                QStringLiteral("%1: the lock file %2 cannot be written").arg(shown, path));
        if (linkError == EEXIST)
            throw Failure(QStringLiteral("%1: its lock file %2 keeps changing").arg(shown, path));
        throw Failure(QStringLiteral("%1: the lock file %2 cannot be made: %3")
                          .arg(shown, path, errnoText(linkError)));
    }
    m_fd = fd;
    m_path = path;
}

void PortLock::release()
{
    // The device first: the lock stands for as long as the device is open.
    if (m_deviceFd >= 0)
        ::close(m_deviceFd);
    m_deviceFd = -1;
    if (m_fd < 0)
        return;
    // Remove the name only while it is still our file.
    struct stat ours
    {
    };
    struct stat named
    {
    };
    const QByteArray name = QFile::encodeName(m_path);
    if (::fstat(m_fd, &ours) == 0 && ::lstat(name.constData(), &named) == 0 &&
        ours.st_dev == named.st_dev && ours.st_ino == named.st_ino)
        ::unlink(name.constData());
    ::close(m_fd);
    m_fd = -1;
    m_path.clear();
}
