// Long sessions: a flood into a process that runs out of memory (one box, the port closed, the
// window usable), and a screen holding more than 2 GiB.
#include "support/boxanswerer.h"
#include "support/events.h"
#include "support/files.h"
#include "support/peer.h"
#include "support/terminal.h"

#include <QTest>

#include <QAction>
#include <QCheckBox>
#include <QFile>

#include <climits>

#include <sys/resource.h>
#include <unistd.h>

namespace {

// Bytes of address space this process holds (what ulimit -v counts).
qint64 addressSpaceInUse()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    return statm.readAll().split(' ').value(0).toLongLong() * sysconf(_SC_PAGESIZE);
}

} // namespace

class TestScreenFlood : public QObject
{
    Q_OBJECT

private slots:
    void outOfMemoryClosesThePortOnce();
    void positionsBeyond2GiB();
};

// Catches a box per receive event (the window unusable until killed), a port left open so the
// flood goes on, or an exception that ends the process.
void TestScreenFlood::outOfMemoryClosesThePortOnce()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("The address sanitizer reserves more address space than a limit can leave");
#else
    Terminal t({"--wait-open", "--flood", "4000000000", "--pattern", "random"});
    BoxAnswerer modal;
    QVERIFY(t.open());
    rlimit old{};
    QCOMPARE(getrlimit(RLIMIT_AS, &old), 0);
    rlimit tight = old;
    // Room for a screen of some ten MiB, not for the next doubling of a hundred or more.
    tight.rlim_cur = rlim_t(addressSpaceInUse() + (256 << 20));
    QCOMPARE(setrlimit(RLIMIT_AS, &tight), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!t.window.MSComm1->portOpen(), 240000);
    QTRY_COMPARE_WITH_TIMEOUT(modal.texts().size(), 1, 20000);
    QCOMPARE(modal.texts().first(), QStringLiteral("ERror in receive routine, std::bad_alloc"));
    QCOMPARE(modal.titles().first(), QStringLiteral("Quorline"));
    QVERIFY(t.window.btnOpen->isEnabled());
    QVERIFY(!t.window.btnClose->isEnabled());
    QVERIFY(t.window.Text1->length() > 0);

    // Still usable under the same limit: the screen clears, takes text and answers keys.
    t.window.ClearScreen->trigger();
    QCOMPARE(t.window.Text1->length(), 0);
    t.window.chkDuplex->setChecked(false);
    QVERIFY(t.open());
    typeKey(t.window.Text1, Qt::Key_A, QStringLiteral("a"));
    QVERIFY(t.window.Text1->length() > 0);
    QCOMPARE(setrlimit(RLIMIT_AS, &old), 0);
    t.window.btnClose->click();
    QCOMPARE(modal.texts().size(), 1);
#endif
}

// Catches a position cut to int: the caret at a negative place after Select All and Right, or
// one Backspace deleting gigabytes.
void TestScreenFlood::positionsBeyond2GiB()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("The address sanitizer cannot hold a screen of this size");
#else
    qputenv("QUORLINE_SCREEN_LIMIT", "4096");
    Screen screen;
    qunsetenv("QUORLINE_SCREEN_LIMIT");
    if (screen.model().limit() < (qint64(3) << 30))
        QSKIP("This machine has too little memory for a screen of 2.25 GiB");
    screen.resize(585, 289);
    screen.show();
    const QByteArray lines =
        QByteArray("0123456789abcdef0123456789abcdef0123456789abcdef0123456789abc\r\n")
            .repeated(1 << 20); // 63 MiB
    for (int i = 0; i < 36; ++i)
        screen.append(lines);
    screen.append("end");
    const qsizetype length = 36 * lines.size() + 3;
    QCOMPARE(screen.length(), length);

    screen.selectAll();
    typeKey(&screen, Qt::Key_Right, QString());
    QCOMPARE(screen.cursorPosition(), length);
    QCOMPARE(screen.property("cursorPosition").toInt(), INT_MAX);
    typeKey(&screen, Qt::Key_Left, QString(), Qt::ShiftModifier);
    QCOMPARE(screen.selectionStart(), length - 1);
    QCOMPARE(screen.selectedBytes(), QByteArray("d"));
    typeKey(&screen, Qt::Key_Backspace, QStringLiteral("\b"));
    QCOMPARE(screen.length(), length - 1);
    QCOMPARE(screen.cursorPosition(), length - 1);
    QVERIFY(screen.model().bytes().endsWith("\r\nen"));
#endif
}

QTEST_MAIN(TestScreenFlood)
#include "tst_screenflood.moc"
