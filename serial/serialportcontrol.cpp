#include "serial/serialportcontrol.h"

#include "base/failure.h"
#include "serial/customspeed.h"
#include "serial/deviceguard.h"
#include "serial/openadvice.h"
#include "serial/portdrain.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace {
// At a line's pace the port is read in batches: after a read the next one waits this long, so
// that a trickle costs the program one wake-up per batch instead of one per piece the UART hands
// over. A byte waits at most this long in the kernel, and the screen shows it with the batch.
constexpr int BatchMs = 40;
// A read this large, or this much in less than a batch's time, means the line runs fast: it is
// read as it comes, with no pause, and the kernel's buffers never fill while we wait. A flood that
// the program has caught up with reads little at a time, but in much less than a batch's time.
constexpr qint64 BatchBytes = 2048;
// A network port is listed when a connection to it is made within this time.
constexpr int ProbeLimitMs = 1000;
} // namespace

SerialPortControl::SerialPortControl(PortMap map, QObject *parent)
    : QObject(parent), m_map(std::move(map)), m_port(this)
{
    m_settings = LineSettings::parse(m_settingsText);
    connect(&m_port, &QSerialPort::readyRead, this, &SerialPortControl::portReadyRead);
    m_readPause.setSingleShot(true);
    m_readPause.setTimerType(Qt::PreciseTimer); // a coarse timer may fire 5% early
    m_readPause.setInterval(BatchMs);
    connect(&m_readPause, &QTimer::timeout, this, &SerialPortControl::readBatch);
    m_sinceRead.start();
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialPortControl::portErrorOccurred);
    connect(&m_net, &NetPort::readyRead, this, &SerialPortControl::OnComm);
    connect(&m_net, &NetPort::lost, this,
            [this] { portErrorOccurred(QSerialPort::ResourceError); });
    connect(&m_net, &NetPort::lineChanged, this, &SerialPortControl::lineStateChanged);
    // The open blocks for its answers: not inside the socket's own signal.
    connect(
        &m_net, &NetPort::reached, this,
        [this] {
            if (m_reconnectTimer.isActive())
                tryReconnect();
        },
        Qt::QueuedConnection);
    // A look at the device path twice a second at most: nothing spins while it is away.
    m_reconnectTimer.setInterval(500);
    connect(&m_reconnectTimer, &QTimer::timeout, this, &SerialPortControl::tryReconnect);
    for (QTimer *timer : {&m_pulseEnd, &m_breakEnd}) {
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
    }
    connect(&m_pulseEnd, &QTimer::timeout, this, &SerialPortControl::pulseEnded);
    connect(&m_breakEnd, &QTimer::timeout, this, &SerialPortControl::breakEnded);
    // The program quits on a signal or when its display goes: close the port as Close Port does,
    // but without waiting long for a slow device.
    if (auto *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, [this] { closeWithin(QuitDrainMs); });
}

// No drain here: events must not run while the window that owns us is being taken apart.
SerialPortControl::~SerialPortControl()
{
    if (m_port.isOpen())
        m_port.close();
    m_lock.release();
}

void SerialPortControl::setCommPort(int number)
{
    if (isLinked())
        throw Failure(QStringLiteral("The port number cannot be changed while the port is open"));
    m_commPort = number;
}

void SerialPortControl::setPortOpen(bool open)
{
    // Whatever the user asks for ends the wait for a lost device: Close Port always wins.
    m_reconnectTimer.stop();
    if (open)
        this->open();
    else
        close();
}

void SerialPortControl::setSettings(const QString &text)
{
    m_settings = LineSettings::parse(text);
    m_settingsText = text;
}

void SerialPortControl::open()
{
    if (m_failed)
        close();
    if (isLinked())
        throw Failure(QStringLiteral("COM%1 is already open").arg(m_commPort));
    if (m_commPort < 1)
        throw Failure(QStringLiteral("Port number %1 is not valid: ports are numbered from 1")
                          .arg(m_commPort));
    const auto device = m_map.device(m_commPort);
    if (!device)
        throw Failure(QStringLiteral("COM%1 has no device").arg(m_commPort));
    if (NetPort::isNetwork(device->path)) {
        openNetwork(device->path);
        return;
    }

    // Every check is made on the real device, before anything opens it.
    const QString real = deviceguard::canonicalDevice(device->path);
    const dev_t checked = deviceguard::checkSerialDevice(real, device->path);

    // termios has no 1.5 stop bits; QSerialPort would quietly open with another setting.
    if (m_settings.stopBits == QSerialPort::OneAndHalfStop)
        throw Failure(
            QStringLiteral("%1: 1.5 stop bits are not supported on this system").arg(device->path));

    // Every check that can refuse is made here, before the port's own open, which sets the line.
    m_lock.acquire(real, checked, device->path);
    // QSerialPort takes a lock of its own, and deletes other programs' locks it takes as stale;
    // a doubled slash gives it a name of its own (LCK.._ttyUSB0) while ours guards the real one.
    const qsizetype cut = real.lastIndexOf(u'/');
    m_port.setPortName(real.left(cut) + u'/' + real.mid(cut));
    // QSerialPort is given standard rates only; any other is set exactly once the port is open.
    const bool customRate = !customspeed::isStandard(m_settings.baudRate);
    m_port.setBaudRate(customRate ? qint32(QSerialPort::Baud9600) : m_settings.baudRate);
    m_port.setParity(m_settings.parity);
    m_port.setDataBits(m_settings.dataBits);
    m_port.setStopBits(m_settings.stopBits);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    m_lastError.clear();
    m_port.resting = false; // a new open makes a new notifier, awake
    if (!m_port.open(QIODevice::ReadWrite)) {
        const QString why = m_port.errorString();
        // Qt says "permission" both for a refused access and for a busy device.
        const bool busy = m_port.error() == QSerialPort::PermissionError;
        m_port.close();
        m_port.clearError();
        m_lock.release();
        throw Failure(OpenAdvice::describe(OpenAdvice::gather(device->path, busy), why));
    }
    try {
        const int fd = int(m_port.handle());
        // The flock is held by the lock's own descriptor, taken before the open.
        deviceguard::checkOpened(fd, checked, device->path);
        if (customRate && !customspeed::apply(fd, m_settings.baudRate))
            throw Failure(QStringLiteral("%1: the device cannot run at %2 baud: %3")
                              .arg(device->path)
                              .arg(m_settings.baudRate)
                              .arg(qt_error_string(errno)));
        const qint64 speed = deviceguard::lineSpeed(fd);
        if (!deviceguard::speedTaken(m_settings.baudRate, speed))
            throw Failure(QStringLiteral("%1: the device cannot run at %2 baud (it set %3)")
                              .arg(device->path)
                              .arg(m_settings.baudRate)
                              .arg(speed));
        checkLineControl();
    } catch (...) {
        m_port.close();
        m_port.clearError();
        m_lock.release();
        throw;
    }
    emit lineStateChanged();
}

void SerialPortControl::close()
{
    // Asked again while the close waits (a second Close Port): what is left is dropped now.
    if (m_drain != nullptr)
        m_drain->limit(0);
    else
        closeWithin(-1);
}

void SerialPortControl::closeWithin(qint64 ms)
{
    // The events handled during a drain may close the port again: the drain's own close ends it.
    if (m_drain != nullptr) {
        m_drain->limit(ms);
        return;
    }
    m_reconnectTimer.stop();
    m_dropped = 0;
    endLineControl();
    if (m_net.isOpen()) {
        // The socket's close blocks: it may not hold the window longer than a quit may wait.
        m_dropped = m_net.close(ms >= 0 ? std::min(ms, QuitDrainMs) : QuitDrainMs);
        m_salvaged += m_net.readAll();
    } else {
        m_net.abort(); // a reconnect's connection under way
    }
    if (m_port.isOpen()) {
        // Closing restores the old line settings, so what is queued goes out first.
        if (!m_failed) {
            PortDrain drain(m_port);
            if (ms >= 0)
                drain.limit(ms);
            m_drain = &drain;
            const auto drained = qScopeGuard([this] { m_drain = nullptr; });
            // Reading goes on meanwhile: the window shows what comes while the port closes.
            m_dropped = drain.run();
            // Bytes that came during a trickle's rest still wait in the kernel: show them too.
            m_port.resting = false;
            if (!m_port.waitForReadyRead(0) && m_port.error() == QSerialPort::TimeoutError)
                m_port.clearError();
            m_readPause.stop();
            m_salvaged += m_port.readAll();
        }
        m_port.close();
    }
    m_readPause.stop();
    m_lock.release();
    m_port.clearError();
    m_failed = false;
    m_lossReport.clear();
    emit lineStateChanged();
    if (!m_salvaged.isEmpty())
        emit OnComm();
}

QString SerialPortControl::closeNote() const
{
    if (m_dropped == 0)
        return {};
    return QStringLiteral("COM%1 is closed, but %2 bytes queued for sending were dropped: "
                          "the device did not take them in time.")
        .arg(m_commPort)
        .arg(m_dropped);
}

void SerialPortControl::setOutput(QByteArrayView bytes)
{
    if (!portOpen())
        throw Failure(QStringLiteral("The port is not open"));
    // Typing during a drain goes out behind the rest; once the rest is dropped, nothing does.
    if (m_drain != nullptr && !m_drain->isWaiting())
        throw Failure(QStringLiteral("The port is closing"));
    if (m_net.isOpen())
        return m_net.write(bytes);
    if (m_port.write(bytes.data(), bytes.size()) != bytes.size())
        throw Failure(m_port.errorString());
    if (m_drain != nullptr)
        m_drain->added(bytes.size());
}

QByteArray SerialPortControl::input()
{
    QByteArray bytes = std::exchange(m_salvaged, QByteArray());
    if (m_port.isOpen())
        bytes += m_port.readAll();
    bytes += m_net.readAll();
    if (!m_lossReport.isEmpty()) {
        // What arrived before the loss is shown first; the loss itself with the next event.
        if (bytes.isEmpty())
            throw Failure(std::exchange(m_lossReport, QString()));
        QMetaObject::invokeMethod(this, &SerialPortControl::OnComm, Qt::QueuedConnection);
    }
    return bytes;
}

qint64 SerialPortControl::bytesToWrite() const
{
    if (m_net.isOpen())
        return m_net.bytesToWrite();
    return m_port.isOpen() ? m_port.bytesToWrite() : 0;
}

void SerialPortControl::portReadyRead()
{
    const qint64 waiting = m_port.bytesAvailable();
    emit OnComm();
    if (m_inBatch)
        m_batchBytes = waiting; // readBatch paces what comes next
    else
        pace(waiting);
}

// While a trickle lasts its batches are fetched here and the notifier keeps resting: each change
// of a notifier wakes the event loop once more, and a batch then costs one poll and one read.
void SerialPortControl::readBatch()
{
    if (!m_port.isOpen() || m_failed)
        return; // the device was lost: its own event closes the port
    m_inBatch = true;
    m_batchBytes = 0;
    const bool read = m_port.waitForReadyRead(0); // emits readyRead if bytes came
    m_inBatch = false;
    if (!read && m_port.error() == QSerialPort::TimeoutError)
        m_port.clearError(); // nothing came: not a fault, and a close's drain looks at it
    pace(m_batchBytes);
}

// After a read: a trickle's next batch waits; nothing (the line went quiet) or a fast line leaves
// reading to the notifier, which wakes us for the next byte.
void SerialPortControl::pace(qint64 bytes)
{
    const qint64 sinceNs = m_sinceRead.nsecsElapsed();
    m_sinceRead.restart();
    if (!m_port.isOpen() || m_failed)
        return;
    const bool trickle =
        bytes > 0 && bytes < BatchBytes && bytes * BatchMs * 1000000 < BatchBytes * sinceNs;
    if (trickle != m_port.resting && !setReading(!trickle))
        return; // no notifier to rest: nothing is paced
    if (trickle)
        m_readPause.start();
}

// Rests or wakes QSerialPort's read notifier; false when it has none (then nothing is paced).
// The bytes wait in the kernel meanwhile, and the notifier fires at once when woken if any came.
bool SerialPortControl::setReading(bool on)
{
    const auto notifiers = m_port.findChildren<QSocketNotifier *>(Qt::FindDirectChildrenOnly);
    for (QSocketNotifier *notifier : notifiers) {
        if (notifier->type() == QSocketNotifier::Read) {
            notifier->setEnabled(on);
            m_port.resting = !on;
            return true;
        }
    }
    return false;
}

// A vanished device makes QSerialPort raise read errors as fast as it can while the port stays
// open, so the first such error closes the port, and the program hears of it once. The close
// waits for the event loop: QSerialPort is still inside its own notifier when it reports.
void SerialPortControl::portErrorOccurred(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ReadError && error != QSerialPort::WriteError &&
        error != QSerialPort::ResourceError)
        return;
    if (!isLinked() || m_failed)
        return;
    m_failed = true;
    QMetaObject::invokeMethod(this, &SerialPortControl::deviceLost, Qt::QueuedConnection);
}

// Qt's own text here is the errno of the last failed read, often stale: the loss is worded here.
void SerialPortControl::deviceLost()
{
    if (!m_failed)
        return; // closed in the meantime
    if (m_port.isOpen())
        m_salvaged += m_port.readAll();
    m_salvaged += m_net.readAll();
    m_net.abort();
    endLineControl();
    m_port.close();
    // The device may come back under the same name: our lock must not keep it from anyone.
    m_lock.release();
    m_port.clearError();
    m_failed = false;
    m_readPause.stop();
    m_lastError = portLabel() + QStringLiteral(" was disconnected");
    m_reconnectTimer.setInterval(500);
    if (m_reconnect)
        m_reconnectTimer.start();
    else
        m_lossReport = m_lastError;
    emit lineStateChanged();
    if (!m_salvaged.isEmpty() || !m_lossReport.isEmpty())
        emit OnComm();
}

void SerialPortControl::tryReconnect()
{
    if (!absence(m_commPort).isEmpty())
        return;
    const auto device = m_map.device(m_commPort);
    const bool network = device && NetPort::isNetwork(device->path);
    // A server that is away is asked less and less often; the window never waits for its
    // connection, only for the open once the connection is made.
    const auto later = [this] {
        m_reconnectTimer.setInterval(qMin(m_reconnectTimer.interval() * 2, 5000));
    };
    if (network && !m_net.isReached(device->path)) {
        m_net.connectLater(device->path);
        later();
        return;
    }
    try {
        open();
        m_reconnectTimer.stop();
    } catch (const std::exception &) {
        // Back but not ready yet (still settling, or held by a probe): look again later.
        if (network)
            later();
    }
}

QString SerialPortControl::portLabel() const
{
    const auto device = m_map.device(m_commPort);
    return QStringLiteral("COM%1 (%2)").arg(m_commPort).arg(device ? device->path : QString());
}

QString SerialPortControl::absence(int number) const
{
    const auto device = m_map.device(number);
    if (!device)
        return QStringLiteral("no device");
    if (NetPort::isNetwork(device->path))
        return {}; // whether it answers is the probe's to find
    const QFileInfo info(device->path);
    if (m_map.isAbsent(number) || !info.exists())
        return QStringLiteral("not present");
    if (info.isDir())
        return QStringLiteral("is a directory, not a serial device");
    if (info.isFile())
        return QStringLiteral("is a regular file, not a serial device");
    return {};
}

QString SerialPortControl::probe(int number) const
{
    if (const auto device = m_map.device(number); device && NetPort::isNetwork(device->path))
        return NetPort::reach(device->path, ProbeLimitMs);
    SerialPortControl other(m_map);
    try {
        other.setCommPort(number);
        other.setPortOpen(true);
        other.setPortOpen(false);
    } catch (const std::exception &failure) {
        return describe(failure);
    }
    return {};
}

// No device checks or locks: the server guards its own device.
void SerialPortControl::openNetwork(const QString &url)
{
    m_lastError.clear();
    m_net.open(url, m_settings);
    m_noLineControl.clear();
    if (!m_net.carriesLineControl())
        m_noLineControl =
            portLabel() + QStringLiteral(" is a raw network port: its modem lines and "
                                         "break are not carried (rfc2217:// "
                                         "carries them)");
    emit lineStateChanged();
}
