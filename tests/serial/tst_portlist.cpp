// Port numbers through devices that come and go, the list refresh rule, and open advice.

#include "serial/fleetingdevices.h"
#include "serial/openadvice.h"
#include "serial/portlist.h"
#include "serial/portmap.h"
#include "support/files.h"
#include "support/peer.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace {

QList<PortDevice> devices(const QString &names)
{
    QList<PortDevice> list;
    for (const QString &name : names.split(u' ', Qt::SkipEmptyParts))
        list.append({"/dev/" + name, QString()});
    return list;
}

} // namespace

class TestPortList : public QObject
{
    Q_OBJECT

private slots:
    // Catches a number that moves to another device, or is given out twice in a run.
    // Each look is the devices present then; "2:-ttyS0" is a device absent at the last look.
    void numbersStayWithDevices_data()
    {
        QTest::addColumn<QString>("named");
        QTest::addColumn<QStringList>("looks");
        QTest::addColumn<QString>("expected");
        QTest::newRow("re-plugged comes back as the same number")
            << "" << QStringList{"ttyUSB0 ttyUSB1", "ttyUSB1", "ttyUSB1 ttyUSB0"}
            << "1:ttyUSB0 2:ttyUSB1";
        QTest::newRow("a newcomer does not take an unplugged one's number")
            << "" << QStringList{"ttyUSB0 ttyUSB1", "ttyUSB1", "ttyUSB1 ttyACM0 ttyACM0"}
            << "1:-ttyUSB0 2:ttyUSB1 3:ttyACM0";
        QTest::newRow("newcomers take the lowest free numbers in device order")
            << "2=ttyS9" << QStringList{"ttyUSB0", "ttyACM1 ttyUSB0 ttyS1 ttyACM0"}
            << "1:ttyUSB0 2:ttyS9 3:ttyS1 4:ttyACM0 5:ttyACM1";
        QTest::newRow("reserved numbers never go to system devices")
            << "1=pts/4 3=ttyQ" << QStringList{"ttyS0 ttyS1", "ttyS1 ttyUSB0"}
            << "1:pts/4 2:-ttyS0 3:ttyQ 4:ttyS1 5:ttyUSB0";
        QTest::newRow("a named device seen by the system keeps its name's number")
            << "4=ttyUSB0" << QStringList{"ttyUSB0", "", "ttyUSB0 ttyUSB1"}
            << "1:ttyUSB1 4:ttyUSB0";
    }
    void numbersStayWithDevices()
    {
        QFETCH(QString, named);
        QFETCH(QStringList, looks);
        QFETCH(QString, expected);
        QProcessEnvironment env;
        for (const QString &pair : named.split(u' ', Qt::SkipEmptyParts))
            env.insert("QUORLINE_COM" + pair.section(u'=', 0, 0), "/dev/" + pair.section(u'=', 1));
        PortMap map = PortMap::build(env, devices(looks.takeFirst()));
        for (const QString &look : looks)
            map.update(devices(look));
        QStringList shown;
        for (auto it = map.entries().cbegin(); it != map.entries().cend(); ++it)
            shown << QStringLiteral("%1:%2%3").arg(it.key()).arg(map.isAbsent(it.key()) ? "-" : "",
                                                                 it->path.mid(5));
        QCOMPARE(shown.join(u' '), expected);
    }

    // Catches a listed port opened again (a board reset), a gone one kept, a refused one listed.
    void refreshRule_data()
    {
        QTest::addColumn<QList<int>>("listed");
        QTest::addColumn<int>("open");
        QTest::addColumn<QList<int>>("absent");
        QTest::addColumn<QList<int>>("refusing");
        QTest::addColumn<QList<int>>("expected");
        QTest::addColumn<QList<int>>("probed");
        using L = QList<int>;
        QTest::newRow("first look tries all") << L{} << 0 << L{} << L{2} << L{1, 3} << L{1, 2, 3};
        QTest::newRow("listed and present: kept, not opened")
            << L{1, 3} << 0 << L{} << L{2} << L{1, 3} << L{2};
        QTest::newRow("refused before: tried again")
            << L{1} << 0 << L{} << L{} << L{1, 2, 3} << L{2, 3};
        QTest::newRow("gone: dropped") << L{1, 2, 3} << 0 << L{2} << L{} << L{1, 3} << L{};
        QTest::newRow("gone but open: kept") << L{1, 2, 3} << 2 << L{2} << L{} << L{1, 2, 3} << L{};
    }
    void refreshRule()
    {
        QFETCH(QList<int>, listed);
        QFETCH(int, open);
        QFETCH(QList<int>, absent);
        QFETCH(QList<int>, refusing);
        QFETCH(QList<int>, expected);
        QFETCH(QList<int>, probed);
        QProcessEnvironment env;
        for (int n : {1, 2, 3, 11})
            env.insert(QStringLiteral("QUORLINE_COM%1").arg(n),
                       QStringLiteral("/dev/ttyX%1").arg(n));
        QList<int> tried;
        const PortList::Look look = PortList::refresh(
            listed, open, PortMap::build(env, {}),
            [&absent](int n) { return absent.contains(n) ? "not present" : ""; },
            [&tried, &refusing](int n) {
                tried << n;
                return refusing.contains(n) ? QStringLiteral("busy") : QString();
            });
        QCOMPARE(look.listed, expected);
        QCOMPARE(tried, probed); // never COM11: ports above 10 are not opened
        // Every device seen and not listed has its line, COM11 included.
        QCOMPARE(look.refusals.size(), 4 - expected.size());
        QVERIFY(look.refusals.last().startsWith("COM11 /dev/ttyX11"));
    }

    // Catches advice that misleads: adduser for a user already listed, or a holder left unnamed.
    void openAdvice_data()
    {
        QTest::addColumn<QString>("facts");
        QTest::addColumn<QString>("expected");
        QTest::newRow("not in the group") << "denied"
                                          << "/dev/ttyACM0: permission denied. The device "
                                             "belongs to the group dialout, and you are not in it. "
                                             "Add yourself with: sudo adduser $USER "
                                             "dialout, then log out and in again.";
        QTest::newRow("listed, the session lacks it")
            << "denied listed"
            << "/dev/ttyACM0: permission "
               "denied. You are in the group dialout, but this session started before you were "
               "added: log "
               "out and in again.";
        QTest::newRow("held by ModemManager")
            << "ModemManager"
            << "/dev/ttyACM0 is in use by process 812 "
               "(ModemManager). ModemManager tries every new ttyACM device as a modem: wait a few "
               "seconds "
               "and try again, or stop it with: sudo systemctl stop ModemManager.";
        QTest::newRow("held by another program")
            << "minicom"
            << "/dev/ttyACM0 is in use by process 812 (minicom).";
        QTest::newRow("nothing known") << ""
                                       << "/dev/ttyACM0: Input/output error";
    }
    void openAdvice()
    {
        QFETCH(QString, facts);
        QFETCH(QString, expected);
        OpenAdvice::Facts given{"/dev/ttyACM0", facts.contains("denied"),
                                "dialout",      facts.contains("listed"),
                                false,          {}};
        if (!facts.isEmpty() && !given.permissionDenied)
            given.holders.append({812, facts});
        QCOMPARE(OpenAdvice::describe(given, "Input/output error"), expected);
    }

    // Catches a USB tty that brltty took going unremarked, or an ordinary unplug, a non-USB
    // device or one of unknown arrival named. Each look is "ms:names there".
    void fleetingDevices_data()
    {
        QTest::addColumn<QStringList>("looks");
        QTest::addColumn<QString>("expected");
        QTest::newRow("USB, gone within 2 s")
            << QStringList{"0:ttyS0", "100:ttyS0 ttyUSB0", "1100:ttyS0"} << "/dev/ttyUSB0";
        QTest::newRow("gone after 2 s: an unplug")
            << QStringList{"0:", "100:ttyUSB0", "2100:"} << "";
        QTest::newRow("not on USB") << QStringList{"0:", "100:ttyS4", "200:"} << "";
        QTest::newRow("there at the first look") << QStringList{"0:ttyUSB0", "100:"} << "";
        QTest::newRow("back again: the new stay decides")
            << QStringList{"0:", "100:ttyUSB0", "500:", "900:ttyUSB0", "3000:"} << "";
    }
    void fleetingDevices()
    {
        QFETCH(QStringList, looks);
        FleetingDevices seen;
        for (const QString &look : looks)
            seen.observe(look.section(u':', 0, 0).toLongLong(),
                         look.section(u':', 1).split(u' ', Qt::SkipEmptyParts),
                         [](const QString &name) { return name.startsWith("ttyUSB"); });
        QTEST(seen.devices().join(u' '), "expected");
    }

    // Catches a USB adapter not found through sysfs, or a board's own UART taken for one.
    void usbTtyFromSysfs()
    {
        const TempFiles sys;
        for (const QString tty : {"ttyUSB0", "ttyS0"}) {
            const QString dir = sys.path(tty == "ttyS0" ? "devices/platform/serial8250/tty/"
                                                        : "devices/pci0/usb1/1-1/1-1:1.0/");
            const QString bus = sys.path(tty == "ttyS0" ? "bus/platform" : "bus/usb");
            QVERIFY(QDir().mkpath(dir + tty) && QDir().mkpath(bus) &&
                    QDir().mkpath(sys.path("class/tty/" + tty)));
            QVERIFY(QFile::link(dir + tty, sys.path("class/tty/" + tty + "/device")) &&
                    QFile::link(bus, dir + "subsystem"));
        }
        QVERIFY(FleetingDevices::isUsbTty("ttyUSB0", sys.path()));
        QVERIFY(!FleetingDevices::isUsbTty("ttyS0", sys.path()));
        QVERIFY(!FleetingDevices::isUsbTty("tty0", sys.path())); // no device at all
    }

    // Catches a busy device whose holder goes unnamed, or a program named that does not hold it.
    void holdersFromProc()
    {
        Peer peer;
        QProcess holder;
        holder.setStandardInputFile(peer.path());
        holder.start("sleep", {"30"});
        QVERIFY(holder.waitForStarted(10000));
        const auto holders = OpenAdvice::holdersOf(peer.path());
        QCOMPARE(holders.size(), 1);
        QCOMPARE(holders.first().pid, holder.processId());
        QCOMPARE(holders.first().program, "sleep");
        holder.kill();
        holder.waitForFinished(5000);
        QVERIFY(OpenAdvice::holdersOf(peer.path()).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestPortList)
#include "tst_portlist.moc"
