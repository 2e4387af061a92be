// Port numbers through devices that come and go, the list refresh rule, and open advice.

#include "serial/openadvice.h"
#include "serial/portlist.h"
#include "serial/portmap.h"
#include "testsupport.h"

#include <QTest>

namespace {

// "ttyS0 ttyUSB0" -> devices under /dev.
QList<PortDevice> devices(const QString &names)
{
    QList<PortDevice> list;
    for (const QString &name : names.split(u' ', Qt::SkipEmptyParts))
        list.append({QStringLiteral("/dev/") + name, QString()});
    return list;
}

// "1:ttyS0 2:-ttyUSB0": number, device under /dev, '-' when absent at the last look.
QString shown(const PortMap &map)
{
    QStringList parts;
    for (auto it = map.entries().cbegin(); it != map.entries().cend(); ++it)
        parts << QStringLiteral("%1:%2%3").arg(it.key()).arg(map.isAbsent(it.key()) ? "-" : "",
                                                          it->path.mid(5));
    return parts.join(u' ');
}

} // namespace

class TestPortList : public QObject
{
    Q_OBJECT

private slots:
    // Catches a number that moves to another device, or is given out twice in a run.
    void numbersStayWithDevices_data()
    {
        QTest::addColumn<QString>("named");
        QTest::addColumn<QStringList>("looks");
        QTest::addColumn<QString>("expected");
        QTest::newRow("unplugged keeps its number")
            << "" << QStringList{"ttyS0 ttyUSB0 ttyUSB1", "ttyS0 ttyUSB1"} << "1:ttyS0 2:-ttyUSB0 3:ttyUSB1";
        QTest::newRow("re-plugged comes back as the same number")
            << "" << QStringList{"ttyUSB0 ttyUSB1", "ttyUSB1", "ttyUSB1 ttyUSB0"} << "1:ttyUSB0 2:ttyUSB1";
        QTest::newRow("a newcomer does not take an unplugged one's number")
            << "" << QStringList{"ttyUSB0 ttyUSB1", "ttyUSB1", "ttyUSB1 ttyACM0"}
            << "1:-ttyUSB0 2:ttyUSB1 3:ttyACM0";
        QTest::newRow("newcomers fill the lowest free numbers in device order")
            << "2=ttyS9" << QStringList{"ttyUSB0", "ttyACM1 ttyUSB0 ttyS1 ttyACM0"}
            << "1:ttyUSB0 2:ttyS9 3:ttyS1 4:ttyACM0 5:ttyACM1";
        QTest::newRow("reserved numbers never go to system devices")
            << "1=pts/4 3=ttyQ" << QStringList{"ttyS0 ttyS1", "ttyS1 ttyUSB0"}
            << "1:pts/4 2:-ttyS0 3:ttyQ 4:ttyS1 5:ttyUSB0";
        QTest::newRow("a named device seen by the system keeps its name's number")
            << "4=ttyUSB0" << QStringList{"ttyUSB0", "", "ttyUSB0 ttyUSB1"} << "1:ttyUSB1 4:ttyUSB0";
        QTest::newRow("a device listed twice takes one number")
            << "" << QStringList{"ttyUSB0 ttyUSB0", "ttyUSB0 ttyUSB0"} << "1:ttyUSB0";
    }
    void numbersStayWithDevices()
    {
        QFETCH(QString, named);
        QFETCH(QStringList, looks);
        QFETCH(QString, expected);
        QProcessEnvironment env;
        for (const QString &pair : named.split(u' ', Qt::SkipEmptyParts))
            env.insert("QUORLINE_COM" + pair.section(u'=', 0, 0), "/dev/" + pair.section(u'=', 1));
        PortMap map = PortMap::build(env, devices(looks.first()));
        for (qsizetype i = 1; i < looks.size(); ++i)
            map.update(devices(looks[i]));
        QCOMPARE(shown(map), expected);
    }

    // Catches an arrival or departure that goes unreported, or reported twice.
    void changesReported()
    {
        PortMap map = PortMap::build({}, devices("ttyUSB0 ttyUSB1"));
        PortMapChange change = map.update(devices("ttyUSB1 ttyACM0"));
        QCOMPARE(change.added, QList<int>{3});
        QCOMPARE(change.gone, QList<int>{1});
        QVERIFY(change.returned.isEmpty());
        change = map.update(devices("ttyUSB1 ttyACM0 ttyUSB0"));
        QCOMPARE(change.returned, QList<int>{1});
        QVERIFY(change.added.isEmpty() && change.gone.isEmpty());
        QVERIFY(map.update(devices("ttyUSB1 ttyACM0 ttyUSB0")).isEmpty());
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
        QTest::newRow("listed and present: kept, not opened") << L{1, 3} << 0 << L{} << L{2} << L{1, 3} << L{2};
        QTest::newRow("refused before: tried again") << L{1} << 0 << L{} << L{} << L{1, 2, 3} << L{2, 3};
        QTest::newRow("gone: dropped") << L{1, 2, 3} << 0 << L{2} << L{} << L{1, 3} << L{};
        QTest::newRow("gone but open: kept") << L{1, 2, 3} << 2 << L{2} << L{} << L{1, 2, 3} << L{};
        QTest::newRow("all gone") << L{1, 2, 3} << 0 << L{1, 2, 3} << L{} << L{} << L{};
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
            env.insert(QStringLiteral("QUORLINE_COM%1").arg(n), QStringLiteral("/dev/ttyX%1").arg(n));
        const PortMap map = PortMap::build(env, {});
        QList<int> tried;
        const PortList::Look look = PortList::refresh(
            listed, open, map, [&absent](int n) { return absent.contains(n) ? "not present" : ""; },
            [&tried, &refusing](int n) {
                tried << n;
                return refusing.contains(n) ? QStringLiteral("busy") : QString();
            });
        QCOMPARE(look.listed, expected);
        QCOMPARE(tried, probed);
        QVERIFY2(!tried.contains(11), "a port above 10 was opened");
        // Every device seen and not listed has its line, COM11 included.
        QCOMPARE(look.refusals.size(), 4 - expected.size());
        QVERIFY(look.refusals.last().startsWith("COM11 /dev/ttyX11"));
    }

    // Catches a device's own text read as markup, or control characters reaching a tooltip.
    void labelsArePlain()
    {
        const QString label = PortList::deviceLabel({"/dev/ttyUSB0", "<b>x</b>\x1b[31m\x07\u0085\u202e"});
        QCOMPARE(label, QString::fromUtf8("/dev/ttyUSB0 (<b>x</b>\u241b[31m\u2407\ufffd\ufffd)"));
        const QString tip = PortList::plainToolTip(label + "\nnext & last");
        QVERIFY(!tip.contains("<b>"));
        QVERIFY(tip.contains("&lt;b&gt;x&lt;/b&gt;") && tip.contains("&amp;"));
    }

    // Catches advice that misleads: adduser for a user already listed, or a holder left unnamed.
    void openAdvice_data()
    {
        QTest::addColumn<bool>("denied");
        QTest::addColumn<bool>("listed");
        QTest::addColumn<bool>("session");
        QTest::addColumn<QString>("holder");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("says");
        QTest::addColumn<QString>("never");
        QTest::newRow("not in the group") << true << false << false << "" << "/dev/ttyUSB0"
            << QStringList{"/dev/ttyUSB0", "sudo adduser $USER dialout", "log out and in"} << "session";
        QTest::newRow("listed, session lacks it") << true << true << false << "" << "/dev/ttyUSB0"
            << QStringList{"/dev/ttyUSB0", "log out and in"} << "adduser";
        QTest::newRow("held by ModemManager") << false << false << false << "ModemManager" << "/dev/ttyACM0"
            << QStringList{"/dev/ttyACM0", "PID 812 (ModemManager)", "systemctl stop ModemManager"} << "adduser";
        QTest::newRow("held by another program") << false << false << false << "minicom" << "/dev/ttyS0"
            << QStringList{"/dev/ttyS0 is in use by PID 812 (minicom)"} << "ModemManager";
        QTest::newRow("nothing known") << false << false << false << "" << "/dev/ttyS0"
            << QStringList{"/dev/ttyS0: Input/output error"} << "adduser";
    }
    void openAdvice()
    {
        QFETCH(bool, denied);
        QFETCH(bool, listed);
        QFETCH(bool, session);
        QFETCH(QString, holder);
        QFETCH(QString, path);
        QFETCH(QStringList, says);
        QFETCH(QString, never);
        OpenAdvice::Facts facts{path, denied, "dialout", listed, session, {}};
        if (!holder.isEmpty())
            facts.holders.append({812, holder});
        const QString text = OpenAdvice::describe(facts, "Input/output error");
        for (const QString &part : says)
            QVERIFY2(text.contains(part), qPrintable(text));
        QVERIFY2(!text.contains(never), qPrintable(text));
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
