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

void PortDrain::limit(qint64 ms)
{
    const QDeadlineTimer wanted(qMax<qint64>(0, ms));
    if (wanted < m_budget)
        m_budget = wanted;
    if (m_loop != nullptr)
        step();
}

// Runs on every sign of the device (and on a tick, as the kernel says nothing when its queue
// empties), also while a modal window has an event loop of its own above the drain's: the rest
// is dropped in time even then, and the close follows once that window is closed.
void PortDrain::step()
{
    if (!m_waiting)
        return;
    const qint64 now = pending();
    if (now < m_last)
        m_sinceLeft.restart();
    m_last = now;
    const DrainStep next =
        failed() ? DrainStep::DropRest
                 : nextDrainStep(now, m_sinceLeft.elapsed(), m_budget.remainingTime());
    if (next == DrainStep::Wait)
        return;
    m_waiting = false;
    if (m_port.error() == QSerialPort::TimeoutError)
        m_port.clearError(); // a blocking wait that saw nothing leave: no fault of the device
    if (next == DrainStep::DropRest) {
        m_dropped = now;
        // Throw away what is left, so that the close itself does not wait for it. Only a queue
        // the kernel counts is flushed: on a pty that would also discard what the far end
        // already has waiting to be read.
        m_port.clear(QSerialPort::Output);
        if (kernelQueued(m_fd) > 0)
            ::tcflush(m_fd, TCOFLUSH);
    } else {
        ::tcdrain(m_fd);
    }
    if (m_loop != nullptr) {
        m_ended = true;
        m_loop->quit();
    }
}

qint64 PortDrain::run()
{
    QEventLoop loop;
    QObject::connect(&m_port, &QSerialPort::bytesWritten, &loop, [this] { step(); });
    QObject::connect(&m_port, &QSerialPort::errorOccurred, &loop, [this] { step(); });
    QTimer tick;
    tick.setInterval(KernelQueuePollMs);
    QObject::connect(&tick, &QTimer::timeout, &loop, [this] { step(); });
    m_sinceLeft.start();
    m_last = pending();
    step();
    if (m_waiting)
        tick.start();
    m_loop = &loop;
    bool loopRuns = true;
    while (m_waiting) {
        if (loopRuns) {
            m_ended = false;
            loop.exec();
            // A loop that returns with the drain still waiting was told to end: the program
            // quits, and from now on every event loop returns at once. Wait a moment more,
            // without one.
            if (!m_ended) {
                loopRuns = false;
                limit(QuitDrainMs);
            }
        } else {
            if (m_port.bytesToWrite() > 0)
                m_port.waitForBytesWritten(KernelQueuePollMs);
            else
                QThread::msleep(KernelQueuePollMs);
            step();
        }
    }
    m_loop = nullptr;
    return m_dropped;
}
