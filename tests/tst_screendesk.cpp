// The screen as a desktop text box: long sessions, input methods, screen readers, word moves,
// Save As and Find, wired into the real widget and window.
#include "terminalsupport.h"
#include "widgets/findwindow.h"

#include <QAccessible>
#include <QCheckBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTemporaryDir>

namespace {

QAction *menuAction(QMenu *menu, const char *name)
{
    for (QAction *a : menu->actions())
        if (a->objectName() == QLatin1String(name))
            return a;
    return nullptr;
}

} // namespace

class TestScreenDesk : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void limitFromEnvironment();
    void inputMethodCommits_data();
    void inputMethodCommits();
    void accessibleText();
    void wordMoves_data();
    void wordMoves();
    void saveAs();
    void saveRefusedIsOneBox();
    void findWindow();
};

void TestScreenDesk::initTestCase()
{
    // The smallest limit there is, so that a few MiB show what a long session does.
    qputenv("QUORLINE_SCREEN_LIMIT", "1");
}

// Catches a screen that grows without bound, loses the newest bytes, or leaves the caret and
// the user's selection on the wrong characters after old rows went.
void TestScreenDesk::limitFromEnvironment()
{
    Screen screen;
    screen.resize(585, 289);
    screen.show();
    QByteArray stream;
    for (int i = 0; stream.size() < 10 * 1024 * 1024; ++i)
        stream += "line " + QByteArray::number(i) + "\r\n";
    const qsizetype half = stream.size() - 100000;
    screen.append(QByteArrayView(stream).first(half));
    screen.setSelection(half - 20, half - 10);
    const QByteArray selected = screen.selectedBytes();
    for (qsizetype at = half; at < stream.size(); at += 4096) {
        screen.append(QByteArrayView(stream).sliced(at, std::min<qsizetype>(4096, stream.size() - at)));
        QCOMPARE(screen.selectedBytes(), selected);
    }
    QVERIFY(screen.droppedTotal() > 0);
    QVERIFY(screen.length() <= 1024 * 1024);
    QVERIFY(screen.bytes() == stream.right(screen.length()));
    screen.setCursorPosition(screen.length());
    QCOMPARE(screen.cursorPosition(), screen.length());
}

void TestScreenDesk::inputMethodCommits_data()
{
    QTest::addColumn<QString>("preedit");
    QTest::addColumn<QString>("commit");
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("dead key e acute") << QString() << QStringLiteral("\u00e9") << QByteArray("\xe9");
    QTest::newRow("euro is ?") << QString() << QStringLiteral("\u20ac") << QByteArray("?");
    QTest::newRow("outside the BMP is one ?") << QString() << QStringLiteral("\U0001F600")
                                              << QByteArray("?");
    QTest::newRow("two characters") << QString() << QStringLiteral("\u00fcb") << QByteArray("\xfc" "b");
    QTest::newRow("pre-edit only") << QStringLiteral("\u00b4") << QString() << QByteArray();
}

// Catches committed text that bypasses the port (typed into the box instead), goes as UTF-8,
// or pre-edit text that is sent before the user has finished composing.
void TestScreenDesk::inputMethodCommits()
{
    QFETCH(QString, preedit);
    QFETCH(QString, commit);
    QFETCH(QByteArray, sent);
    QTemporaryDir dir;
    const QString record = dir.filePath(QStringLiteral("record"));
    Terminal t({"--record", record});
    QVERIFY(t.open());
    QVERIFY(t.window.Text1->testAttribute(Qt::WA_InputMethodEnabled));
    QInputMethodEvent e(preedit, {});
    e.setCommitString(commit);
    QApplication::sendEvent(t.window.Text1, &e);
    // A marker behind it: once the marker has arrived, everything before it has too.
    typeKey(t.window.Text1, Qt::Key_Z, QStringLiteral("z"));
    QTRY_COMPARE(readWhole(record), sent + "z");
    QCOMPARE(t.window.Text1->length(), 0);
}

// Catches a screen that screen readers cannot read: no text interface, wrong text or caret.
void TestScreenDesk::accessibleText()
{
    Screen screen;
    screen.show();
    screen.append(QByteArray("abc\r\n\xe9t\xe9"));
    screen.setSelection(1, 3);
    QAccessibleInterface *a = QAccessible::queryAccessibleInterface(&screen);
    QVERIFY(a);
    QCOMPARE(a->role(), QAccessible::EditableText);
    QAccessibleTextInterface *text = a->textInterface();
    QVERIFY(text);
    QCOMPARE(text->characterCount(), 8);
    QCOMPARE(text->text(0, 8), QStringLiteral("abc\r\n\u00e9t\u00e9"));
    QCOMPARE(text->cursorPosition(), 3);
    int start = -1, end = -1;
    text->selection(0, &start, &end);
    QCOMPARE(start, 1);
    QCOMPARE(end, 3);
    text->setCursorPosition(6);
    QCOMPARE(screen.cursorPosition(), 6);
}

void TestScreenDesk::wordMoves_data()
{
    QTest::addColumn<int>("caret");
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("mods");
    QTest::addColumn<int>("caretAfter");
    QTest::addColumn<QByteArray>("selected");
    const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
    const Qt::KeyboardModifiers both = Qt::ControlModifier | Qt::ShiftModifier;
    // "one two,  three\r\nfour": words at 0, 4, 7 (the comma), 10 and 17.
    QTest::newRow("right from word start") << 0 << int(Qt::Key_Right) << ctrl << 4 << QByteArray();
    QTest::newRow("right inside word") << 5 << int(Qt::Key_Right) << ctrl << 7 << QByteArray();
    QTest::newRow("right over line break") << 10 << int(Qt::Key_Right) << ctrl << 17 << QByteArray();
    QTest::newRow("right at end") << 21 << int(Qt::Key_Right) << ctrl << 21 << QByteArray();
    QTest::newRow("left over line break") << 17 << int(Qt::Key_Left) << ctrl << 10 << QByteArray();
    QTest::newRow("left inside word") << 12 << int(Qt::Key_Left) << ctrl << 10 << QByteArray();
    QTest::newRow("left at start") << 0 << int(Qt::Key_Left) << ctrl << 0 << QByteArray();
    QTest::newRow("select word right") << 4 << int(Qt::Key_Right) << both << 7 << QByteArray("two");
    QTest::newRow("select word left") << 7 << int(Qt::Key_Left) << both << 4 << QByteArray("two");
    QTest::newRow("ctrl end") << 3 << int(Qt::Key_End) << ctrl << 21 << QByteArray();
    QTest::newRow("ctrl shift home") << 3 << int(Qt::Key_Home) << both << 0 << QByteArray("one");
}

// Catches word moves that stop inside a CR LF, miss a word, or send a code to the port.
void TestScreenDesk::wordMoves()
{
    QFETCH(int, caret);
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, mods);
    QFETCH(int, caretAfter);
    QFETCH(QByteArray, selected);
    Screen screen;
    screen.show();
    int keyPresses = 0;
    connect(&screen, &Screen::KeyPress, &screen, [&keyPresses](int &) { ++keyPresses; });
    screen.append("one two,  three\r\nfour");
    screen.setCursorPosition(caret);
    typeKey(&screen, Qt::Key(key), QString(), mods);
    QCOMPARE(screen.cursorPosition(), caretAfter);
    QCOMPARE(screen.selectedBytes(), selected);
    QCOMPARE(keyPresses, 0);
}

// Catches a save that changes bytes, or a Ctrl+Shift+S that sends 19 instead of saving.
void TestScreenDesk::saveAs()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("screen.bin"));
    Screen screen;
    screen.show();
    int keyPresses = 0;
    connect(&screen, &Screen::KeyPress, &screen, [&keyPresses](int &) { ++keyPresses; });
    int asked = 0;
    screen.setSaveChooser([&asked, &path](QWidget *) {
        ++asked;
        return QString(path);
    });
    screen.append(all256());
    QScopedPointer<QMenu> menu(screen.createContextMenu());
    QAction *save = menuAction(menu.get(), "SaveScreen");
    QVERIFY(save);
    QCOMPARE(save->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+S")));
    save->trigger();
    QCOMPARE(readWhole(path), all256());
    screen.append("more");
    typeKey(&screen, Qt::Key_S, QStringLiteral("\x13"), Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(asked, 2);
    QCOMPARE(keyPresses, 0);
    QCOMPARE(readWhole(path), all256() + "more");
}

// Catches a refusal that passes silently, shows several boxes, or a wrong caption.
void TestScreenDesk::saveRefusedIsOneBox()
{
    QTemporaryDir dir;
    Screen screen;
    screen.show();
    screen.append("text");
    screen.setSaveChooser([&dir](QWidget *) { return dir.path(); });
    ModalWatch modal;
    screen.saveAs();
    QCOMPARE(modal.titles, QStringList{QStringLiteral("Quorline")});
    QVERIFY(modal.texts.value(0).contains(QDir::toNativeSeparators(dir.path())));
}

// Catches a find window that searches the wrong way, misses matches after old rows went or new
// data came, or gives no clear result for text the screen cannot hold.
void TestScreenDesk::findWindow()
{
    Screen screen;
    screen.resize(585, 289);
    screen.show();
    int keyPresses = 0;
    connect(&screen, &Screen::KeyPress, &screen, [&keyPresses](int &) { ++keyPresses; });
    for (int i = 0; i < 500; ++i)
        screen.append(i == 3 ? "Needle here\r\n" : "hay hay hay\r\n");
    screen.append("needle at the end\r\n");
    screen.setCursorPosition(screen.length());
    typeKey(&screen, Qt::Key_F, QStringLiteral("\x06"), Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(keyPresses, 0);
    auto *find = screen.window()->findChild<FindWindow *>(QStringLiteral("FindWindow"));
    QVERIFY(find);
    QVERIFY(find->isVisible());
    QVERIFY(!find->isModal());

    const auto search = [find](const QString &text, Qt::Key key, Qt::KeyboardModifiers mods = {}) {
        find->findText->setText(text);
        QTest::keyClick(find->findText, key, mods);
    };
    search(QStringLiteral("needle"), Qt::Key_Return);
    QCOMPARE(screen.selectedBytes(), QByteArray("Needle"));
    QCOMPARE(screen.selectionStart(), 3 * 13);
    search(QStringLiteral("needle"), Qt::Key_F3);
    QCOMPARE(screen.selectionStart(), 500 * 13);
    search(QStringLiteral("needle"), Qt::Key_F3, Qt::ShiftModifier);
    QCOMPARE(screen.selectionStart(), 3 * 13);
    find->matchCase->setChecked(true);
    search(QStringLiteral("Needle"), Qt::Key_F3, Qt::ShiftModifier);
    QCOMPARE(screen.selectionStart(), 3 * 13);
    // Data arriving between two searches does not lose the place.
    screen.append("late needle, Needle\r\n");
    screen.setCursorPosition(screen.length());
    search(QStringLiteral("Needle"), Qt::Key_F3);
    QCOMPARE(screen.selectionStart(), 500 * 13 + 19 + 13);

    for (const QString &bad : {QString(), QStringLiteral("\u20ac"), QString(10000, QLatin1Char('h'))}) {
        const qsizetype before = screen.selectionStart();
        search(bad, Qt::Key_Return);
        QCOMPARE(screen.selectionStart(), before);
        QVERIFY(!find->result->text().isEmpty());
        QVERIFY(!find->result->text().startsWith(QLatin1String("Found")));
    }
}

QTEST_MAIN(TestScreenDesk)
#include "tst_screendesk.moc"
