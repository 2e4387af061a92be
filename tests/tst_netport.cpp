// Ports on another machine: the control against a real ser2net on the loopback interface, whose
// serial side is a pseudo-terminal of the peer tool.

#include "base/failure.h"
#include "serial/serialportcontrol.h"
#include "support/boxanswerer.h"
#include "support/files.h"
#include "support/peer.h"
#include "support/ser2net.h"
#include "support/terminal.h"

#include <QComboBox>
#include <QStandardPaths>
#include <QTest>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The line speed of the device as the system has it now (0 when it cannot be read).
speed_t lineSpeed(const QString &device)
{
    const int fd = ::open(device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios attributes{};
    const bool read = fd >= 0 && tcgetattr(fd, &attributes) == 0;
    if (fd >= 0)
        ::close(fd);
    return read ? cfgetospeed(&attributes) : 0;
}

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

    // The window on a network port: the settings chosen reach the device, what the device says is
    // on the screen, and the server going away gives one box and the closed port's buttons.
    void windowOnANetworkPort()
    {
        const TempFiles files;
        Peer peer({"--wait-open", "--delay", "300", "--send", "hello over the network"});
        Ser2net server(peer.path(), files.path());
        Form1 window(PortMap::build(portEnvironment({{1, server.url(true)}}), {}));
        window.Form_Load();
        window.show();
        QCOMPARE(window.cboPort->currentText(), QStringLiteral("COM1"));
        window.cboBaud->setCurrentIndex(window.cboBaud->findText("115.2k"));
        window.cboParity->setCurrentIndex(window.cboParity->findText("EVEN PARITY"));
        BoxAnswerer modal;
        window.btnOpen->click();
        QVERIFY(window.MSComm1->portOpen());
        QCOMPARE(window.MSComm1->settings(), QStringLiteral("115200,e,8,2"));
        QTRY_COMPARE_WITH_TIMEOUT(window.Text1->bytes(), QByteArray("hello over the network"),
                                  5000);
        QCOMPARE(lineSpeed(peer.path()), speed_t(B115200));

        server.stop();
        QTRY_COMPARE_WITH_TIMEOUT(modal.texts().size(), 1, 5000);
        QCOMPARE(modal.texts().first(),
                 "ERror in receive routine, COM1 (" + server.url(true) + ") was disconnected");
        QVERIFY(window.btnOpen->isEnabled() && !window.btnClose->isEnabled());
        QTest::qWait(300);
        QCOMPARE(modal.texts().size(), 1);
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

QTEST_MAIN(TestNetPort)
#include "tst_netport.moc"
