// Line control through the real window, on pseudo-terminals lent modem lines and a break by the
// preloaded rig (support/modemshim.cpp): what the menu does is what the other end sees.

#include "support/boxanswerer.h"
#include "support/controls.h"
#include "support/files.h"
#include "support/terminal.h"

#include <QAction>
#include <QMenu>
#include <QTest>

#include <cerrno>

#include <dlfcn.h>

#include <memory>

namespace {

struct Event
{
    double ms = 0;
    // cppcheck-suppress unusedStructMember ; read through QCOMPARE, which it does not expand
    QString line;
    bool on = false;
};

// What the rig saw on the lines, in order.
QList<Event> events(const QString &path)
{
    QList<Event> seen;
    for (const QByteArray &row : readWhole(path).split('\n')) {
        const QList<QByteArray> f = row.split(' ');
        if (f.size() == 3)
            seen.append({f[0].toDouble(), QString::fromLatin1(f[1]), f[2] == "1"});
    }
    return seen;
}

} // namespace

class TestLineControl : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(::dlsym(RTLD_DEFAULT, "quorline_modem_shim"),
                 "run with LD_PRELOAD=libmodemshim.so (ctest does)");
        QVERIFY(m_files.isValid());
    }

    void init()
    {
        m_log = m_files.path(QStringLiteral("lines%1").arg(++m_run));
        qputenv("QUORLINE_MODEM_FILE", m_log.toLocal8Bit());
    }

    // A toggle that does not reach the line, or a check mark that disagrees with it, fails here.
    void toggles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("DTR") << "DTR";
        QTest::newRow("RTS") << "RTS";
    }
    void toggles()
    {
        QFETCH(QString, name);
        Terminal t;
        QVERIFY(t.open());
        auto *action = t.window.findChild<QAction *>(name);
        QVERIFY(action);
        QVERIFY(action->isEnabled());
        QVERIFY(action->isChecked()); // asserted after an open
        action->trigger();
        QVERIFY(!action->isChecked());
        action->trigger();
        QVERIFY(action->isChecked());
        QList<Event> seen = events(m_log);
        QCOMPARE(seen.size(), 2);
        QCOMPARE(seen[0].line, name);
        QVERIFY(!seen[0].on);
        QVERIFY(seen[1].on);
    }

    // A pulse or break of the wrong length, a second one, or a line left changed fails here.
    void pulseAndBreak_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("first"); // the state the action puts the line in
        QTest::addColumn<double>("ms");
        QTest::newRow("Reset (pulse DTR)") << "PulseDTR"
                                           << "DTR" << false << 100.0;
        QTest::newRow("Send Break") << "SendBreak"
                                    << "BREAK" << true << 250.0;
    }
    void pulseAndBreak()
    {
        QFETCH(QString, name);
        QFETCH(QString, line);
        QFETCH(bool, first);
        QFETCH(double, ms);
        Terminal t;
        QVERIFY(t.open());
        const BoxAnswerer boxes;
        t.window.findChild<QAction *>(name)->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(events(m_log).size(), 2, 5000);
        const QList<Event> seen = events(m_log);
        QCOMPARE(seen[0].line, line);
        QCOMPARE(seen[0].on, first);
        QCOMPARE(seen[1].line, line);
        QCOMPARE(seen[1].on, !first);
        const double length = seen[1].ms - seen[0].ms;
        QVERIFY2(length >= ms && length < ms + 500, qPrintable(QString::number(length)));
        QTest::qWait(50);
        QCOMPARE(events(m_log).size(), 2);
        QVERIFY(t.window.DTR->isChecked());
        QCOMPARE(boxes.texts(), QStringList());
    }

    // Inputs the other end asserts that the menu does not show, or shows stale, fail here.
    void modemInputs()
    {
        Terminal t;
        QVERIFY(t.open());
        writeFile(m_log + ".in", "CTS DCD");
        std::unique_ptr<QMenu> menu(t.window.Text1->createContextMenu());
        QCOMPARE(t.window.ModemLines->text(), "CTS on, DSR off, DCD on, RI off");
        QVERIFY(!t.window.ModemLines->isEnabled());
        writeFile(m_log + ".in", "DSR RI");
        menu.reset(t.window.Text1->createContextMenu());
        QCOMPARE(t.window.ModemLines->text(), "CTS off, DSR on, DCD off, RI on");
    }

    // A line request the device refuses is one box naming the line and the reason; one that
    // finds the device gone is the usual loss, once. A second box, none, or a check mark left
    // claiming the line fails here.
    void refusals_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("message"); // after the port's label
        QTest::addColumn<bool>("lost");
        QTest::newRow("DTR refused")
            << "DTR" << EPERM << ": DTR could not be dropped: Operation not permitted" << false;
        QTest::newRow("RTS refused")
            << "RTS" << EINVAL << ": RTS could not be dropped: Invalid argument" << false;
        QTest::newRow("break refused") << "SendBreak" << ENOTTY
                                       << ": the break could not be sent: Inappropriate ioctl for "
                                          "device"
                                       << false;
        QTest::newRow("device gone at DTR")
            << "DTR" << EIO << "ERror in receive routine, COM1 (%1) was disconnected" << true;
        QTest::newRow("device gone at Reset")
            << "PulseDTR" << EIO << "ERror in receive routine, COM1 (%1) was disconnected" << true;
    }
    void refusals()
    {
        QFETCH(QString, name);
        QFETCH(int, error);
        QFETCH(QString, message);
        QFETCH(bool, lost);
        Terminal t;
        QVERIFY(t.open());
        const BoxAnswerer boxes;
        qputenv("QUORLINE_MODEM_FAIL", QByteArray::number(error));
        t.window.findChild<QAction *>(name)->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(boxes.seen.size(), 1, 5000);
        QTest::qWait(100); // a second box would come now
        qunsetenv("QUORLINE_MODEM_FAIL");
        const QString expected =
            lost ? message.arg(t.peer.path()) : "COM1 (" + t.peer.path() + ")" + message;
        QCOMPARE(boxes.texts(), QStringList({expected}));
        QCOMPARE(t.window.MSComm1->portOpen(), !lost);
        QCOMPARE(t.window.btnOpen->isEnabled(), lost);
        const std::unique_ptr<QMenu> menu(t.window.Text1->createContextMenu());
        QVERIFY(menu->actions().contains(t.window.DTR));
        for (QAction *a : {t.window.DTR, t.window.RTS}) // as the device has them
            QCOMPARE(a->isChecked(), !lost);
    }

    // A device that rounds a rate it cannot run must be refused, not opened at another speed.
    void roundedRateIsRefused()
    {
        qputenv("QUORLINE_MODEM_ROUND", "1000");
        Peer peer;
        SerialPortControl control(PortMap::build(portEnvironment({{1, peer.path()}}), {}));
        control.setCommPort(1);
        control.setSettings(QStringLiteral("12345,n,8,1"));
        const QString why = refusal(control);
        control.setSettings(QStringLiteral("250000,n,8,1")); // a multiple: taken as it is
        const QString fine = refusal(control);
        qunsetenv("QUORLINE_MODEM_ROUND");
        QCOMPARE(why, peer.path() + ": the device cannot run at 12345 baud (it set 12000)");
        QCOMPARE(fine, QString());
    }

private:
    TempFiles m_files;
    QString m_log;
    int m_run = 0;
};

QTEST_MAIN(TestLineControl)
#include "tst_linecontrol.moc"
