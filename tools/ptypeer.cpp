#include "ptypeer.h"

#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

using namespace peer;

namespace {

void warn(const std::string &what)
{
    std::fprintf(stderr, "quorpeer: %s: %s\n", what.c_str(), std::strerror(errno));
}

bool writeAll(int fd, const char *data, std::size_t n)
{
    while (n > 0) {
        ssize_t w = ::write(fd, data, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0)
            return false;
        data += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

// Where QSerialPort looks for the lock of a device: the first readable directory in its
// list that already has the file or lets us create it.
QString serialLockPath(const std::string &device)
{
    QString name = QString::fromLocal8Bit(device.c_str());
    if (name.startsWith(QLatin1String("/dev/")))
        name = name.mid(5);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    name.prepend(QLatin1String("/LCK.."));
    const QStringList dirs = {QStringLiteral("/var/lock"),
                              QStringLiteral("/etc/locks"),
                              QStringLiteral("/var/spool/locks"),
                              QStringLiteral("/var/spool/uucp"),
                              QStringLiteral("/tmp"),
                              QStringLiteral("/var/tmp"),
                              QStringLiteral("/var/lock/lockdev"),
                              QStringLiteral("/run/lock"),
                              QStandardPaths::writableLocation(QStandardPaths::TempLocation)};
    for (const QString &dir : dirs) {
        const QFileInfo info(dir);
        if (info.isReadable() && (QFileInfo::exists(dir + name) || info.isWritable()))
            return dir + name;
    }
    return {};
}

// What a UUCP-style lock of the chosen format holds.
std::string lockContent(const PeerOptions &opt)
{
    const int pid = opt.holdPid != 0 ? opt.holdPid : static_cast<int>(::getpid());
    char text[128] = {};
    if (opt.holdFormat == PeerOptions::LockFormat::Binary)
        return std::string(reinterpret_cast<const char *>(&pid), sizeof pid);
    if (opt.holdFormat == PeerOptions::LockFormat::Named) {
        const passwd *user = ::getpwuid(::geteuid());
        std::snprintf(text, sizeof text, "%10d quorpeer %s\n", pid, user ? user->pw_name : "?");
    } else {
        std::snprintf(text, sizeof text, "%10d\n", pid);
    }
    return text;
}

// Appears whole or not at all, and never replaces another's lock.
std::optional<HeldLockFile> writeLockFile(const std::string &path, const std::string &content)
{
    std::string temp = path + ".quorpeer-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        warn("lock " + path);
        return std::nullopt;
    }
    const bool written = writeAll(fd, content.data(), content.size()) && ::fchmod(fd, 0644) == 0;
    ::close(fd);
    const bool linked = written && ::link(temp.c_str(), path.c_str()) == 0;
    if (!linked)
        warn("cannot take lock " + path);
    ::unlink(temp.c_str());
    if (!linked)
        return std::nullopt;
    return HeldLockFile{path, content};
}

bool readSmallFile(const std::string &path, std::string &out)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    char buf[256];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    ::close(fd);
    if (n < 0)
        return false;
    out.assign(buf, static_cast<std::size_t>(n));
    return true;
}

} // namespace

int peer::msUntil(PeerClock::time_point now, PeerClock::time_point when)
{
    if (when <= now)
        return 0;
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(when - now).count();
    return static_cast<int>(std::min<long long>(ms, 60000));
}

std::size_t Pacer::allowance(PeerClock::time_point now)
{
    if (m_rate <= 0)
        return SIZE_MAX;
    if (now < m_due)
        return 0;
    if (m_piece > 0)
        return m_piece;
    const double window = 0.02; // at most 20 ms worth of bytes at once
    const double late = std::min(std::chrono::duration<double>(now - m_due).count(), window);
    return 1 + static_cast<std::size_t>(late * m_rate);
}

void Pacer::spent(std::size_t n, PeerClock::time_point now)
{
    if (m_rate <= 0 || n == 0)
        return;
    const auto window = std::chrono::milliseconds(20);
    if (m_due < now - window)
        m_due = now - window;
    m_due += std::chrono::duration_cast<PeerClock::duration>(
        std::chrono::duration<double>(static_cast<double>(n) / m_rate));
}

PtyPeer::PtyPeer(PeerOptions options)
    : m_opt(std::move(options)), m_writePacer(m_opt.rate, m_opt.piece), m_readPacer(m_opt.readRate),
      m_random(m_opt.seed)
{
}

PtyPeer::~PtyPeer()
{
    closeDevice();
    if (m_execMaster >= 0)
        ::close(m_execMaster); // the command's terminal hangs up
    endChild();
    if (m_fileFd >= 0)
        ::close(m_fileFd);
    if (m_recordFd >= 0)
        ::close(m_recordFd);
    if (m_signalFd >= 0)
        ::close(m_signalFd);
    if (m_opensFd >= 0)
        ::close(m_opensFd);
    if (m_opensRecordFd >= 0)
        ::close(m_opensRecordFd);
}

bool PtyPeer::openDevice()
{
    int slave = -1;
    char name[256] = {};
    if (::openpty(&m_master, &slave, name, nullptr, nullptr) < 0) {
        warn("openpty");
        return false;
    }
    termios tio{};
    if (::tcgetattr(slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(slave, TCSANOW, &tio);
    }
    // The program under test must be the only holder, so that its close shows as a hangup.
    ::close(slave);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    m_slavePath = name;
    m_held = false;
    if (m_opt.hold)
        holdLocks();
    if (!m_opt.holdLine.empty())
        holdLine();
    watchOpens();
    pointLink();
    std::printf("%s\n", m_slavePath.c_str());
    std::fflush(stdout);
    return true;
}

void PtyPeer::closeDevice()
{
    if (m_master < 0)
        return;
    ::close(m_master);
    m_master = -1;
    m_held = false;
    releaseLocks(); // the device is gone, and its lock with it
    m_pending.clear();
    m_pendingPos = 0;
    if (!m_opt.link.empty()) {
        char target[256] = {};
        ssize_t n = ::readlink(m_opt.link.c_str(), target, sizeof target - 1);
        if (n > 0 && m_slavePath == std::string(target, static_cast<std::size_t>(n)))
            ::unlink(m_opt.link.c_str());
    }
}

// What is counted is each open of the device while nobody had it open: a board resets then, and
// a program may open it twice over (a descriptor to check and lock, then the port's own).
void PtyPeer::watchOpens()
{
    if (m_opt.countOpens.empty())
        return;
    if (m_opensFd < 0)
        m_opensFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_opensRecordFd < 0)
        m_opensRecordFd =
            ::open(m_opt.countOpens.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (m_opensFd < 0 || m_opensRecordFd < 0 ||
        ::inotify_add_watch(m_opensFd, m_slavePath.c_str(), IN_OPEN | IN_CLOSE) < 0)
        warn("--count-opens");
}

void PtyPeer::readOpens()
{
    alignas(inotify_event) char buf[4096];
    ssize_t n = 0;
    while ((n = ::read(m_opensFd, buf, sizeof buf)) > 0) {
        for (ssize_t at = 0; at < n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buf + at);
            if ((event->mask & IN_OPEN) && m_openDescriptors++ == 0 &&
                !writeAll(m_opensRecordFd, "open\n", 5))
                warn("--count-opens");
            // Two like events in a row may come as one: the line's hangup settles the count.
            if ((event->mask & IN_CLOSE) && m_openDescriptors > 0)
                --m_openDescriptors;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

void PtyPeer::holdLocks()
{
    // Only the device's real name is locked: a program that opens it through a link must
    // resolve the link to find the lock, as every program sharing the device does.
    char real[PATH_MAX] = {};
    const std::string device = ::realpath(m_slavePath.c_str(), real) ? real : m_slavePath;
    const QString path = serialLockPath(device);
    if (m_opt.holdFormat == PeerOptions::LockFormat::Qt) {
        m_qtLock = std::make_unique<QLockFile>(path);
        if (path.isEmpty() || !m_qtLock->tryLock(0)) {
            std::fprintf(stderr, "quorpeer: cannot take lock %s\n", qPrintable(path));
            m_qtLock.reset();
        }
        m_deadlines.touchLocks = PeerClock::now() + LockTouchEvery;
    } else if (!path.isEmpty()) {
        m_lockFile = writeLockFile(path.toStdString(), lockContent(m_opt));
    }
    if (m_opt.holdFlock) {
        m_flockFd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_flockFd < 0 || ::flock(m_flockFd, LOCK_EX | LOCK_NB) < 0)
            warn("flock " + device);
    }
}

void PtyPeer::holdLine()
{
    m_lineFd = ::open(m_slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios tio{};
    if (m_lineFd < 0 || ::tcgetattr(m_lineFd, &tio) < 0) {
        warn("--hold-line " + m_slavePath);
        return;
    }
    // Settings no program under test would choose, so that any change of them shows.
    ::cfsetspeed(&tio, B2400);
    tio.c_cflag = (tio.c_cflag & ~(CSIZE | PARODD | CSTOPB)) | CS7 | PARENB | CREAD | CLOCAL;
    tio.c_lflag |= ICANON | ECHO | ECHOE | ISIG;
    tio.c_iflag |= ICRNL | IXON;
    tio.c_oflag |= OPOST | ONLCR;
    tio.c_cc[VMIN] = 3;
    tio.c_cc[VTIME] = 7;
    if (::tcsetattr(m_lineFd, TCSANOW, &tio) < 0)
        warn("--hold-line termios");
    if (m_opt.holdLine.find("flock") != std::string::npos &&
        ::flock(m_lineFd, LOCK_EX | LOCK_NB) < 0)
        warn("--hold-line flock");
    if (m_opt.holdLine.find("excl") != std::string::npos && ::ioctl(m_lineFd, TIOCEXCL) < 0)
        warn("--hold-line TIOCEXCL");
}

void PtyPeer::reportLine() const
{
    termios tio{};
    int exclusive = -1;
    if (m_lineFd < 0 || ::tcgetattr(m_lineFd, &tio) < 0 ||
        ::ioctl(m_lineFd, TIOCGEXCL, &exclusive) < 0) {
        std::printf("line unknown\n");
        std::fflush(stdout);
        return;
    }
    std::string cc;
    for (const cc_t c : tio.c_cc) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned>(c));
        cc += hex;
    }
    std::printf("line speed=%o iflag=%o oflag=%o cflag=%o lflag=%o cc=%s excl=%d\n",
                static_cast<unsigned>(::cfgetospeed(&tio)), static_cast<unsigned>(tio.c_iflag),
                static_cast<unsigned>(tio.c_oflag), static_cast<unsigned>(tio.c_cflag),
                static_cast<unsigned>(tio.c_lflag), cc.c_str(), exclusive);
    std::fflush(stdout);
}

void PtyPeer::releaseLocks()
{
    m_qtLock.reset();
    m_deadlines.touchLocks.reset();
    if (m_lockFile) {
        // Another program may have replaced a lock it judged stale: leave that one alone.
        std::string now;
        if (readSmallFile(m_lockFile->path, now) && now == m_lockFile->content)
            ::unlink(m_lockFile->path.c_str());
        m_lockFile.reset();
    }
    if (m_flockFd >= 0)
        ::close(m_flockFd);
    m_flockFd = -1;
    if (m_lineFd >= 0)
        ::close(m_lineFd);
    m_lineFd = -1;
}

void PtyPeer::pointLink()
{
    if (m_opt.link.empty())
        return;
    // Replace atomically, so a program never finds the name missing halfway.
    const std::string temp = m_opt.link + ".quorpeer-new";
    ::unlink(temp.c_str());
    if (::symlink(m_slavePath.c_str(), temp.c_str()) < 0 ||
        ::rename(temp.c_str(), m_opt.link.c_str()) < 0)
        warn("link " + m_opt.link);
}

void PtyPeer::probeMaster()
{
    pollfd p{m_master, POLLIN, 0};
    if (::poll(&p, 1, 0) < 0)
        return;
    const bool held = !(p.revents & POLLHUP);
    if (held && !m_held && m_opt.waitOpen && !m_scriptStarted && !m_deadlines.scriptStart)
        m_deadlines.scriptStart = PeerClock::now() + std::chrono::milliseconds(m_opt.delayMs);
    if (!held && m_held)
        readMaster(PeerClock::now()); // what the program wrote just before it let go
    if (!held)
        m_openDescriptors = 0;
    m_held = held;
}

void PtyPeer::readMaster(PeerClock::time_point now)
{
    char buf[ChunkSize];
    while (m_master >= 0 && m_pending.size() - m_pendingPos < PendingLimit &&
           m_toShell.size() < PendingLimit) {
        const std::size_t room = std::min(sizeof buf, m_readPacer.allowance(now));
        if (room == 0)
            return;
        ssize_t n = ::read(m_master, buf, room);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0 || errno == EIO)
                m_held = false;
            return;
        }
        m_readPacer.spent(static_cast<std::size_t>(n), now);
        received(buf, static_cast<std::size_t>(n));
    }
}

void PtyPeer::received(const char *data, std::size_t n)
{
    if (m_recordFd >= 0 && !writeAll(m_recordFd, data, n))
        warn("record");
    if (m_opt.echo || m_opt.demo)
        m_pending.append(data, n);
    if (m_execMaster >= 0 && !m_execEnded)
        m_toShell.append(data, n);
    if (!m_opt.demo)
        return;
    for (std::size_t i = 0; i < n; ++i) {
        if (data[i] == '\r') {
            m_pending += "\r\nquorpeer demo heard: \"" + m_demoLine + "\"\r\n";
            m_demoLine.clear();
        } else if (data[i] >= ' ' && data[i] < 127 && m_demoLine.size() < 200) {
            m_demoLine += data[i];
        }
    }
}

void PtyPeer::writeMaster(PeerClock::time_point now)
{
    while (m_master >= 0 && m_held) {
        if (m_scriptStarted)
            fillPending();
        if (m_pendingPos >= m_pending.size())
            break;
        const std::size_t n =
            std::min({m_pending.size() - m_pendingPos, m_writePacer.allowance(now), ChunkSize});
        if (n == 0)
            return;
        ssize_t w = ::write(m_master, m_pending.data() + m_pendingPos, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0) {
            if (errno == EIO)
                m_held = false;
            else if (errno != EAGAIN)
                warn("write");
            return;
        }
        m_pendingPos += static_cast<std::size_t>(w);
        m_writePacer.spent(static_cast<std::size_t>(w), now);
    }
    if (m_pendingPos == m_pending.size()) {
        m_pending.clear();
        m_pendingPos = 0;
    }
}
