// The screen as a desktop text box, wired into the real widget and window: long sessions, input
// methods, screen readers, word moves, Save As and Find.
#include "support/boxanswerer.h"
#include "support/events.h"
#include "support/files.h"
#include "support/peer.h"
#include "support/terminal.h"

#include "widgets/findwindow.h"
#include <QTest>

#include <QAccessible>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>

class TestScreenDesk : public QObject
{
    Q_OBJECT

private slots:
    void limitFromEnvironment();
    void inputMethodCommits_data();
    void inputMethodCommits();
    void accessibleText();
    void wordMoves_data();
    void wordMoves();
    void saveAs();
    void findWindow();
};

// Catches a screen that grows without bound or leaves the user's selection on other characters
// after old rows went.
void TestScreenDesk::limitFromEnvironment()
{
    qputenv("QUORLINE_SCREEN_LIMIT", "1");
    Screen screen;
    qunsetenv("QUORLINE_SCREEN_LIMIT");
    screen.show();
    QByteArray stream;
    for (int i = 0; stream.size() < 10 * 1024 * 1024; ++i)
        stream += "line " + QByteArray::number(i) + "\r\n";
    const qsizetype split = stream.size() - 300000;
    screen.append(QByteArrayView(stream).first(split));
    screen.setSelection(screen.length() - 100, screen.length() - 95);
    const qint64 droppedBefore = screen.droppedTotal();
    for (qsizetype at = split; at < stream.size(); at += 4096)
        screen.append(
            QByteArrayView(stream).sliced(at).first(std::min<qsizetype>(4096, stream.size() - at)));
    QVERIFY(screen.droppedTotal() > droppedBefore);
    QCOMPARE(screen.selectedBytes(), stream.mid(split - 100, 5));
    QVERIFY(screen.length() <= 1024 * 1024);
    QVERIFY(screen.bytes() == stream.right(screen.length()));
}

void TestScreenDesk::inputMethodCommits_data()
{
    QTest::addColumn<QString>("preedit");
    QTest::addColumn<QString>("commit");
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("dead key e acute")
        << QString() << QStringLiteral("\u00e9") << QByteArray("\xe9");
    QTest::newRow("euro is ?") << QString() << QStringLiteral("\u20ac") << QByteArray("?");
    QTest::newRow("pre-edit only") << QStringLiteral("\u00b4") << QString() << QByteArray();
}

// Catches committed text typed into the box instead of sent, sent as UTF-8, or pre-edit text
// sent before the user has finished composing.
void TestScreenDesk::inputMethodCommits()
{
    QFETCH(QString, preedit);
    QFETCH(QString, commit);
    QFETCH(QByteArray, sent);
    Terminal t({}, {.record = true});
    QVERIFY(t.open());
    QInputMethodEvent e(preedit, {});
    e.setCommitString(commit);
    QApplication::sendEvent(t.window.Text1, &e);
    // Once the marker behind it has arrived, everything before it has too.
    typeKey(t.window.Text1, Qt::Key_Z, QStringLiteral("z"));
    QTRY_COMPARE(t.received(), sent + "z");
    QCOMPARE(t.window.Text1->length(), 0);
}

// Catches a screen that screen readers cannot read: no text interface, wrong text or caret.
void TestScreenDesk::accessibleText()
{
    Screen screen;
    screen.append(QByteArray("abc\r\n\xe9t\xe9"));
    screen.setSelection(1, 3);
    QAccessibleInterface *a = QAccessible::queryAccessibleInterface(&screen);
    QVERIFY(a && a->textInterface());
    QCOMPARE(a->role(), QAccessible::EditableText);
    QCOMPARE(a->textInterface()->text(0, 8), QStringLiteral("abc\r\n\u00e9t\u00e9"));
    QCOMPARE(a->textInterface()->cursorPosition(), 3);
    int start = -1, end = -1;
    a->textInterface()->selection(0, &start, &end);
    QCOMPARE(std::pair(start, end), std::pair(1, 3));
}

void TestScreenDesk::wordMoves_data()
{
    QTest::addColumn<int>("caret");
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("shift");
    QTest::addColumn<int>("caretAfter");
    QTest::addColumn<QByteArray>("selected");
    // "one two,  three\r\nfour": words at 0, 4, 7 (the comma), 10 and 17.
    QTest::newRow("right inside a word") << 5 << int(Qt::Key_Right) << false << 7 << QByteArray();
    QTest::newRow("left over a line break")
        << 17 << int(Qt::Key_Left) << false << 10 << QByteArray();
    QTest::newRow("select a word") << 4 << int(Qt::Key_Right) << true << 7 << QByteArray("two");
    QTest::newRow("select to the start")
        << 3 << int(Qt::Key_Home) << true << 0 << QByteArray("one");
}

// Catches Ctrl+arrows not wired to the word moves (the moves are tst_screenbytes'), a Shift that
// does not select, or a word key sent to the port.
void TestScreenDesk::wordMoves()
{
    QFETCH(int, caret);
    QFETCH(int, key);
    QFETCH(bool, shift);
    QFETCH(int, caretAfter);
    QFETCH(QByteArray, selected);
    Screen screen;
    int keyPresses = 0;
    connect(&screen, &Screen::KeyPress, &screen, [&keyPresses](int &) { ++keyPresses; });
    screen.append("one two,  three\r\nfour");
    screen.setCursorPosition(caret);
    typeKey(&screen, Qt::Key(key), QString(),
            Qt::ControlModifier | (shift ? Qt::ShiftModifier : Qt::NoModifier));
    QCOMPARE(screen.cursorPosition(), caretAfter);
    QCOMPARE(screen.selectedBytes(), selected);
    QCOMPARE(keyPresses, 0);
}

// Catches a save that changes bytes, a Ctrl+Shift+S that sends 19, or a silent refusal.
void TestScreenDesk::saveAs()
{
    const TempFiles dir;
    QString path = dir.path(QStringLiteral("screen.bin"));
    Screen screen;
    int keyPresses = 0;
    connect(&screen, &Screen::KeyPress, &screen, [&keyPresses](int &) { ++keyPresses; });
    screen.setSaveChooser([&path](QWidget *) { return QString(path); });
    screen.append(all256());
    screen.show();
    screen.activateWindow();
    screen.setFocus();
    QVERIFY(QTest::qWaitForWindowActive(&screen));
    QScopedPointer<QMenu> menu(screen.createContextMenu());
    auto *save = screen.findChild<QAction *>(QStringLiteral("SaveScreen"));
    QVERIFY(save && menu->actions().contains(save));
    save->trigger();
    QCOMPARE(readWhole(path), all256());
    screen.append("more");
    typeKey(&screen, Qt::Key_S, QStringLiteral("\x13"), Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(readWhole(path), all256() + "more");
    QCOMPARE(keyPresses, 0);

    path = dir.path();
    BoxAnswerer modal;
    screen.saveAs();
    QCOMPARE(modal.titles(), QStringList{QStringLiteral("Quorline")});
}

// Catches a find window that is modal, searches the wrong way, loses its place when data comes,
// or gives no clear result for text the screen cannot hold.
void TestScreenDesk::findWindow()
{
    Screen screen;
    for (int i = 0; i < 500; ++i)
        screen.append(i == 3 ? "Needle here\r\n" : "hay hay hay\r\n");
    screen.append("needle at the end\r\n");
    screen.show();
    screen.activateWindow();
    screen.setFocus();
    QVERIFY(QTest::qWaitForWindowActive(&screen));
    QScopedPointer<QMenu> menu(screen.createContextMenu());
    QVERIFY(menu->actions().contains(screen.findChild<QAction *>(QStringLiteral("FindText"))));
    typeKey(&screen, Qt::Key_F, QStringLiteral("\x06"), Qt::ControlModifier | Qt::ShiftModifier);
    auto *find = screen.window()->findChild<FindWindow *>(QStringLiteral("FindWindow"));
    QVERIFY(find && find->isVisible() && !find->isModal());
    const auto search = [find](const char *text, Qt::Key key, Qt::KeyboardModifiers mods = {}) {
        find->findText->setText(QString::fromUtf8(text));
        QTest::keyClick(find->findText, key, mods);
    };
    search("needle", Qt::Key_Return);
    QCOMPARE(screen.selectionStart(), 3 * 13);
    QCOMPARE(screen.selectedBytes(), QByteArray("Needle"));
    search("needle", Qt::Key_F3);
    QCOMPARE(screen.selectionStart(), 500 * 13);
    screen.append("late Needle\r\n");
    screen.setCursorPosition(screen.length());
    search("needle", Qt::Key_F3, Qt::ShiftModifier);
    QCOMPARE(screen.selectionStart(), 3 * 13);
    search("\u20ac", Qt::Key_Return);
    QCOMPARE(screen.selectionStart(), 3 * 13);
    QVERIFY(find->result->text().startsWith(QLatin1String("Not found")));
    // After Clear Screen the search starts afresh, not from the old match's place (39).
    screen.clear();
    screen.append("needle" + QByteArray(39, 'x') + "needle\r\n");
    search("needle", Qt::Key_F3);
    QCOMPARE(screen.selectionStart(), 0);
}

QTEST_MAIN(TestScreenDesk)
#include "tst_screendesk.moc"
