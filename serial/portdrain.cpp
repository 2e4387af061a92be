#include "serial/portdrain.h"

#include <QEventLoop>
#include <QSerialPort>
#include <QThread>
#include <QTimer>

#include <sys/ioctl.h>
#include <termios.h>

namespace {

constexpr int KernelQueuePollMs = 20; // the kernel says nothing when its queue empties

qint64 kernelQueued(int fd)
{
    int queued = 0;
    return ::ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0 ? queued : 0;
}

} // namespace

DrainStep nextDrainStep(qint64 pendingBytes, qint64 msSinceLastByteLeft, qint64 msLeftOfBudget)
{
    if (pendingBytes <= 0)
        return DrainStep::Done;
    if (msLeftOfBudget == 0 || msSinceLastByteLeft >= DrainStallMs)
        return DrainStep::DropRest;
    return DrainStep::Wait;
}

PortDrain::PortDrain(QSerialPort &port) : m_port(port), m_fd(int(port.handle())) {}

qint64 PortDrain::pending() const
{
    return m_port.bytesToWrite() + kernelQueued(m_fd);
}

bool PortDrain::failed() const
{
    const auto error = m_port.error();
    return error == QSerialPort::WriteError || error == QSerialPort::ReadError ||
           error == QSerialPort::ResourceError;
}

void PortDrain::wake()
{
    m_woken = true;
    if (m_loop != nullptr)
        m_loop->quit();
}

void PortDrain::limit(qint64 ms)
{
    const QDeadlineTimer wanted(qMax<qint64>(0, ms));
    if (wanted < m_budget)
        m_budget = wanted;
    wake();
}

qint64 PortDrain::run()
{
    QEventLoop loop;
    QObject::connect(&m_port, &QSerialPort::bytesWritten, &loop, [this] { wake(); });
    QObject::connect(&m_port, &QSerialPort::errorOccurred, &loop, [this] { wake(); });
    QTimer tick;
    tick.setInterval(KernelQueuePollMs);
    QObject::connect(&tick, &QTimer::timeout, &loop, [this] { wake(); });
    tick.start();
    m_loop = &loop;
    bool loopRuns = true;
    m_sinceLeft.start();
    m_last = pending();
    for (;;) {
        const qint64 now = pending();
        if (now < m_last)
            m_sinceLeft.restart();
        m_last = now;
        const DrainStep step =
            failed() ? DrainStep::DropRest
                     : nextDrainStep(now, m_sinceLeft.elapsed(), m_budget.remainingTime());
        if (step != DrainStep::Wait)
            break;
        if (loopRuns) {
            m_woken = false;
            loop.exec();
            // A loop that returns unwoken was told to end: the program quits, and from now on
            // every event loop returns at once. Wait a moment more, without one.
            if (!m_woken) {
                loopRuns = false;
                limit(QuitDrainMs);
            }
        } else if (m_port.bytesToWrite() > 0) {
            m_port.waitForBytesWritten(KernelQueuePollMs);
        } else {
            QThread::msleep(KernelQueuePollMs);
        }
    }
    m_loop = nullptr;
    m_waiting = false;
    if (m_port.error() == QSerialPort::TimeoutError)
        m_port.clearError(); // a blocking wait that saw nothing leave: no fault of the device
    const qint64 dropped = pending();
    if (dropped > 0) {
        // Throw away what is left, so that the close itself does not wait for it. Only a queue
        // the kernel counts is flushed: on a pty that would also discard what the far end
        // already has waiting to be read.
        m_port.clear(QSerialPort::Output);
        if (kernelQueued(m_fd) > 0)
            ::tcflush(m_fd, TCOFLUSH);
        return dropped;
    }
    ::tcdrain(m_fd);
    return 0;
}
