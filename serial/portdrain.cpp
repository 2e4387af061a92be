#include "serial/portdrain.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QSerialPort>
#include <QTimer>

#include <sys/ioctl.h>
#include <termios.h>

namespace {

constexpr qint64 MarginMs = 2000;
constexpr int KernelQueuePollMs = 20; // the kernel says nothing when its queue empties

qint64 kernelQueued(int fd)
{
    int queued = 0;
    return ::ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0 ? queued : 0;
}

} // namespace

qint64 drainBoundMs(qint64 bytes, qint64 bitsPerSecond, int bitsPerByte)
{
    if (bitsPerSecond <= 0)
        return MarginMs;
    return bytes * bitsPerByte * 1000 / bitsPerSecond + MarginMs;
}

qint64 drainBeforeClose(QSerialPort &port, qint64 bitsPerSecond, int bitsPerByte)
{
    const int fd = int(port.handle());
    const auto pending = [&port, fd] { return port.bytesToWrite() + kernelQueued(fd); };
    const qint64 queued = pending();
    if (queued > 0) {
        const QDeadlineTimer deadline(drainBoundMs(queued, bitsPerSecond, bitsPerByte));
        QEventLoop loop;
        bool woken = false;
        const auto wake = [&loop, &woken] {
            woken = true;
            loop.quit();
        };
        QObject::connect(&port, &QSerialPort::bytesWritten, &loop, wake);
        QObject::connect(&port, &QSerialPort::errorOccurred, &loop, wake);
        QTimer tick;
        tick.setInterval(KernelQueuePollMs);
        QObject::connect(&tick, &QTimer::timeout, &loop, wake);
        tick.start();
        while (pending() > 0 && !deadline.hasExpired() && port.error() == QSerialPort::NoError) {
            woken = false;
            loop.exec(QEventLoop::ExcludeUserInputEvents);
            // A loop that returns unwoken was told to end (the program quits): stop waiting.
            if (!woken)
                break;
        }
    }
    const qint64 dropped = pending();
    if (dropped > 0) {
        // Throw away what is left, so that the close itself does not wait for it. Only a queue
        // the kernel counts is flushed: on a pty that would also discard what the far end
        // already has waiting to be read.
        port.clear(QSerialPort::Output);
        if (kernelQueued(fd) > 0)
            ::tcflush(fd, TCOFLUSH);
        return dropped;
    }
    ::tcdrain(fd);
    return 0;
}
