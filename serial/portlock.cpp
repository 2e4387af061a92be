#include "serial/portlock.h"

#include "base/failure.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>

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
    const QString name = processName(pid);
    return name.isEmpty() ? QStringLiteral("process %1").arg(pid)
                          : QStringLiteral("process %1 (%2)").arg(pid).arg(name);
}

} // namespace portlock

namespace {

// What a lock file found in place says.
struct FoundLock
{
    enum class Kind { Gone, Dead, Alive, Unreadable } kind = Kind::Gone;
    pid_t pid = 0;
    QString why; // for Unreadable
    dev_t dev = 0;
    ino_t ino = 0;
};

FoundLock inspect(const QString &path)
{
    FoundLock found;
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return found;
        found.kind = FoundLock::Kind::Unreadable;
        found.why = errno == ELOOP ? QStringLiteral("it is a symbolic link")
                                   : QStringLiteral("it cannot be read: %1")
                                         .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return found;
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
    if (n < 0) {
        found.kind = FoundLock::Kind::Unreadable;
        found.why = QStringLiteral("it cannot be read: %1")
                        .arg(QString::fromLocal8Bit(std::strerror(readError)));
        return found;
    }
    const auto pid = portlock::lockPid(QByteArrayView(buf, n));
    if (!pid) {
        found.kind = FoundLock::Kind::Unreadable;
        found.why = QStringLiteral("it names no process");
        return found;
    }
    found.pid = *pid;
    found.kind = portlock::processAlive(*pid) ? FoundLock::Kind::Alive : FoundLock::Kind::Dead;
    return found;
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

} // namespace

void PortLock::acquire(const QString &canonicalDevice, const QString &shown,
                       const QString &directory)
{
    release();
    // Without a lock directory we can write, the flock on the device still guards the line.
    if (::access(QFile::encodeName(directory).constData(), W_OK | X_OK) != 0)
        return;
    const QString path = directory + u'/' + portlock::lockName(canonicalDevice);
    const QByteArray name = QFile::encodeName(path);
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int fd =
            ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0) {
            const QByteArray text = QByteArray::number(::getpid()).rightJustified(10, ' ') + '\n';
            if (::write(fd, text.constData(), size_t(text.size())) != text.size()) {
                ::close(fd);
                ::unlink(name.constData());
                throw Failure(
                    QStringLiteral("%1: the lock file %2 cannot be written").arg(shown, path));
            }
            ::flock(fd, LOCK_EX | LOCK_NB);
            m_fd = fd;
            m_path = path;
            return;
        }
        if (errno != EEXIST)
            throw Failure(QStringLiteral("%1: the lock file %2 cannot be made: %3")
                              .arg(shown, path, QString::fromLocal8Bit(std::strerror(errno))));
        const FoundLock found = inspect(path);
        switch (found.kind) {
        case FoundLock::Kind::Alive:
            throw Failure(QStringLiteral("%1: in use by %2 (lock file %3)")
                              .arg(shown, portlock::describeProcess(found.pid), path));
        case FoundLock::Kind::Unreadable:
            // It may be another program's lock being written, or a form we do not know.
            throw Failure(
                QStringLiteral(
                    "%1: locked by %2, but %3; remove that file if no program uses the device")
                    .arg(shown, path, found.why));
        case FoundLock::Kind::Dead:
            removeIfSame(path, found);
            break;
        case FoundLock::Kind::Gone:
            break;
        }
    }
    throw Failure(QStringLiteral("%1: its lock file %2 keeps changing").arg(shown, path));
}

void PortLock::release()
{
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
