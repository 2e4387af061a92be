// Ports on another machine: the control against a real ser2net on the loopback interface, whose
// serial side is a pseudo-terminal of the peer tool.

#include "base/failure.h"
#include "serial/serialportcontrol.h"
#include "support/files.h"
#include "support/peer.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A TCP port that nothing listens on just now.
quint16 freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

// ser2net serving one pty twice: RFC 2217 on telnetPort, raw bytes on rawPort, one at a time.
class Ser2net
{
public:
    Ser2net(const QString &device, const QString &dir)
        : m_config(dir + QStringLiteral("/ser2net.yaml")), m_pid(dir + QStringLiteral("/pid")),
          telnetPort(freePort()), rawPort(freePort())
    {
        const QString connector =
            QStringLiteral("  connector: serialdev,%1,9600n81,local\n").arg(device);
        writeFile(m_config,
                  (QStringLiteral("connection: &telnet\n"
                                  "  accepter: telnet(rfc2217),tcp,127.0.0.1,%1\n")
                       .arg(telnetPort) +
                   connector +
                   QStringLiteral("connection: &raw\n  accepter: tcp,127.0.0.1,%1\n").arg(rawPort) +
                   connector)
                      .toUtf8());
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        start();
    }
    ~Ser2net() { stop(); }
    Ser2net(const Ser2net &) = delete;
    Ser2net &operator=(const Ser2net &) = delete;

    bool start()
    {
        m_process.start(QStringLiteral("ser2net"), {"-n", "-u", "-P", m_pid, "-c", m_config});
        if (!m_process.waitForStarted(5000))
            return false;
        for (int i = 0; i < 100; ++i) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, rawPort);
            if (probe.waitForConnected(100)) {
                probe.abort();
                QTest::qWait(100); // the device is free again once ser2net has seen the close
                return true;
            }
            QTest::qWait(50);
        }
        return false;
    }
    void stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
    QString url(bool telnet) const
    {
        return telnet ? QStringLiteral("rfc2217://127.0.0.1:%1").arg(telnetPort)
                      : QStringLiteral("tcp://127.0.0.1:%1").arg(rawPort);
    }

private:
    QString m_config, m_pid;
    QProcess m_process;

public:
    const quint16 telnetPort, rawPort;
};

} // namespace

class TestNetPort : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("ser2net")).isEmpty())
            QSKIP("ser2net is not installed (tools/install-deps.sh installs it)");
    }

    // Every byte value both ways, IAC included, through either kind of port.
    void everyByteBothWays_data()
    {
        QTest::addColumn<bool>("telnet");
        QTest::newRow("rfc2217") << true;
        QTest::newRow("tcp") << false;
    }

    void everyByteBothWays()
    {
        QFETCH(bool, telnet);
        const TempFiles files;
        const QString record = files.path("peer.rec");
        Peer peer({"--wait-open", "--delay", "300", "--send-all256", "--record", record});
        QVERIFY(!peer.path().isEmpty());
        Ser2net server(peer.path(), files.path());
        SerialPortControl control(PortMap::build(portEnvironment({{1, server.url(telnet)}}), {}));
        QCOMPARE(control.probe(1), QString());
        control.setCommPort(1);
        control.setSettings("115200,n,8,2");
        control.setPortOpen(true);
        QVERIFY(control.portOpen());

        QByteArray received;
        connect(&control, &SerialPortControl::OnComm, this,
                [&received, &control] { received += control.input(); });
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), 256, 10000);
        QCOMPARE(received, all256());

        // Sent cut at every place, so that each IAC is doubled at the start and end of a piece.
        QByteArray expected;
        for (int cut = 0; cut <= 256; ++cut) {
            control.setOutput(all256().first(cut));
            control.setOutput(all256().sliced(cut));
            expected += all256();
        }
        QTRY_COMPARE_WITH_TIMEOUT(readWhole(record).size(), expected.size(), 10000);
        QCOMPARE(readWhole(record), expected);
        control.setPortOpen(false);
    }

    // The settings reach the device: the pty's own line speed says so.
    void baudRateLandsOnTheDevice()
    {
        const TempFiles files;
        Peer peer;
        Ser2net server(peer.path(), files.path());
        SerialPortControl control(PortMap::build(portEnvironment({{1, server.url(true)}}), {}));
        control.setSettings("115200,e,8,1");
        control.setPortOpen(true);
        const int fd =
            ::open(peer.path().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        termios attributes{};
        QTRY_VERIFY_WITH_TIMEOUT(
            tcgetattr(fd, &attributes) == 0 && cfgetospeed(&attributes) == B115200, 5000);
        ::close(fd);
    }

    // The server going away is reported once, by the next Input, naming the URL; with
    // reconnect on, the port comes back when the server does.
    void lostAndReconnected()
    {
        const TempFiles files;
        Peer peer;
        Ser2net server(peer.path(), files.path());
        SerialPortControl control(PortMap::build(portEnvironment({{3, server.url(true)}}), {}));
        control.setCommPort(3);
        control.setPortOpen(true);
        int events = 0;
        connect(&control, &SerialPortControl::OnComm, this, [&events] { ++events; });
        server.stop();
        QTRY_COMPARE_WITH_TIMEOUT(events, 1, 5000);
        QVERIFY(!control.portOpen());
        try {
            control.input();
            QFAIL("the loss was not reported");
        } catch (const Failure &failure) {
            QCOMPARE(failure.description(),
                     QStringLiteral("COM3 (%1) was disconnected").arg(server.url(true)));
        }
        QCOMPARE(control.input(), QByteArray()); // once

        control.setReconnect(true);
        QVERIFY(server.start());
        control.setPortOpen(true);
        server.stop();
        QTRY_VERIFY_WITH_TIMEOUT(control.isAwaitingDevice(), 5000);
        QVERIFY(server.start());
        QTRY_VERIFY_WITH_TIMEOUT(control.portOpen(), 10000);
        QCOMPARE(events, 1); // the awaited loss is silent
    }

    // Where nothing listens: the open names the host and the system's reason, the probe refuses.
    void nothingListens()
    {
        const QString url = QStringLiteral("rfc2217://127.0.0.1:%1").arg(freePort());
        SerialPortControl control(PortMap::build(portEnvironment({{1, url}}), {}));
        QVERIFY(!control.probe(1).isEmpty());
        try {
            control.setPortOpen(true);
            QFAIL("opened where nothing listens");
        } catch (const Failure &failure) {
            QVERIFY2(failure.description().startsWith(url + ": cannot connect to 127.0.0.1 port"),
                     qPrintable(failure.description()));
            QVERIFY2(failure.description().contains("refused"), qPrintable(failure.description()));
        }
        QVERIFY(!control.portOpen());
    }
};

QTEST_GUILESS_MAIN(TestNetPort)
#include "tst_netport.moc"
