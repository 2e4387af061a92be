#include "terminal/capturelog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

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
    // Nobody is left to be told of a failure here.
    [[maybe_unused]] const int error = writeOut();
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
        fail(systemError(errno));
        return false;
    }
    if (::fstat(fd, &st) != 0 || !refusal(st).isEmpty()) {
        const QString reason = refusal(st);
        ::close(fd);
        fail(reason.isEmpty() ? systemError(errno) : reason);
        return false;
    }
    m_fd = fd;
    m_stamped = StampedForm();
    m_flushTimer.start();
    return true;
}

void CaptureLog::stop()
{
    if (m_fd < 0)
        return;
    m_stamped.endLine(m_buffer);
    const int error = writeOut();
    m_flushTimer.stop();
    ::close(m_fd);
    m_fd = -1;
    m_buffer.clear();
    if (error != 0)
        emit stopped(stoppedText(m_path, systemError(error)));
}

void CaptureLog::flush()
{
    if (m_fd < 0)
        return;
    m_stamped.endIdleLine(QDateTime::currentMSecsSinceEpoch(), m_buffer);
    if (const int error = writeOut(); error != 0)
        fail(systemError(error));
}

// Writes the whole buffer; the error number when the file did not take it all, else 0.
int CaptureLog::writeOut()
{
    qsizetype done = 0;
    while (done < m_buffer.size()) {
        const ssize_t n =
            ::write(m_fd, m_buffer.constData() + done, size_t(m_buffer.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n == 0 ? ENOSPC : errno;
        done += n;
    }
    m_buffer.resize(0); // keeps its room for the next second's bytes
    return 0;
}

void CaptureLog::fail(const QString &reason)
{
    if (m_fd >= 0) {
        m_flushTimer.stop();
        ::close(m_fd);
        m_fd = -1;
    }
    m_buffer.clear();
    emit stopped(stoppedText(m_path, reason));
}
