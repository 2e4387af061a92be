// Ports on another machine: the control against a real ser2net on the loopback interface, whose
// serial side is a pseudo-terminal of the peer tool.

#include "base/failure.h"
#include "serial/serialportcontrol.h"
#include "support/boxanswerer.h"
#include "support/files.h"
#include "support/peer.h"
#include "support/ser2net.h"
#include "support/terminal.h"

#include <QAction>
#include <QComboBox>
#include <QStandardPaths>
#include <QTest>

#include <QElapsedTimer>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
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

// A server of the test's own, in a thread (the open blocks the event loop): it accepts one
// connection, reads what comes for a moment, writes its answer and then keeps the connection
// (or closes it), until it is destroyed.
class CannedServer
{
public:
    CannedServer(QByteArray answer, bool closeAfter)
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        listening =
            ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
            ::listen(m_listener, 1) == 0 &&
            ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) == 0;
        port = ntohs(address.sin_port);
        m_thread = std::thread([this, answer = std::move(answer), closeAfter] {
            const int client = ::accept(m_listener, nullptr, nullptr);
            char buffer[256];
            ::recv(client, buffer, sizeof buffer, 0);
            ::send(client, answer.constData(), size_t(answer.size()), MSG_NOSIGNAL);
            if (!closeAfter)
                while (!m_stop && ::recv(client, buffer, sizeof buffer, MSG_DONTWAIT) != 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
            ::close(client);
        });
    }
    ~CannedServer()
    {
        m_stop = true;
        ::shutdown(m_listener, SHUT_RDWR);
        m_thread.join();
        ::close(m_listener);
    }
    CannedServer(const CannedServer &) = delete;
    CannedServer &operator=(const CannedServer &) = delete;

    bool listening = false;
    quint16 port = 0;

private:
    int m_listener = -1;
    std::atomic<bool> m_stop = false;
    std::thread m_thread;
};

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (const int v : values)
        out.append(char(v));
    return out;
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
        // Line control offered where it cannot be carried, or refused where it can.
        QCOMPARE(control.lineControlAbsence().contains("is a raw network port"), !telnet);

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

    // A flood of every byte value at random comes through exact, whatever the server's pieces.
    void floodExact()
    {
        const TempFiles files;
        QByteArray flood(1 << 20, Qt::Uninitialized);
        std::mt19937 random(7);
        for (char &c : flood)
            c = char(random());
        const QString file = files.path("flood");
        writeFile(file, flood);
        // ser2net opens the device when the connection comes, before the settings: a flood then
        // would meet the line's change.
        Peer peer({"--wait-open", "--delay", "300", "--send-file", file});
        Ser2net server(peer.path(), files.path());
        SerialPortControl control(PortMap::build(portEnvironment({{1, server.url(true)}}), {}));
        control.setPortOpen(true);
        QByteArray received;
        connect(&control, &SerialPortControl::OnComm, this,
                [&received, &control] { received += control.input(); });
        QTRY_VERIFY_WITH_TIMEOUT(received.size() >= flood.size(), 20000);
        QTest::qWait(200); // nothing more comes
        QCOMPARE(received.size(), flood.size());
        QVERIFY(received == flood);
    }

    // With reconnect on, the loss is silent and the port comes back when the server does.
    void reconnectsWhenTheServerIsBack()
    {
        const TempFiles files;
        Peer peer;
        Ser2net server(peer.path(), files.path());
        SerialPortControl control(PortMap::build(portEnvironment({{3, server.url(true)}}), {}));
        control.setCommPort(3);
        control.setReconnect(true);
        control.setPortOpen(true);
        int events = 0;
        connect(&control, &SerialPortControl::OnComm, this, [&events] { ++events; });
        server.stop();
        QTRY_VERIFY_WITH_TIMEOUT(control.isAwaitingDevice(), 5000);
        QVERIFY(!control.portOpen());
        QVERIFY(server.start());
        QTRY_VERIFY_WITH_TIMEOUT(control.portOpen(), 10000);
        QCOMPARE(events, 0);
        QCOMPARE(control.input(), QByteArray());
    }

    // The window on a network port: the settings chosen reach the device, what the device says is
    // on the screen, and the server going away gives one box and the closed port's buttons.
    void windowOnANetworkPort()
    {
        const TempFiles files;
        const QString record = files.path("peer.rec");
        // The list's probe opens the device first and its bytes would be lost: the peer waits
        // past the window's open even on a slow, loaded machine.
        Peer peer({"--wait-open", "--delay", "2000", "--send", "hello over the network", "--record",
                   record});
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

        // DTR, RTS and break reach the server as commands, never as data, and nothing waits for
        // the answers that ser2net does not give on a pseudo-terminal.
        QTRY_COMPARE_WITH_TIMEOUT(window.ModemLines->text(),
                                  QStringLiteral("CTS off, DSR off, DCD off, RI off"), 5000);
        QVERIFY(window.DTR->isEnabled() && window.DTR->isChecked());
        QElapsedTimer clock;
        clock.start();
        window.RTS->trigger();
        window.SendBreak->trigger();
        window.PulseDTR->trigger();
        QVERIFY(clock.elapsed() < 1000);
        QVERIFY(!window.RTS->isChecked() && !window.DTR->isChecked());
        QTRY_VERIFY(window.DTR->isChecked() && window.SendBreak->isEnabled());
        window.MSComm1->setOutput("after");
        QTRY_COMPARE_WITH_TIMEOUT(readWhole(record), QByteArray("after"), 5000);
        QCOMPARE(modal.texts().size(), 0);

        server.stop();
        QTRY_COMPARE_WITH_TIMEOUT(modal.texts().size(), 1, 5000);
        QCOMPARE(modal.texts().first(),
                 "ERror in receive routine, COM1 (" + server.url(true) + ") was disconnected");
        QVERIFY(window.btnOpen->isEnabled() && !window.btnClose->isEnabled());
        QTest::qWait(300);
        QCOMPARE(modal.texts().size(), 1);
    }

    // Servers that do not serve: each open ends within its limit with a message saying why.
    void badServers_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("closeAfter");
        QTest::addColumn<QString>("message");
        const QByteArray agree = bytes({255, 253, 44});
        QTest::newRow("silent") << QByteArray() << false
                                << "the server did not answer within 3 s while negotiating the "
                                   "COM-PORT-OPTION";
        QTest::newRow("refuses the option")
            << bytes({255, 254, 44}) << false << "the server refuses the COM-PORT-OPTION";
        QTest::newRow("closes mid-open")
            << agree << true << "the server closed the connection while setting the line";
        QTest::newRow("endless subnegotiation")
            << agree + bytes({255, 250, 44}) + QByteArray(100000, 'x') << false
            << "the server did not answer within 3 s while setting the line";
        QTest::newRow("another baud rate")
            << agree + bytes({255, 250, 44,  101, 0,   0,   37,  128, 255, 240, 255,
                              250, 44,  102, 8,   255, 240, 255, 250, 44,  103, 1,
                              255, 240, 255, 250, 44,  104, 1,   255, 240})
            << false << "the device cannot run at 115200 baud (it set 9600)";
    }

    void badServers()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, closeAfter);
        QFETCH(QString, message);
        const CannedServer server(answer, closeAfter);
        QVERIFY(server.listening);
        const QString url = QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.port);
        SerialPortControl control(PortMap::build(portEnvironment({{1, url}}), {}));
        control.setSettings("115200,n,8,1");
        QElapsedTimer clock;
        clock.start();
        try {
            control.setPortOpen(true);
            QFAIL("opened");
        } catch (const Failure &failure) {
            QVERIFY2(failure.description().startsWith(url + ": " + message),
                     qPrintable(failure.description()));
        }
        QVERIFY(clock.elapsed() < 4000);
        QVERIFY(!control.portOpen());
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
