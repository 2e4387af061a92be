// What the peer sends, the shell it may relay to, and its main loop.
#include "ptypeer.h"

#include <QLockFile>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace peer;

namespace {

// When the unread count cannot be had, a guess that gives a busy reader time.
constexpr auto UnknownDrainWait = std::chrono::milliseconds(1000);
constexpr auto SettledDrainWait = std::chrono::milliseconds(50);
// How long a command has to end after its terminal hangs up and it is asked to terminate.
constexpr auto ChildGrace = std::chrono::seconds(2);

PeerClock::time_point after(PeerClock::time_point from, int ms)
{
    return from + std::chrono::milliseconds(ms);
}

} // namespace

bool PtyPeer::nextChunk(std::string &out)
{
    while (m_item < m_opt.sends.size()) {
        const SendItem &item = m_opt.sends[m_item];
        if (item.kind == SendItem::Kind::Bytes) {
            out += item.bytes;
            ++m_item;
            return true;
        }
        if (item.kind == SendItem::Kind::File) {
            if (m_fileFd < 0)
                m_fileFd = ::open(item.path.c_str(), O_RDONLY | O_CLOEXEC);
            char buf[ChunkSize];
            ssize_t n = m_fileFd < 0 ? -1 : ::read(m_fileFd, buf, sizeof buf);
            if (n < 0 && errno == EINTR)
                continue;
            if (n > 0) {
                out.append(buf, static_cast<std::size_t>(n));
                return true;
            }
            if (n < 0)
                std::fprintf(stderr, "quorpeer: %s: %s\n", item.path.c_str(), std::strerror(errno));
            if (m_fileFd >= 0)
                ::close(m_fileFd);
            m_fileFd = -1;
            ++m_item;
            continue;
        }
        static const std::string line =
            "The quick brown fox jumps over the lazy dog 0123456789 ~!@#$%^&*()\r\n";
        const std::uint64_t n = std::min<std::uint64_t>(item.count - m_itemDone, ChunkSize);
        for (std::uint64_t i = m_itemDone; i < m_itemDone + n; ++i) {
            switch (item.pattern) {
            case SendItem::Pattern::Random:
                out += static_cast<char>(m_random() & 0xff);
                break;
            case SendItem::Pattern::Text:
                out += line[i % line.size()];
                break;
            case SendItem::Pattern::All256:
                out += static_cast<char>(i & 0xff);
                break;
            }
        }
        m_itemDone += n;
        if (m_itemDone >= item.count) {
            ++m_item;
            m_itemDone = 0;
        }
        if (n > 0)
            return true;
    }
    return false;
}

void PtyPeer::fillPending()
{
    if (m_pending.size() - m_pendingPos >= ChunkSize)
        return;
    m_pending.erase(0, m_pendingPos);
    m_pendingPos = 0;
    while (m_pending.size() < ChunkSize && nextChunk(m_pending)) {
    }
}

bool PtyPeer::sendingDone() const
{
    return m_item >= m_opt.sends.size() && m_pendingPos >= m_pending.size() &&
           (m_opt.exec.empty() || m_execEnded);
}

long PtyPeer::slaveUnread() const
{
    // A short extra open of the slave, only to ask how much the program has not read yet.
    const int fd = ::open(m_slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    // Bytes written to the master reach the slave's queue later, from a kernel worker that a
    // busy machine can hold up for many milliseconds, and the count leaves them out until then.
    // A poll of the slave waits for that hand-over, so the count includes all that was written.
    pollfd p{fd, POLLIN, 0};
    ::poll(&p, 1, 0);
    int n = -1;
    if (::ioctl(fd, FIONREAD, &n) < 0)
        n = -1;
    ::close(fd);
    return n;
}

bool PtyPeer::startExec()
{
    int slave = -1;
    if (::openpty(&m_execMaster, &slave, nullptr, nullptr, nullptr) < 0) {
        std::fprintf(stderr, "quorpeer: openpty for --exec: %s\n", std::strerror(errno));
        return false;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::signal(SIGPIPE, SIG_DFL);
        ::setsid();
        ::ioctl(slave, TIOCSCTTY, 0);
        ::dup2(slave, 0);
        ::dup2(slave, 1);
        ::dup2(slave, 2);
        if (slave > 2)
            ::close(slave);
        ::close(m_execMaster);
        ::execl("/bin/sh", "sh", "-c", m_opt.exec.c_str(), static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(slave);
    if (pid < 0) {
        std::fprintf(stderr, "quorpeer: fork: %s\n", std::strerror(errno));
        ::close(m_execMaster);
        m_execMaster = -1;
        return false;
    }
    m_childPid = pid;
    ::fcntl(m_execMaster, F_SETFL, ::fcntl(m_execMaster, F_GETFL) | O_NONBLOCK);
    ::fcntl(m_execMaster, F_SETFD, FD_CLOEXEC);
    return true;
}

void PtyPeer::readExec()
{
    char buf[ChunkSize];
    while (m_execMaster >= 0 && m_pending.size() - m_pendingPos < PendingLimit) {
        ssize_t n = ::read(m_execMaster, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n > 0) {
            m_pending.append(buf, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EAGAIN)
            return;
        // EIO: the command and everything it started have let go of their terminal.
        ::close(m_execMaster);
        m_execMaster = -1;
        m_execEnded = true;
        m_toShell.clear();
        return;
    }
}

void PtyPeer::writeExec()
{
    while (m_execMaster >= 0 && !m_toShell.empty()) {
        ssize_t w = ::write(m_execMaster, m_toShell.data(), m_toShell.size());
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return;
        m_toShell.erase(0, static_cast<std::size_t>(w));
    }
}

void PtyPeer::reapChild()
{
    // Only noted: the zombie keeps its process group's id from being given to anyone else.
    siginfo_t info{};
    while (m_childPid > 0 && !m_childEnded) {
        if (::waitid(P_PID, static_cast<id_t>(m_childPid), &info, WEXITED | WNOHANG | WNOWAIT) <
            0) {
            if (errno == EINTR)
                continue;
            m_childEnded = true; // not ours to wait for any more
            return;
        }
        m_childEnded = info.si_pid == m_childPid;
        return;
    }
}

void PtyPeer::endChild()
{
    if (m_childPid <= 0)
        return;
    // Its terminal has hung up by now; a command that ignores that and TERM is killed, with
    // everything it started on that terminal, and reaped.
    ::kill(-m_childPid, SIGTERM);
    const auto giveUp = PeerClock::now() + ChildGrace;
    reapChild();
    while (!m_childEnded && PeerClock::now() < giveUp) {
        pollfd p{m_signalFd, POLLIN, 0};
        if (m_signalFd < 0 || ::poll(&p, 1, msUntil(PeerClock::now(), giveUp)) < 0)
            break;
        signalfd_siginfo info{};
        while (::read(m_signalFd, &info, sizeof info) == sizeof info) {
        }
        reapChild();
    }
    ::kill(-m_childPid, SIGKILL);
    while (::waitpid(m_childPid, nullptr, 0) < 0 && errno == EINTR) {
    }
    m_childPid = -1;
}

void PtyPeer::handleSignals()
{
    signalfd_siginfo info{};
    while (::read(m_signalFd, &info, sizeof info) == sizeof info) {
        if (info.ssi_signo == SIGCHLD)
            reapChild();
        else if (info.ssi_signo == SIGUSR1)
            reportLine();
        else
            m_quit = true;
    }
}

int PeerDeadlines::timeoutMs(PeerClock::time_point now) const
{
    std::optional<PeerClock::time_point> next;
    for (const auto &when :
         {exit, hangup, reopen, touchLocks, scriptStart, pacedRead, pacedWrite, lookAgain}) {
        if (when && (!next || *when < *next))
            next = when;
    }
    return next ? msUntil(now, *next) : -1;
}

int PtyPeer::run()
{
    const pid_t parent = ::getppid();
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent)
        return 0; // the parent went away before we could watch it
    ::signal(SIGPIPE, SIG_IGN);
    sigset_t mask;
    sigemptyset(&mask);
    for (int s : {SIGTERM, SIGINT, SIGHUP, SIGCHLD, SIGUSR1})
        sigaddset(&mask, s);
    ::sigprocmask(SIG_BLOCK, &mask, nullptr);
    m_signalFd = ::signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC);

    if (!m_opt.record.empty()) {
        m_recordFd = ::open(m_opt.record.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (m_recordFd < 0) {
            std::fprintf(stderr, "quorpeer: %s: %s\n", m_opt.record.c_str(), std::strerror(errno));
            return 1;
        }
    }
    m_start = PeerClock::now();
    PeerDeadlines &due = m_deadlines;
    if (!m_opt.waitOpen)
        due.scriptStart = after(m_start, m_opt.delayMs);
    if (m_opt.exitAfterMs >= 0)
        due.exit = after(m_start, m_opt.exitAfterMs);
    if (m_opt.hangupAfterMs >= 0)
        due.hangup = after(m_start, m_opt.hangupAfterMs);
    if (!openDevice())
        return 1;

    // The loop's work is a function of its own: clang-tidy's check of optional access takes
    // seconds over a loop that reads this many of them.
    for (;;) {
        if (m_quit)
            return 0;
        const PeerStep step = turn();
        if (step != PeerStep::Continue)
            return step == PeerStep::Fail ? 1 : 0;
    }
}

// One turn of the loop: act on what is due, then wait in poll() for what comes next.
PtyPeer::PeerStep PtyPeer::turn()
{
    const auto now = PeerClock::now();
    PeerDeadlines &due = m_deadlines;
    const bool stdinOpen = m_opt.stdinEofExits;
    if (due.exit && now >= *due.exit)
        return PeerStep::Finish;
    if (due.hangup && now >= *due.hangup) {
        closeDevice();
        due.hangup.reset();
        if (m_opt.reopenAfterMs >= 0)
            due.reopen = after(now, m_opt.reopenAfterMs);
    }
    if (due.reopen && now >= *due.reopen) {
        due.reopen.reset();
        if (!openDevice())
            return PeerStep::Fail;
    }
    if (due.touchLocks && now >= *due.touchLocks) {
        // A lock file older than QLockFile's stale time would invite others to take it.
        if (m_qtLock)
            ::utimensat(AT_FDCWD, m_qtLock->fileName().toLocal8Bit().constData(), nullptr, 0);
        due.touchLocks = now + LockTouchEvery;
    }
    if (m_master >= 0)
        probeMaster();
    if (due.scriptStart && now >= *due.scriptStart) {
        due.scriptStart.reset();
        m_scriptStarted = true;
        if (!m_opt.exec.empty() && !startExec())
            m_execEnded = true;
    }
    if (m_scriptStarted)
        fillPending();
    if (m_master >= 0) {
        readMaster(now); // held, or what a paced read had left when the program let go
        if (m_held)
            writeMaster(now);
    }
    readExec();
    writeExec();

    due.lookAgain.reset();
    if (m_opt.exitAfterSend && m_scriptStarted && sendingDone()) {
        // Closing the master discards what the program has not read yet: wait for it.
        // The count must stay at zero for a moment; when it cannot be had, wait longer.
        const long unread = m_held ? slaveUnread() : 0;
        if (!m_done || unread > 0)
            m_doneSince = now;
        m_done = true;
        if (now - m_doneSince >= (unread < 0 ? UnknownDrainWait : SettledDrainWait))
            return PeerStep::Finish;
        due.lookAgain = now + IdleLook;
    } else {
        m_done = false;
    }

    // Each descriptor is watched only for what the loop can act on now: one whose events
    // would all be ignored is left out, because poll() reports a hangup regardless.
    const bool roomToRead =
        m_pending.size() - m_pendingPos < PendingLimit && m_toShell.size() < PendingLimit;
    due.pacedRead.reset();
    due.pacedWrite.reset();
    short masterEvents = 0;
    if (m_master >= 0 && m_held) {
        if (roomToRead) {
            if (m_readPacer.allowance(now) > 0)
                masterEvents |= POLLIN;
            else
                due.pacedRead = m_readPacer.due();
        }
        if (m_pendingPos < m_pending.size()) {
            if (m_writePacer.allowance(now) > 0)
                masterEvents |= POLLOUT;
            else
                due.pacedWrite = m_writePacer.due();
        }
    } else if (m_master >= 0) {
        due.lookAgain = now + IdleLook;
    }
    short execEvents = 0;
    if (m_execMaster >= 0) {
        if (!m_toShell.empty())
            execEvents |= POLLOUT;
        if (m_pending.size() - m_pendingPos < PendingLimit)
            execEvents |= POLLIN;
    }

    pollfd fds[5] = {{m_signalFd, POLLIN, 0},
                     {stdinOpen ? 0 : -1, POLLIN, 0},
                     {masterEvents ? m_master : -1, masterEvents, 0},
                     {execEvents ? m_execMaster : -1, execEvents, 0},
                     {m_opensFd, POLLIN, 0}};
    if (::poll(fds, 5, due.timeoutMs(now)) < 0 && errno != EINTR)
        return PeerStep::Fail;
    if (fds[0].revents)
        handleSignals();
    if (fds[4].revents)
        readOpens();
    if (stdinOpen && fds[1].revents) {
        char buf[ChunkSize];
        const ssize_t n = ::read(0, buf, sizeof buf);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
            m_quit = true;
    }
    return PeerStep::Continue;
}
