// The serial port control on real pseudo-terminals driven by the peer tool.

#include "base/failure.h"
#include "serial/deviceguard.h"
#include "serial/portdrain.h"
#include "serial/serialportcontrol.h"
#include "support/controls.h"
#include "support/files.h"
#include "support/peer.h"

#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

#include <cstdlib>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

Q_DECLARE_METATYPE(DrainStep)

class TestSerialControl : public QObject
{
    Q_OBJECT

private slots:
    void everyByteBothWays()
    {
        const TempFiles files;
        const QString record = files.path("peer.rec");
        Peer peer({"--wait-open", "--delay", "100", "--send-all256", "--record", record});
        QVERIFY(!peer.path().isEmpty());
        SerialPortControl control(PortMap::build(portEnvironment({{1, peer.path()}}), {}));
        control.setCommPort(1);
        control.setSettings("115200,n,8,2");
        control.setPortOpen(true);
        QVERIFY(control.portOpen());

        QByteArray received;
        connect(&control, &SerialPortControl::OnComm, this,
                [&received, &control] { received += control.input(); });
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), 256, 10000);
        QCOMPARE(received, all256());
        QCOMPARE(control.input(), QByteArray()); // nothing is returned twice

        control.setOutput(all256());
        QTRY_COMPARE_WITH_TIMEOUT(readWhole(record), all256(), 10000);

        control.setPortOpen(false);
        QVERIFY(!control.portOpen());
        control.setPortOpen(false); // closing a closed port succeeds
        QVERIFY_THROWS_EXCEPTION(Failure, control.setOutput("x"));
    }

    // At a line's pace the port is read in batches, one event per batch; a flood is read as it
    // comes. Either way every byte arrives once, in order.
    void receivedInBatches_data()
    {
        QTest::addColumn<QStringList>("pace");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("pieces"); // 0: a flood, read as fast as it comes
        QTest::newRow("115200 baud in 64-byte pieces")
            << QStringList{"--rate", "10472", "--piece", "64"} << 4096 << 64;
        QTest::newRow("a flood") << QStringList() << 262144 << 0;
    }

    void receivedInBatches()
    {
        QFETCH(QStringList, pace);
        QFETCH(int, size);
        QFETCH(int, pieces);
        TempFiles files;
        QByteArray sent(size, Qt::Uninitialized);
        for (int i = 0; i < size; ++i)
            sent[i] = char((i * 7 + i / 251) & 0xff);
        Peer peer(QStringList{"--wait-open", "--echo", "--send-file", files.file(sent)} + pace);
        QVERIFY(!peer.path().isEmpty());
        SerialPortControl control(PortMap::build(portEnvironment({{1, peer.path()}}), {}));
        control.setCommPort(1);
        control.setSettings("115200,n,8,1");
        control.setPortOpen(true);

        QByteArray received;
        int events = 0;
        connect(&control, &SerialPortControl::OnComm, this, [&] {
            received += control.input();
            ++events;
        });
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), size, 20000);
        QCOMPARE(received, sent);
        if (pieces > 0)
            QVERIFY2(events * 3 <= pieces, qPrintable(QStringLiteral("%1 events").arg(events)));
        // After a quiet spell the next bytes are still read.
        QTest::qWait(100);
        control.setOutput("after a pause");
        QTRY_COMPARE_WITH_TIMEOUT(received.mid(size), QByteArray("after a pause"), 5000);
    }

    // Catches bytes lost at Close Port because they came while reading rested between batches.
    void closeShowsBytesOfTheRest()
    {
        Peer peer(QStringList{"--echo"});
        QVERIFY(!peer.path().isEmpty());
        SerialPortControl control(PortMap::build(portEnvironment({{1, peer.path()}}), {}));
        control.setCommPort(1);
        QByteArray received;
        connect(&control, &SerialPortControl::OnComm, this,
                [&received, &control] { received += control.input(); });
        QSignalSpy events(&control, &SerialPortControl::OnComm);
        control.setPortOpen(true);
        control.setOutput(QByteArray(64, 'a'));
        while (received.size() < 64)
            QVERIFY(events.wait(5000));
        // A small read: reading now rests for a batch, and the echo of these comes meanwhile.
        control.setOutput("0123456789");
        QTest::qWait(15);
        control.setPortOpen(false);
        QCOMPARE(received, QByteArray(64, 'a') + "0123456789");
    }

    // What a close does next: it waits only while the device takes bytes, and within its time.
    void nextDrainStep_data()
    {
        QTest::addColumn<qint64>("pending");
        QTest::addColumn<qint64>("sinceLastLeft");
        QTest::addColumn<qint64>("budgetLeft"); // -1: no limit
        QTest::addColumn<DrainStep>("step");
        QTest::newRow("all gone") << qint64(0) << qint64(0) << qint64(-1) << DrainStep::Done;
        QTest::newRow("all gone, however late")
            << qint64(0) << qint64(5000) << qint64(0) << DrainStep::Done;
        QTest::newRow("a byte just left")
            << qint64(2 << 20) << qint64(0) << qint64(-1) << DrainStep::Wait;
        QTest::newRow("quiet for just under a second")
            << qint64(1) << qint64(999) << qint64(-1) << DrainStep::Wait;
        QTest::newRow("quiet for a second: the device takes nothing")
            << qint64(1) << qint64(1000) << qint64(-1) << DrainStep::DropRest;
        QTest::newRow("a slow device within the quit's time")
            << qint64(4096) << qint64(200) << qint64(1) << DrainStep::Wait;
        QTest::newRow("closed again, or the quit's time is spent")
            << qint64(4096) << qint64(0) << qint64(0) << DrainStep::DropRest;
    }
    void nextDrainStep()
    {
        QFETCH(qint64, pending);
        QFETCH(qint64, sinceLastLeft);
        QFETCH(qint64, budgetLeft);
        QFETCH(DrainStep, step);
        QCOMPARE(::nextDrainStep(pending, sinceLastLeft, budgetLeft), step);
    }

    void refusals_data()
    {
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("mentions");
        QTest::newRow("port 0") << 0 << ""
                                << "9600,n,8,2"
                                << "not valid";
        QTest::newRow("no device") << 2 << ""
                                   << "9600,n,8,2"
                                   << "no device";
        QTest::newRow("missing path") << 1 << "/nonexistent/tty"
                                      << "9600,n,8,2"
                                      << "does not exist";
        QTest::newRow("directory") << 1 << "/tmp"
                                   << "9600,n,8,2"
                                   << "directory";
        QTest::newRow("regular file") << 1 << "/etc/hostname"
                                      << "9600,n,8,2"
                                      << "regular file";
        QTest::newRow("not a tty") << 1 << "/dev/null"
                                   << "9600,n,8,2"
                                   << "/dev/null";
        QTest::newRow("1.5 stop bits") << 1 << "pty"
                                       << "9600,n,8,1.5"
                                       << "1.5 stop bits";
    }
    void refusals()
    {
        QFETCH(int, port);
        QFETCH(QString, path);
        QFETCH(QString, settings);
        QFETCH(QString, mentions);
        Peer peer;
        const QString device = path == "pty" ? peer.path() : path;
        SerialPortControl control(PortMap::build(
            device.isEmpty() ? QProcessEnvironment() : portEnvironment({{1, device}}), {}));
        control.setCommPort(port);
        control.setSettings(settings);
        const QString why = refusal(control);
        QVERIFY2(!why.isEmpty(), "the open was not refused");
        QVERIFY2(why.contains(mentions), qPrintable(why));
        QVERIFY(!control.portOpen());
        control.setPortOpen(false);
        // The control is not left half open: a good port opens afterwards.
        SerialPortControl good(PortMap::build(portEnvironment({{1, peer.path()}}), {}));
        good.setCommPort(1);
        good.setPortOpen(true);
        QVERIFY(good.portOpen());
    }

    // A rate with no fixed speed code must reach the line exactly: a rate opened at another
    // speed, or on a divisor, fails here. The pty's own end reads what its line was set to.
    void customRateReadBack_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<qint64>("speed");
        QTest::newRow("fixed code 921600") << "921600,n,8,2" << qint64(921600);
        QTest::newRow("fixed code 1500000") << "1500000,n,8,1" << qint64(1500000);
        QTest::newRow("250000 (DMX)") << "250000,n,8,2" << qint64(250000);
        QTest::newRow("128k of the list") << "128000,e,8,2" << qint64(128000);
        QTest::newRow("odd 12345") << "12345,n,8,1" << qint64(12345);
        QTest::newRow("12 Mbaud") << "12000000,n,8,1" << qint64(12000000);
    }
    void customRateReadBack()
    {
        QFETCH(QString, settings);
        QFETCH(qint64, speed);
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master >= 0);
        QVERIFY(::grantpt(master) == 0 && ::unlockpt(master) == 0);
        const QString path = QString::fromLocal8Bit(::ptsname(master));
        SerialPortControl control(PortMap::build(portEnvironment({{1, path}}), {}));
        control.setCommPort(1);
        control.setSettings(settings);
        const QString why = refusal(control);
        const qint64 seen = deviceguard::lineSpeed(master);
        control.setPortOpen(false);
        const qint64 after = deviceguard::lineSpeed(master);
        ::close(master);
        QVERIFY2(why.isEmpty(), qPrintable(why));
        QCOMPARE(seen, speed);
        QVERIFY(after != speed); // the close gave the line back as it was
    }

    void refusedSettingsKeepThePrevious()
    {
        SerialPortControl control(PortMap::build({}, {}));
        control.setSettings("19200,e,7,1");
        QVERIFY_THROWS_EXCEPTION(Failure, control.setSettings(",n,8,2"));
        QCOMPARE(control.settings(), "19200,e,7,1");
    }

    void portHeldByAnotherProgram()
    {
        Peer peer({"--hold-format", "qt"});
        SerialPortControl control(PortMap::build(portEnvironment({{1, peer.path()}}), {}));
        control.setCommPort(1);
        QVERIFY(!refusal(control).isEmpty());
        QVERIFY(!control.portOpen());
    }

    // The device vanishes while open, idle or while a trickle is read in batches: the port
    // closes, the loss is told once after what came before it, nothing spins, and the port opens
    // again when the device is back.
    void deviceVanishesAndComesBack_data()
    {
        QTest::addColumn<QStringList>("talk");
        QTest::newRow("idle") << QStringList();
        QTest::newRow("mid-trickle")
            << QStringList{"--wait-open", "--flood", "10000000", "--pattern", "text",
                           "--rate",      "10472",   "--piece",  "64"};
    }

    void deviceVanishesAndComesBack()
    {
        QFETCH(QStringList, talk);
        const TempFiles files;
        const QString link = files.path("ttyQ");
        // The device must still be there when the control opens it, even on a busy machine.
        Peer peer(QStringList{"--link", link, "--hangup-after", "1500", "--reopen-after", "1500"} +
                  talk);
        QVERIFY(!peer.path().isEmpty());
        SerialPortControl control(PortMap::build(portEnvironment({{1, link}}), {}));
        control.setCommPort(1);
        QVERIFY2(refusal(control).isEmpty(), "the device vanished before the control opened it");
        const QString lock = QString::fromLatin1(portlock::Directory) + u'/' +
                             portlock::lockName(QFileInfo(link).canonicalFilePath());
        QVERIFY(QFile::exists(lock));
        QByteArray received;
        int losses = 0;
        int empty = 0; // events that brought neither bytes nor the loss
        connect(&control, &SerialPortControl::OnComm, this, [&] {
            try {
                const QByteArray bytes = control.input();
                empty += bytes.isEmpty() ? 1 : 0;
                received += bytes;
            } catch (const Failure &) {
                ++losses;
            }
        });
        QSignalSpy events(&control, &SerialPortControl::OnComm);

        QTRY_VERIFY_WITH_TIMEOUT(!control.portOpen(), 10000);
        // Catches a lost device that keeps our lock, refusing everyone when it comes back.
        QVERIFY2(!QFile::exists(lock), "the lost device is still locked");
        const qsizetype atClose = events.size();
        const double before = cpuSeconds();
        events.wait(700); // a further event ends the measure early
        const double spent = cpuSeconds() - before;
        qInfo("CPU after the device vanished: %.3f s in 0.7 s", spent);
        QCOMPARE(events.size(), atClose);
        QCOMPARE(losses, 1);
        QCOMPARE(empty, 0);
        QCOMPARE(received.isEmpty(), talk.isEmpty());
        QVERIFY(!control.lastError().isEmpty());
        QVERIFY2(spent < 0.3, "the control keeps the processor busy after the device vanished");
        QVERIFY_THROWS_EXCEPTION(Failure, control.setOutput("x"));
        control.setPortOpen(false);

        const auto reopens = [&control] {
            try {
                control.setPortOpen(true);
            } catch (const Failure &) {
            }
            return control.portOpen();
        };
        QTRY_VERIFY_WITH_TIMEOUT(reopens(), 10000);
        QVERIFY(control.lastError().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestSerialControl)
#include "tst_serialcontrol.moc"
