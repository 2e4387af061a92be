#include "terminal/capturelog.h"

#include "base/failure.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>

#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Why a path that exists cannot be a log, or empty.
QString refusal(const struct stat &st)
{
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("it is a folder");
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("it is a device or a FIFO, not a file");
    return {};
}

} // namespace

CaptureLog::CaptureLog(LogForm form, QObject *parent) : QObject(parent), m_form(form)
{
    // Twice a second, so that no byte waits in memory longer than a second.
    m_flushTimer.setInterval(500);
    connect(&m_flushTimer, &QTimer::timeout, this, &CaptureLog::flush);
    // Quitting, a signal's quit too, leaves the event loop before the windows go.
    if (auto *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &CaptureLog::flush);
}

CaptureLog::~CaptureLog()
{
    if (m_fd < 0)
        return;
    m_stamped.endLine(m_buffer);
    flush();
    // Nobody is left to be told of a failure here.
    endWriter();
    ::close(m_fd);
}

QString CaptureLog::stoppedText(const QString &path, const QString &reason)
{
    return QStringLiteral("Logging to %1 stopped: %2").arg(path, reason);
}

bool CaptureLog::start(const QString &path)
{
    stop();
    m_path = path;
    const QByteArray name = QFile::encodeName(path);
    struct stat st
    {
    };
    if (path.isEmpty()) {
        fail(QStringLiteral("no file name"));
        return false;
    }
    if (::stat(name.constData(), &st) == 0 && !refusal(st).isEmpty()) {
        fail(refusal(st));
        return false;
    }
    // Not blocking, so that a FIFO put there meanwhile cannot hang the window; it is refused below.
    const int fd = ::open(name.constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    if (fd < 0) {
        fail(errnoText(errno));
        return false;
    }
    if (::fstat(fd, &st) != 0 || !refusal(st).isEmpty()) {
        const QString reason = refusal(st);
        ::close(fd);
        fail(reason.isEmpty() ? errnoText(errno) : reason);
        return false;
    }
    m_fd = fd;
    m_stamped = StampedForm();
    m_ending = false;
    m_writeError = 0;
    m_writer = std::thread(&CaptureLog::writeLoop, this, fd, ++m_generation);
    m_flushTimer.start();
    return true;
}

void CaptureLog::stop()
{
    if (m_fd < 0)
        return;
    m_stamped.endLine(m_buffer);
    flush();
    const int error = endWriter();
    ::close(m_fd);
    m_fd = -1;
    if (error != 0)
        emit stopped(stoppedText(m_path, errnoText(error)));
}

void CaptureLog::flush()
{
    if (m_fd < 0)
        return;
    m_stamped.endIdleLine(QDateTime::currentMSecsSinceEpoch(), m_buffer);
    if (m_buffer.isEmpty())
        return;
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_pending.size() < Behind || m_writeError != 0; });
        if (m_pending.isEmpty())
            m_pending.swap(m_buffer);
        else
            m_pending.append(m_buffer);
    }
    m_buffer.resize(0); // keeps its room for the next bytes
    m_changed.notify_all();
}

// The writing thread: writes what is handed to it until told to end or the file fails.
void CaptureLog::writeLoop(int fd, quint64 generation)
{
    QByteArray out;
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return m_ending || !m_pending.isEmpty(); });
            if (m_pending.isEmpty())
                return; // ending, and all is written
            out.swap(m_pending);
            m_pending.resize(0);
        }
        m_changed.notify_all();
        for (qsizetype done = 0; done < out.size();) {
            const ssize_t n = ::write(fd, out.constData() + done, size_t(out.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                const int error = n == 0 ? ENOSPC : errno;
                {
                    const std::lock_guard lock(m_mutex);
                    m_writeError = error;
                    m_pending.clear();
                }
                m_changed.notify_all();
                QMetaObject::invokeMethod(
                    this, [this, generation] { writerFailed(generation); }, Qt::QueuedConnection);
                return;
            }
            done += n;
        }
        out.resize(0);
    }
}

// Ends the writing thread once it has written what it was given; its error, or 0.
int CaptureLog::endWriter()
{
    m_flushTimer.stop();
    {
        const std::lock_guard lock(m_mutex);
        m_ending = true;
    }
    m_changed.notify_all();
    if (m_writer.joinable())
        m_writer.join();
    m_buffer.clear();
    const std::lock_guard lock(m_mutex);
    m_pending.clear();
    return std::exchange(m_writeError, 0);
}

void CaptureLog::writerFailed(quint64 generation)
{
    // The log may have been stopped, and told so, or started anew since.
    if (m_fd < 0 || generation != m_generation)
        return;
    const int error = endWriter();
    ::close(m_fd);
    m_fd = -1;
    emit stopped(stoppedText(m_path, errnoText(error != 0 ? error : EIO)));
}

void CaptureLog::fail(const QString &reason)
{
    m_buffer.clear();
    emit stopped(stoppedText(m_path, reason));
}
