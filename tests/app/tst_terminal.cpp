#include "support/boxanswerer.h"
#include "support/events.h"
#include "support/expectednotation.h"
#include "support/files.h"
#include "support/terminal.h"
#include "support/testmain.h"

#include <QCheckBox>
#include <QDateTime>
#include <QHelpEvent>
#include <QSerialPort>
#include <QTest>
#include <QToolTip>

#include <sys/resource.h>

namespace {

// The port under the control, to see how much has arrived before the handler runs.
QSerialPort *serialPort(Form1 &window)
{
    return window.MSComm1->findChild<QSerialPort *>();
}

// Holds received bytes back from the handler until the test raises the event itself.
void holdEvents(Form1 &window)
{
    window.MSComm1->blockSignals(true);
}

#if !defined(__SANITIZE_ADDRESS__)
// Bytes of address space the test process holds.
qint64 addressSpaceInUse()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmSize:"))
            return line.mid(7).trimmed().split(' ').value(0).toLongLong() * 1024;
    return 0;
}
#endif

bool waitForInput(Form1 &window, qint64 count)
{
    QSerialPort *port = serialPort(window);
    (void)QTest::qWaitFor([port, count] { return !port || port->bytesAvailable() >= count; },
                          10000);
    return port && port->bytesAvailable() == count;
}

} // namespace

class TestTerminal : public QObject
{
    Q_OBJECT

private slots:
    void controlNameIsTheTable();
    void receiveAll256_data();
    void receiveAll256();
    void oneLargeRead_data();
    void oneLargeRead();
    void failedEventKeepsText();
    void lineEndsPerEvent();
    void notationSwitchAtNextEvent();
    void receiveMovesCaretToEnd();
    void rowArrivalTooltips();
    void echo_data();
    void echo();
    void echoLandsAtEnd();
    void duplexSwitchAtNextKey();
    void keysWhilePortClosed();
    void shellAnswers();
    void peerVanishes();
};

void TestTerminal::controlNameIsTheTable()
{
    Form1 window(PortMap::build(QProcessEnvironment(), {}));
    window.Form_Load();
    QCOMPARE(window.ControlName(0), QStringLiteral("NUL"));
    QCOMPARE(window.ControlName(31), QStringLiteral("US"));
    QCOMPARE(window.ControlName(32), QStringLiteral("[??]"));
    QCOMPARE(window.ControlName(-1), QStringLiteral("[??]"));
}

void TestTerminal::receiveAll256_data()
{
    QTest::addColumn<bool>("notation");
    QTest::addColumn<QByteArray>("shown");
    QTest::newRow("notation") << true << expectedNotation(all256());
    // No LF CR pair among 0..255 in order, so raw display keeps every byte as it came.
    QTest::newRow("raw") << false << all256();
}

void TestTerminal::receiveAll256()
{
    QFETCH(bool, notation);
    QFETCH(QByteArray, shown);
    Terminal t({"--wait-open", "--delay", "300", "--send-all256"});
    t.window.chkShowControl->setChecked(notation);
    BoxAnswerer modal;
    QVERIFY(t.open());
    QTRY_COMPARE(t.window.Text1->length(), shown.size());
    QCOMPARE(t.window.Text1->bytes(), shown);
    QCOMPARE(t.window.Text1->cursorPosition(), shown.size());
    QVERIFY(t.window.RxBuffer.isEmpty());
    QVERIFY(modal.texts().isEmpty());
}

// Any length renders in one event: no counter limits the notation.
void TestTerminal::oneLargeRead_data()
{
    QTest::addColumn<bool>("notation");
    QTest::newRow("notation") << true;
    QTest::newRow("raw") << false;
}

void TestTerminal::oneLargeRead()
{
    QFETCH(bool, notation);
    const int size = 100000;
    Terminal t(
        {"--wait-open", "--delay", "300", "--flood", QString::number(size), "--pattern", "all256"});
    t.window.chkShowControl->setChecked(notation);
    holdEvents(t.window);
    QVERIFY(t.open());
    QVERIFY(waitForInput(t.window, size));

    BoxAnswerer modal;
    t.window.MSComm1_OnComm();
    QByteArray sent;
    for (int i = 0; i < size; ++i)
        sent.append(char(i & 0xff));
    const QByteArray shown = notation ? expectedNotation(sent) : sent;
    QCOMPARE(t.window.Text1->length(), shown.size());
    QVERIFY(t.window.Text1->bytes() == shown);
    QCOMPARE(t.window.Text1->cursorPosition(), shown.size());
    QVERIFY(t.window.RxBuffer.isEmpty());
    QCoreApplication::processEvents(); // a box posted by the event comes up now
    QVERIFY(modal.texts().isEmpty());
}

// An event that runs out of memory shows the message, and its text comes with the next event.
void TestTerminal::failedEventKeepsText()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("The address sanitizer reserves more address space than a limit can leave");
#else
    Terminal t({"--echo"});
    holdEvents(t.window);
    QVERIFY(t.open());
    // Lines, so that the screen takes the recovered text at once; LF CR CR becomes CR LF CR
    // when converted once, CR CR LF if converted twice.
    const QByteArray kept = QByteArray("\x01 kept\n\r\r line\r\n").repeated(1 << 20);
    t.window.RxBuffer = kept;

    rlimit old{};
    QCOMPARE(getrlimit(RLIMIT_AS, &old), 0);
    BoxAnswerer modal;
    {
        // Room for the message box (and a thread it may start), not for the rendered text.
        rlimit tight = old;
        tight.rlim_cur = rlim_t(addressSpaceInUse() + (40 << 20));
        QCOMPARE(setrlimit(RLIMIT_AS, &tight), 0);
        t.window.MSComm1_OnComm();
        QCOMPARE(setrlimit(RLIMIT_AS, &old), 0);
    }
    QCOMPARE(modal.texts(),
             QStringList{QStringLiteral("ERror in receive routine, std::bad_alloc")});
    QVERIFY(t.window.RxBuffer == kept);
    QCOMPARE(t.window.Text1->length(), 0);
    // Out of memory closes the port, so that a flood cannot raise a box per event.
    QVERIFY(!t.window.MSComm1->portOpen());
    QVERIFY(t.window.btnOpen->isEnabled());
    QVERIFY(t.open());

    t.window.chkShowControl->setChecked(false);
    t.window.MSComm1->setOutput("new");
    QVERIFY(waitForInput(t.window, 3));
    t.window.MSComm1_OnComm();
    QCOMPARE(t.window.Text1->length(), kept.size() + 3);
    QVERIFY(t.window.Text1->bytes() ==
            QByteArray("\x01 kept\r\n\r line\r\n").repeated(1 << 20) + "new");
    QVERIFY(t.window.RxBuffer.isEmpty());
#endif
}

// Each event converts its own text: a pair split between two events stays as it came.
void TestTerminal::lineEndsPerEvent()
{
    Terminal t({"--echo"});
    t.window.chkShowControl->setChecked(false);
    holdEvents(t.window);
    QVERIFY(t.open());

    t.window.MSComm1->setOutput("A\n\rB\r\n\r\n\n");
    QVERIFY(waitForInput(t.window, 9));
    t.window.MSComm1_OnComm();
    QCOMPARE(t.window.Text1->bytes(), QByteArray("A\r\nB\r\r\n\n\n"));

    t.window.MSComm1->setOutput("\rC\x1b\x80\xff");
    QVERIFY(waitForInput(t.window, 5));
    t.window.MSComm1_OnComm();
    QCOMPARE(t.window.Text1->bytes(), QByteArray("A\r\nB\r\r\n\n\n\rC\x1b\x80\xff"));
}

void TestTerminal::notationSwitchAtNextEvent()
{
    Terminal t({"--echo"});
    holdEvents(t.window);
    QVERIFY(t.open());

    t.window.MSComm1->setOutput("\x01\n\r");
    QVERIFY(waitForInput(t.window, 3));
    t.window.MSComm1_OnComm();
    QCOMPARE(t.window.Text1->bytes(), QByteArray("[SOH][LF][CR]"));

    t.window.chkShowControl->click();
    QVERIFY(!t.window.chkShowControl->isChecked());
    QCOMPARE(t.window.Text1->bytes(), QByteArray("[SOH][LF][CR]"));
    t.window.MSComm1->setOutput("\x01\n\r");
    QVERIFY(waitForInput(t.window, 3));
    t.window.MSComm1_OnComm();
    QCOMPARE(t.window.Text1->bytes(), QByteArray("[SOH][LF][CR]\x01\r\n"));

    t.window.chkShowControl->click();
    t.window.MSComm1->setOutput("\xe9");
    QVERIFY(waitForInput(t.window, 1));
    t.window.MSComm1_OnComm();
    QCOMPARE(t.window.Text1->bytes(), QByteArray("[SOH][LF][CR]\x01\r\n[E9]"));
}

void TestTerminal::receiveMovesCaretToEnd()
{
    Terminal t({"--echo"});
    QVERIFY(t.open());
    t.window.Text1->setText(QStringLiteral("first line"));
    t.window.Text1->setCursorPosition(3);
    // A selection from the caret towards the start.
    typeKey(t.window.Text1, Qt::Key_Home, QString(), Qt::ShiftModifier);

    t.window.MSComm1->setOutput("xyz");
    QTRY_COMPARE(t.window.Text1->bytes(), QByteArray("first linexyz"));
    QCOMPARE(t.window.Text1->cursorPosition(), 13);

    // An event with nothing waiting only moves the caret.
    t.window.Text1->setCursorPosition(2);
    t.window.MSComm1_OnComm();
    QCOMPARE(t.window.Text1->bytes(), QByteArray("first linexyz"));
    QCOMPARE(t.window.Text1->cursorPosition(), 13);
}

// Catches rows stamped by another clock or with another piece's time, and a tooltip that names
// another row or leaves out the time since the row before.
void TestTerminal::rowArrivalTooltips()
{
    // Two lines 1.2 s apart: 6 bytes at a time, 5 bytes a second.
    Terminal t({"--wait-open", "--send", "one.\\r\\ntwo.\\r\\n", "--rate", "5", "--piece", "6"});
    t.window.chkShowControl->setChecked(false);
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    QVERIFY(t.open());
    QTRY_COMPARE_WITH_TIMEOUT(t.window.Text1->bytes(), QByteArray("one.\r\ntwo.\r\n"), 10000);
    QStringList tips;
    for (const int row : {0, 1}) {
        const QPoint at(20, QFontMetrics(t.window.Text1->font()).lineSpacing() * (2 * row + 1) / 2);
        QHelpEvent hover(QEvent::ToolTip, at, t.window.Text1->viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(t.window.Text1->viewport(), &hover);
        tips.append(QToolTip::text());
    }
    const QString form = QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz");
    const qint64 first = QDateTime::fromString(tips[0], form).toMSecsSinceEpoch();
    const qint64 second = QDateTime::fromString(tips[1].left(23), form).toMSecsSinceEpoch();
    QVERIFY2(first >= before - 1 && std::abs(second - first - 1200) <= 150,
             qPrintable(tips.join('|')));
    QCOMPARE(tips[1].mid(23),
             QStringLiteral(" (+%1 s)").arg(double(second - first) / 1000, 0, 'f', 3));
}

void TestTerminal::echo_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("fullDuplex");
    QTest::addColumn<bool>("notation");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("echo");

    struct Key
    {
        const char *name;
        Qt::Key key;
        QString text;
        Qt::KeyboardModifiers modifiers;
        QByteArray sent;
        QByteArray notationEcho;
        QByteArray plainEcho;
    };
    const Key keys[] = {
        {"Enter", Qt::Key_Return, "\r", {}, "\r", "[CR]\r\n", "\r\n"},
        {"Backspace", Qt::Key_Backspace, "\b", {}, "\b", "[BS]", ""},
        {"Escape", Qt::Key_Escape, "\x1b", {}, "\x1b", "[ESC]", ""},
        {"Ctrl+A", Qt::Key_A, "\x01", Qt::ControlModifier, "\x01", "[SOH]", ""},
        {"DEL", Qt::Key_Backspace, "\x7f", Qt::ControlModifier, "\x7f", "\x7f", ""},
        {"e acute", Qt::Key_Eacute, QString(QChar(233)), {}, "\xe9", "[E9]", ""},
        {"letter", Qt::Key_A, "a", {}, "a", "a", "a"},
        {"outside Latin-1", Qt::Key_unknown, QString(QChar(0x20ac)), {}, "?", "?", "?"},
    };
    for (const Key &k : keys) {
        const int modifiers = int(k.modifiers.toInt());
        QTest::addRow("half, notation, %s", k.name)
            << int(k.key) << k.text << modifiers << false << true << k.sent << k.notationEcho;
        QTest::addRow("half, plain, %s", k.name)
            << int(k.key) << k.text << modifiers << false << false << k.sent << k.plainEcho;
        QTest::addRow("full, notation, %s", k.name)
            << int(k.key) << k.text << modifiers << true << true << k.sent << QByteArray();
        QTest::addRow("full, plain, %s", k.name)
            << int(k.key) << k.text << modifiers << true << false << k.sent << QByteArray();
    }
}

void TestTerminal::echo()
{
    QFETCH(int, key);
    QFETCH(QString, text);
    QFETCH(int, modifiers);
    QFETCH(bool, fullDuplex);
    QFETCH(bool, notation);
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, echo);

    Terminal t({}, {.record = true});
    QVERIFY(t.open());
    t.window.chkDuplex->setChecked(fullDuplex);
    t.window.chkShowControl->setChecked(notation);
    t.window.Text1->setText(QStringLiteral("before"));

    typeKey(t.window.Text1, Qt::Key(key), text, Qt::KeyboardModifiers::fromInt(modifiers));
    QTRY_COMPARE(t.received(), sent);
    // The key was consumed: nothing but the echo reached the screen.
    QCOMPARE(t.window.Text1->bytes(), "before" + echo);
    if (!fullDuplex)
        QCOMPARE(t.window.Text1->cursorPosition(), t.window.Text1->length());
}

void TestTerminal::echoLandsAtEnd()
{
    Terminal t;
    QVERIFY(t.open());
    t.window.chkDuplex->setChecked(false);
    t.window.chkShowControl->setChecked(false);
    t.window.Text1->setText(QStringLiteral("hello world"));
    t.window.Text1->setCursorPosition(0);
    typeKey(t.window.Text1, Qt::Key_End, QString(), Qt::ShiftModifier);
    typeKey(t.window.Text1, Qt::Key_X, "x");
    QCOMPARE(t.window.Text1->bytes(), QByteArray("hello worldx"));
    QCOMPARE(t.window.Text1->cursorPosition(), 12);
    // With the caret moved back, the next echo still goes to the end.
    t.window.Text1->setCursorPosition(5);
    typeKey(t.window.Text1, Qt::Key_Y, "y");
    QCOMPARE(t.window.Text1->bytes(), QByteArray("hello worldxy"));
    QCOMPARE(t.window.Text1->cursorPosition(), 13);
}

void TestTerminal::duplexSwitchAtNextKey()
{
    Terminal t({}, {.record = true});
    QVERIFY(t.open());
    typeKey(t.window.Text1, Qt::Key_A, "a");
    QCOMPARE(t.window.Text1->bytes(), QByteArray());

    t.window.chkDuplex->click();
    QVERIFY(!t.window.chkDuplex->isChecked());
    typeKey(t.window.Text1, Qt::Key_Escape, "\x1b");
    QCOMPARE(t.window.Text1->bytes(), QByteArray("[ESC]"));

    t.window.chkShowControl->click();
    typeKey(t.window.Text1, Qt::Key_Escape, "\x1b");
    typeKey(t.window.Text1, Qt::Key_B, "b");
    QCOMPARE(t.window.Text1->bytes(), QByteArray("[ESC]b"));

    t.window.chkDuplex->click();
    typeKey(t.window.Text1, Qt::Key_C, "c");
    QCOMPARE(t.window.Text1->bytes(), QByteArray("[ESC]b"));
    QTRY_COMPARE(t.received(), QByteArray("a\x1b\x1b"
                                          "bc"));
}

// Without an open port each key shows the message and is then typed by the screen itself.
void TestTerminal::keysWhilePortClosed()
{
    Terminal t;
    t.window.chkDuplex->setChecked(false);
    t.window.Text1->setText(QStringLiteral("ab"));
    t.window.Text1->setCursorPosition(1);
    for (const char *key : {"x", "y"}) {
        BoxAnswerer modal;
        typeKey(t.window.Text1, Qt::Key_X, QString::fromLatin1(key));
        QCOMPARE(modal.titles(), QStringList{QStringLiteral("Quorline")});
        QCOMPARE(modal.texts(),
                 QStringList{QStringLiteral("Error sending output .. port probably not open")});
    }
    QCOMPARE(t.window.Text1->bytes(), QByteArray("axyb"));
}

void TestTerminal::shellAnswers()
{
    Terminal t({"--exec", "sh"});
    QVERIFY(t.open());
    // Typed after the shell's first prompt, which otherwise can come between echo and answer.
    (void)QTest::qWaitFor([&t] { return t.window.Text1->length() > 0; }, 5000);
    QTest::keyClicks(t.window.Text1, "echo hi");
    QTest::keyClick(t.window.Text1, Qt::Key_Return);
    // The shell's terminal echoes the command line; its answer follows on a line of its own.
    QTRY_VERIFY2_WITH_TIMEOUT(t.window.Text1->bytes().contains("echo hi[CR][LF]hi[CR][LF]"),
                              t.window.Text1->bytes().constData(), 10000);
}

void TestTerminal::peerVanishes()
{
    Terminal t(
        {"--wait-open", "--flood", "100000000", "--pattern", "random", "--hangup-after", "700"});
    {
        BoxAnswerer modal;
        QVERIFY(t.open());
        QTRY_VERIFY_WITH_TIMEOUT(!t.window.MSComm1->portOpen(), 10000);
        // The loss is told once, and the buttons show the closed port.
        QTRY_COMPARE_WITH_TIMEOUT(modal.texts().size(), 1, 10000);
        QCOMPARE(modal.texts().first(),
                 "ERror in receive routine, COM1 (" + t.peer.path() + ") was disconnected");
        QVERIFY(t.window.btnOpen->isEnabled() && !t.window.btnClose->isEnabled());
        const qsizetype shown = t.window.Text1->length();
        QVERIFY(shown > 0);
        QCoreApplication::processEvents(); // anything still queued for the screen arrives now
        QCOMPARE(t.window.Text1->length(), shown);
        QCOMPARE(modal.texts().size(), 1);
    }
    // The port is closed now: a key brings the usual message.
    BoxAnswerer message;
    typeKey(t.window.Text1, Qt::Key_A, "a");
    QCOMPARE(message.texts(),
             QStringList{QStringLiteral("Error sending output .. port probably not open")});
}

QUORLINE_TEST_MAIN(TestTerminal, "failedEventKeepsText")
#include "tst_terminal.moc"
