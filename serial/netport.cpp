#include "serial/netport.h"

#include "base/failure.h"

#include <QDeadlineTimer>
#include <QMetaObject>
#include <QUrl>

#include <algorithm>

#include <sys/socket.h>
#include <utility>

namespace {

// Received bytes wait at most GatherMs for more, unless there are GatherBytes of them: as the
// batches of a local port's trickle, a byte reaches the screen a moment later, never lost.
constexpr int GatherMs = 10;
constexpr qsizetype GatherBytes = 16384;

struct Address
{
    QString host;
    quint16 port = 0;
    bool telnet = false;
};

Address parse(const QString &url)
{
    const QUrl parsed(url, QUrl::StrictMode);
    Address address;
    address.telnet = parsed.scheme() == u"rfc2217";
    address.host = parsed.host();
    const int port = parsed.port();
    if (!parsed.isValid() || address.host.isEmpty() || port < 1 || port > 65535 ||
        !(parsed.path().isEmpty() || parsed.path() == u"/"))
        throw Failure(QStringLiteral("%1 is not a network port: write rfc2217://HOST:PORT or "
                                     "tcp://HOST:PORT")
                          .arg(url));
    address.port = quint16(port);
    return address;
}

// A piece of the settings as RFC 2217 numbers it.
unsigned char parityCode(QSerialPort::Parity parity)
{
    switch (parity) {
    case QSerialPort::OddParity:
        return 2;
    case QSerialPort::EvenParity:
        return 3;
    case QSerialPort::MarkParity:
        return 4;
    case QSerialPort::SpaceParity:
        return 5;
    default:
        return 1;
    }
}

unsigned char stopCode(QSerialPort::StopBits stop)
{
    switch (stop) {
    case QSerialPort::TwoStop:
        return 2;
    case QSerialPort::OneAndHalfStop:
        return 3;
    default:
        return 1;
    }
}

} // namespace

NetPort::NetPort(QObject *parent) : QObject(parent), m_socket(this)
{
    connect(&m_socket, &QTcpSocket::readyRead, this, &NetPort::socketReadyRead);
    connect(&m_socket, &QTcpSocket::disconnected, this, &NetPort::socketGone);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &NetPort::socketGone);
    connect(&m_socket, &QTcpSocket::connected, this, [this] {
        if (!m_open && !m_pending.isEmpty())
            emit reached();
    });
    m_gather.setSingleShot(true);
    m_gather.setTimerType(Qt::PreciseTimer);
    m_gather.setInterval(GatherMs);
    connect(&m_gather, &QTimer::timeout, this, &NetPort::gathered);
}

bool NetPort::isNetwork(const QString &name)
{
    return name.startsWith(u"rfc2217://") || name.startsWith(u"tcp://");
}

QString NetPort::reach(const QString &url, int limitMs)
{
    try {
        const Address address = parse(url);
        QTcpSocket socket;
        socket.connectToHost(address.host, address.port);
        if (!socket.waitForConnected(limitMs))
            return socket.error() == QAbstractSocket::SocketTimeoutError
                       ? QStringLiteral("no connection within %1 ms").arg(limitMs)
                       : socket.errorString();
        socket.abort();
        return {};
    } catch (const Failure &failure) {
        return failure.description();
    }
}

void NetPort::open(const QString &url, const LineSettings &settings)
{
    const Address address = parse(url);
    const QDeadlineTimer deadline(OpenLimitMs);
    m_url = url;
    m_telnet = address.telnet;
    m_decoder = {};
    m_negotiator = {};
    m_farLine = {};
    m_received.clear();
    m_replies.clear();
    m_gone = false;
    const bool reached = isReached(url);
    m_pending.clear();
    if (!reached) {
        m_socket.abort();
        m_socket.connectToHost(address.host, address.port);
    }
    if (!reached && !m_socket.waitForConnected(int(deadline.remainingTime()))) {
        const QString why =
            m_socket.error() == QAbstractSocket::SocketTimeoutError
                ? QStringLiteral("no connection within %1 s").arg(OpenLimitMs / 1000)
                : m_socket.errorString();
        m_socket.abort();
        throw Failure(QStringLiteral("%1: cannot connect to %2 port %3: %4")
                          .arg(url, address.host)
                          .arg(address.port)
                          .arg(why));
    }
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (!m_telnet) {
        m_open = true;
        if (m_socket.bytesAvailable() > 0) // came while the connection waited for the open
            QMetaObject::invokeMethod(this, &NetPort::socketReadyRead, Qt::QueuedConnection);
        return;
    }

    // Whatever the server said is read here, in order; data that comes meanwhile is kept.
    const auto waitFor = [&](const auto &done, const QString &what) {
        while (!done()) {
            if (m_socket.bytesAvailable() > 0) { // also what came before the open
                take(m_socket.readAll());
                continue;
            }
            if (m_socket.state() != QAbstractSocket::ConnectedState)
                fail(QStringLiteral("the server closed the connection while %1").arg(what));
            if (deadline.hasExpired())
                fail(QStringLiteral("the server did not answer within %1 s while %2")
                         .arg(OpenLimitMs / 1000)
                         .arg(what));
            if (m_socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
                take(m_socket.readAll());
        }
    };
    m_socket.write(m_negotiator.start());
    waitFor([this] { return m_negotiator.comPortAccepted() || m_negotiator.comPortRefused(); },
            QStringLiteral("negotiating the COM-PORT-OPTION"));
    if (m_negotiator.comPortRefused())
        fail(QStringLiteral("the server refuses the COM-PORT-OPTION of RFC 2217: it cannot set "
                            "the line (a raw port is opened as tcp://)"));

    m_socket.write(telnet::setBaudRate(quint32(settings.baudRate)) +
                   telnet::setByte(telnet::SetDataSize, quint8(settings.dataBits)) +
                   telnet::setByte(telnet::SetParity, parityCode(settings.parity)) +
                   telnet::setByte(telnet::SetStopSize, stopCode(settings.stopBits)) +
                   telnet::setByte(telnet::SetControl, telnet::NoFlowControl) +
                   // The modem inputs as they change, and DTR and RTS as they are now.
                   telnet::setByte(telnet::SetModemStateMask, 0xff) +
                   telnet::setByte(telnet::SetControl, telnet::AskDtr) +
                   telnet::setByte(telnet::SetControl, telnet::AskRts));
    // The answers to the four line settings; the others' may never come.
    const auto answered = [this](unsigned char command) {
        return std::any_of(
            m_replies.cbegin(), m_replies.cend(),
            [command](const telnet::ComPortReply &r) { return r.command == command; });
    };
    waitFor(
        [&] {
            return answered(telnet::SetBaudRate) && answered(telnet::SetDataSize) &&
                   answered(telnet::SetParity) && answered(telnet::SetStopSize);
        },
        QStringLiteral("setting the line"));
    for (const telnet::ComPortReply &reply : std::as_const(m_replies)) {
        if (reply.command == telnet::SetBaudRate && reply.value != quint32(settings.baudRate))
            fail(QStringLiteral("the device cannot run at %1 baud (it set %2)")
                     .arg(settings.baudRate)
                     .arg(reply.value));
    }
    m_replies.clear();
    m_open = true;
    if (!m_received.isEmpty())
        QMetaObject::invokeMethod(this, &NetPort::readyRead, Qt::QueuedConnection);
}

void NetPort::fail(const QString &why)
{
    abort();
    throw Failure(m_url + QStringLiteral(": ") + why);
}

void NetPort::connectLater(const QString &url)
{
    const bool underWay = m_pending == url && m_socket.state() != QAbstractSocket::UnconnectedState;
    if (m_open || (underWay && !m_pendingSince.hasExpired(OpenLimitMs)))
        return;
    abort();
    try {
        const Address address = parse(url);
        m_pending = url;
        m_pendingSince.start();
        m_socket.connectToHost(address.host, address.port);
    } catch (const Failure &) {
        // the open says what is wrong with it
    }
}

bool NetPort::isReached(const QString &url) const
{
    return !m_open && m_pending == url && m_socket.state() == QAbstractSocket::ConnectedState;
}

void NetPort::abort()
{
    m_pending.clear();
    m_open = false;
    m_socket.abort();
}

qint64 NetPort::close(qint64 boundMs)
{
    if (!m_open)
        return 0;
    const QDeadlineTimer deadline(boundMs);
    while (m_socket.bytesToWrite() > 0 && !deadline.hasExpired() &&
           m_socket.state() == QAbstractSocket::ConnectedState)
        m_socket.waitForBytesWritten(int(qMax<qint64>(1, deadline.remainingTime())));
    const qint64 dropped = m_socket.bytesToWrite();
    m_open = false;
    // The server drops what it has not passed on when the connection ends: we only stop
    // sending, and wait for it to end the connection when it has seen the end of our stream.
    if (dropped == 0 && m_socket.state() == QAbstractSocket::ConnectedState &&
        ::shutdown(int(m_socket.socketDescriptor()), SHUT_WR) == 0) {
        while (m_socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
            if (m_socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
                take(m_socket.readAll());
        }
    }
    m_socket.abort();
    return dropped;
}

void NetPort::write(QByteArrayView bytes)
{
    const QByteArray wire =
        m_telnet ? telnet::escape(bytes) : QByteArray(bytes.data(), bytes.size());
    if (m_socket.write(wire) != wire.size())
        throw Failure(m_socket.errorString());
}

QByteArray NetPort::readAll()
{
    if (m_open && m_socket.isOpen() && m_socket.bytesAvailable() > 0)
        take(m_socket.readAll());
    return std::exchange(m_received, QByteArray());
}

void NetPort::take(QByteArrayView bytes)
{
    if (!m_telnet) {
        m_received.append(bytes);
        return;
    }
    QList<telnet::Event> events;
    m_decoder.feed(bytes, m_received, events);
    QByteArray answers;
    bool lineChanged = false;
    for (const telnet::Event &event : std::as_const(events)) {
        telnet::ComPortReply reply;
        if (event.verb != telnet::SB) {
            answers += m_negotiator.answer(event);
        } else if (telnet::comPortReply(event, reply)) {
            lineChanged = m_farLine.apply(reply) || lineChanged;
            if (!m_open && reply.command < telnet::NotifyLineState)
                m_replies.append(reply); // the open reads them
        }
    }
    if (m_replies.size() > 64)
        m_replies.remove(0, m_replies.size() - 64); // a server that repeats itself
    if (!answers.isEmpty())
        m_socket.write(answers);
    if (lineChanged && m_open)
        emit this->lineChanged();
}

void NetPort::setControl(unsigned char value)
{
    if (!carriesLineControl())
        return;
    const QByteArray request = telnet::setByte(telnet::SetControl, value);
    if (m_socket.write(request) != request.size())
        throw Failure(m_url + QStringLiteral(": ") + m_socket.errorString());
    m_farLine.control(value);
}

void NetPort::socketReadyRead()
{
    if (!m_open || !m_socket.isOpen())
        return;
    take(m_socket.readAll());
    // A flood comes in the segments the server happened to write, often a few hundred bytes:
    // small ones are gathered for a moment, so that the program is not woken for each.
    if (m_received.size() >= GatherBytes) {
        m_gather.stop();
        emit readyRead();
    } else if (!m_received.isEmpty() && !m_gather.isActive()) {
        m_gather.start();
    }
}

void NetPort::gathered()
{
    if (!m_received.isEmpty())
        emit readyRead();
}

void NetPort::socketGone()
{
    if (!m_open || m_gone)
        return;
    m_gone = true;     // open until the owner hears of it and aborts
    socketReadyRead(); // what came before the end is shown first
    emit lost();
}
