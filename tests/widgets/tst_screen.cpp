#include "support/events.h"
#include "support/files.h"
#include "widgets/screen.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QAction *menuAction(QMenu *menu, const char *name)
{
    for (QAction *a : menu->actions())
        if (a->objectName() == QLatin1String(name))
            return a;
    return nullptr;
}

} // namespace

class TestScreen : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void keyCodes_data();
    void keyCodes();
    void unconsumedKeysEdit_data();
    void unconsumedKeysEdit();
    void consumedKeysChangeNothing();
    void handlerMayChangeTheCode();
    void contextMenuActions();
    void contextMenuPopsUpForTheUser();
    void appendKeepsCaretAndCaretGoesToEndInView_data();
    void appendKeepsCaretAndCaretGoesToEndInView();
    void appendsBetweenFramesPaintOnce();
    void clearScreen();
    void exactTextAndLossyInput();
    void controlCodesAreDrawnVisibly();
    void mouseSelection();
    void tabOrderAndTabKey();

private:
    Screen *m_screen = nullptr;
};

void TestScreen::init()
{
    m_screen = new Screen;
    m_screen->setFont(QFont(QStringLiteral("MS Sans Serif"), 10));
    m_screen->resize(585, 289);
    m_screen->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_screen));
    m_screen->setFocus();
    QGuiApplication::clipboard()->clear();
}

void TestScreen::cleanup()
{
    delete m_screen;
    m_screen = nullptr;
}

void TestScreen::keyCodes_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("mods");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("code"); // -1: no character event

    // The codes themselves are tst_typedtext's table; these rows prove the screen asks it: a
    // character, Tab (which leaves other widgets), a key with no character, and one that edits.
    const Qt::KeyboardModifiers none;
    QTest::newRow("a") << int(Qt::Key_A) << none << "a" << 97;
    QTest::newRow("tab") << int(Qt::Key_Tab) << none << "\t" << 9;
    QTest::newRow("left") << int(Qt::Key_Left) << none << "" << -1;
    QTest::newRow("delete") << int(Qt::Key_Delete) << none << "\x7f" << -1;
}

void TestScreen::keyCodes()
{
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, mods);
    QFETCH(QString, text);
    QFETCH(int, code);

    QList<int> seen;
    connect(m_screen, &Screen::KeyPress, this, [&seen](int &keyAscii) {
        seen.append(keyAscii);
        keyAscii = 0;
    });
    m_screen->append("abc\r\ndef");
    m_screen->setCursorPosition(5);
    typeKey(m_screen, Qt::Key(key), text, mods);
    QCOMPARE(seen, code < 0 ? QList<int>{} : QList<int>{code});
    if (code >= 0) // consumed: the box did nothing with it
        QCOMPARE(m_screen->cursorPosition(), 5);
    QCOMPARE(m_screen->bytes(), QByteArray(key == Qt::Key_Delete ? "abc\r\nef" : "abc\r\ndef"));
}

void TestScreen::unconsumedKeysEdit_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<int>("anchor");
    QTest::addColumn<int>("caret");
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("mods");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<int>("caretAfter");

    const Qt::KeyboardModifiers none;
    const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
    const Qt::KeyboardModifiers shift = Qt::ShiftModifier;
    QTest::newRow("letter at caret")
        << QByteArray("xy") << 1 << 1 << int(Qt::Key_A) << none << "a" << QByteArray("xay") << 2;
    QTest::newRow("letter replaces selection")
        << QByteArray("hello") << 1 << 4 << int(Qt::Key_A) << none << "a" << QByteArray("hao") << 2;
    QTest::newRow("latin-1 letter") << QByteArray("") << 0 << 0 << int(Qt::Key_Eacute) << none
                                    << QStringLiteral("\u00e9") << QByteArray("\xe9") << 1;
    QTest::newRow("other letter is ?") << QByteArray("") << 0 << 0 << int(Qt::Key_unknown) << none
                                       << QStringLiteral("\u20ac") << QByteArray("?") << 1;
    QTest::newRow("enter inserts CR LF") << QByteArray("ab") << 1 << 1 << int(Qt::Key_Return)
                                         << none << "\r" << QByteArray("a\r\nb") << 3;
    QTest::newRow("backspace") << QByteArray("abc") << 2 << 2 << int(Qt::Key_Backspace) << none
                               << "\b" << QByteArray("ac") << 1;
    QTest::newRow("backspace over CR LF")
        << QByteArray("a\r\nb") << 3 << 3 << int(Qt::Key_Backspace) << none << "\b"
        << QByteArray("ab") << 1;
    QTest::newRow("backspace at start") << QByteArray("ab") << 0 << 0 << int(Qt::Key_Backspace)
                                        << none << "\b" << QByteArray("ab") << 0;
    QTest::newRow("escape does nothing") << QByteArray("ab") << 0 << 2 << int(Qt::Key_Escape)
                                         << none << "\x1b" << QByteArray("ab") << 2;
    QTest::newRow("tab does nothing")
        << QByteArray("ab") << 1 << 1 << int(Qt::Key_Tab) << none << "\t" << QByteArray("ab") << 1;
    QTest::newRow("ctrl B does nothing")
        << QByteArray("ab") << 1 << 1 << int(Qt::Key_B) << ctrl << "\x02" << QByteArray("ab") << 1;
    QTest::newRow("ctrl backspace does nothing")
        << QByteArray("ab") << 2 << 2 << int(Qt::Key_Backspace) << ctrl << "" << QByteArray("ab")
        << 2;
    QTest::newRow("ctrl X cuts") << QByteArray("hello") << 1 << 3 << int(Qt::Key_X) << ctrl
                                 << "\x18" << QByteArray("hlo") << 1;
    QTest::newRow("delete key") << QByteArray("a\r\nb") << 1 << 1 << int(Qt::Key_Delete) << none
                                << "\x7f" << QByteArray("ab") << 1;
    QTest::newRow("delete selection") << QByteArray("hello") << 4 << 1 << int(Qt::Key_Delete)
                                      << none << "\x7f" << QByteArray("ho") << 1;
    QTest::newRow("left skips CR LF") << QByteArray("a\r\nb") << 3 << 3 << int(Qt::Key_Left) << none
                                      << "" << QByteArray("a\r\nb") << 1;
    QTest::newRow("shift right") << QByteArray("abc") << 0 << 0 << int(Qt::Key_Right) << shift << ""
                                 << QByteArray("abc") << 1;
    QTest::newRow("end") << QByteArray("ab\r\ncd") << 0 << 0 << int(Qt::Key_End) << none << ""
                         << QByteArray("ab\r\ncd") << 2;
    QTest::newRow("down keeps column") << QByteArray("abc\r\nxyz") << 2 << 2 << int(Qt::Key_Down)
                                       << none << "" << QByteArray("abc\r\nxyz") << 7;
    QTest::newRow("ctrl home") << QByteArray("abc\r\nxyz") << 7 << 7 << int(Qt::Key_Home) << ctrl
                               << "" << QByteArray("abc\r\nxyz") << 0;
}

void TestScreen::unconsumedKeysEdit()
{
    QFETCH(QByteArray, before);
    QFETCH(int, anchor);
    QFETCH(int, caret);
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, mods);
    QFETCH(QString, text);
    QFETCH(QByteArray, after);
    QFETCH(int, caretAfter);

    m_screen->append(before);
    m_screen->setSelection(anchor, caret);
    typeKey(m_screen, Qt::Key(key), text, mods);
    QCOMPARE(m_screen->bytes(), after);
    QCOMPARE(m_screen->cursorPosition(), caretAfter);
    if (key == Qt::Key_Right && mods == Qt::ShiftModifier)
        QCOMPARE(m_screen->selectedBytes(), QByteArray("a"));
}

void TestScreen::consumedKeysChangeNothing()
{
    connect(m_screen, &Screen::KeyPress, this, [](int &keyAscii) { keyAscii = 0; });
    m_screen->append("hello");
    m_screen->setSelection(1, 4);
    QGuiApplication::clipboard()->setText(QStringLiteral("zz"));
    typeKey(m_screen, Qt::Key_A, QStringLiteral("a"));
    typeKey(m_screen, Qt::Key_Return, QStringLiteral("\r"));
    typeKey(m_screen, Qt::Key_Backspace, QStringLiteral("\b"));
    typeKey(m_screen, Qt::Key_X, QStringLiteral("\x18"), Qt::ControlModifier);
    typeKey(m_screen, Qt::Key_V, QStringLiteral("\x16"), Qt::ControlModifier);
    typeKey(m_screen, Qt::Key_C, QStringLiteral("\x03"), Qt::ControlModifier);
    QCOMPARE(m_screen->bytes(), QByteArray("hello"));
    QCOMPARE(m_screen->selectedBytes(), QByteArray("ell"));
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("zz"));
}

void TestScreen::handlerMayChangeTheCode()
{
    connect(m_screen, &Screen::KeyPress, this, [](int &keyAscii) {
        if (keyAscii == 'a')
            keyAscii = 'b';
    });
    QGuiApplication::clipboard()->setText(QStringLiteral("\u00fc\u20ac!"));
    typeKey(m_screen, Qt::Key_A, QStringLiteral("a"));
    typeKey(m_screen, Qt::Key_V, QStringLiteral("\x16"), Qt::ControlModifier);
    QCOMPARE(m_screen->bytes(), QByteArray("b\xfc?!"));
    typeKey(m_screen, Qt::Key_A, QStringLiteral("\x01"), Qt::ControlModifier);
    typeKey(m_screen, Qt::Key_C, QStringLiteral("\x03"), Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("b\u00fc?!"));
}

void TestScreen::contextMenuActions()
{
    m_screen->append(QByteArray("hello \x01world\0!", 14));
    {
        QScopedPointer<QMenu> menu(m_screen->createContextMenu());
        QVERIFY(!menuAction(menu.get(), "cut")->isEnabled());
        QVERIFY(!menuAction(menu.get(), "copy")->isEnabled());
        QVERIFY(!menuAction(menu.get(), "delete")->isEnabled());
        QVERIFY(!menuAction(menu.get(), "paste")->isEnabled());
        menuAction(menu.get(), "selectAll")->trigger();
    }
    QCOMPARE(m_screen->selectionStart(), 0);
    QCOMPARE(m_screen->selectionEnd(), 14);

    m_screen->setSelection(6, 14);
    QScopedPointer<QMenu> menu(m_screen->createContextMenu());
    menuAction(menu.get(), "copy")->trigger();
    // The exact characters go out, NUL and control codes included.
    QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromLatin1("\x01world\0!", 8));
    menu.reset(m_screen->createContextMenu());
    menuAction(menu.get(), "cut")->trigger();
    QCOMPARE(m_screen->bytes(), QByteArray("hello "));

    QGuiApplication::clipboard()->setText(QStringLiteral("Gr\u00fc\u00dfe \u20ac\U0001F600"));
    m_screen->setSelection(0, 5);
    menu.reset(m_screen->createContextMenu());
    QVERIFY(menuAction(menu.get(), "paste")->isEnabled());
    menuAction(menu.get(), "paste")->trigger();
    QCOMPARE(m_screen->bytes(), QByteArray("Gr\xfc\xdf"
                                           "e ??"
                                           " "));

    m_screen->setSelection(2, 4);
    menu.reset(m_screen->createContextMenu());
    menuAction(menu.get(), "delete")->trigger();
    QCOMPARE(m_screen->bytes(), QByteArray("Gre ?? "));
    QCOMPARE(m_screen->cursorPosition(), 2);
}

void TestScreen::contextMenuPopsUpForTheUser()
{
    m_screen->append("one two");
    m_screen->setSelection(0, 3);
    bool chosen = false;
    QTimer::singleShot(0, this, [&chosen]() {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        QAction *copy = menu ? menuAction(menu, "copy") : nullptr;
        if (copy) {
            menu->setActiveAction(copy);
            QTest::keyClick(menu, Qt::Key_Return);
            chosen = true;
        } else if (menu) {
            menu->close();
        }
    });
    QContextMenuEvent e(QContextMenuEvent::Mouse, QPoint(10, 10),
                        m_screen->viewport()->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(m_screen->viewport(), &e);
    QVERIFY(chosen);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("one"));
}

void TestScreen::appendKeepsCaretAndCaretGoesToEndInView_data()
{
    QTest::addColumn<QByteArray>("piece");
    QTest::newRow("lines") << QByteArray("line of received text\r\n");
    QTest::newRow("no breaks") << QByteArray("[CR][LF]text without any line break ");
    QTest::newRow("ends with CR") << QByteArray("abc\r");
}

void TestScreen::appendKeepsCaretAndCaretGoesToEndInView()
{
    QFETCH(QByteArray, piece);
    m_screen->append("start");
    m_screen->setSelection(1, 3);
    for (int i = 0; i < 400; ++i)
        m_screen->append(piece);
    // An append alone leaves the caret and the selection where they were.
    QCOMPARE(m_screen->selectionStart(), 1);
    QCOMPARE(m_screen->selectionEnd(), 3);

    for (int i = 0; i < 400; ++i) {
        m_screen->append(piece);
        m_screen->setCursorPosition(int(m_screen->length()));
    }
    QCOMPARE(m_screen->length(), 5 + 800 * piece.size());
    QCOMPARE(m_screen->cursorPosition(), m_screen->length());
    QCOMPARE(m_screen->selectionStart(), m_screen->selectionEnd());
    QScrollBar *bar = m_screen->verticalScrollBar();
    QTRY_VERIFY(bar->maximum() > 0);
    QTRY_COMPARE(bar->value(), bar->maximum());

    m_screen->setCursorPosition(-7);
    QCOMPARE(m_screen->cursorPosition(), 0);
    QTRY_COMPARE(bar->value(), 0);
    m_screen->setCursorPosition(int(m_screen->length()) + 50);
    QCOMPARE(m_screen->cursorPosition(), m_screen->length());
    QTRY_COMPARE(bar->value(), bar->maximum());
}

void TestScreen::appendsBetweenFramesPaintOnce()
{
    m_screen->clearFocus(); // no caret blinking
    EventCounter counter(m_screen->viewport());
    // Any paint still due from showing and focus comes with this one.
    m_screen->viewport()->update();
    QTRY_VERIFY(counter.paints() >= 1);
    counter.reset();
    for (int i = 0; i < 2000; ++i) {
        m_screen->append("piece of text \r\n");
        m_screen->setCursorPosition(int(m_screen->length()));
    }
    QCOMPARE(counter.paints(), 0);
    QTRY_VERIFY(counter.paints() >= 1);
    // A second paint ends this wait at once; without one it lasts 100 ms, six frames.
    QVERIFY(!QTest::qWaitFor([&counter] { return counter.paints() > 1; }, 100));
    QCOMPARE(counter.paints(), 1);
    QCOMPARE(m_screen->verticalScrollBar()->value(), m_screen->verticalScrollBar()->maximum());
}

void TestScreen::clearScreen()
{
    for (int i = 0; i < 200; ++i)
        m_screen->append("some text\r\n");
    m_screen->setCursorPosition(int(m_screen->length()));
    QTRY_VERIFY(m_screen->verticalScrollBar()->value() > 0);
    m_screen->clear();
    QCOMPARE(m_screen->text(), QString());
    QCOMPARE(m_screen->length(), 0);
    QCOMPARE(m_screen->cursorPosition(), 0);
    QCOMPARE(m_screen->verticalScrollBar()->maximum(), 0);
    m_screen->clear();
    QCOMPARE(m_screen->length(), 0);
    // The window's Clear Screen writes the empty text.
    m_screen->append("more\r\n");
    m_screen->setCursorPosition(3);
    m_screen->setText(QString());
    QCOMPARE(m_screen->length(), 0);
    QCOMPARE(m_screen->cursorPosition(), 0);
    m_screen->append("\nafter");
    m_screen->setCursorPosition(int(m_screen->length()));
    QCOMPARE(m_screen->text(), QStringLiteral("\nafter"));
    QTRY_COMPARE(m_screen->verticalScrollBar()->value(), 0);
}

void TestScreen::exactTextAndLossyInput()
{
    const QByteArray all = all256();
    for (int c = 0; c < 256; ++c)
        m_screen->append(all.mid(c, 1));
    QCOMPARE(m_screen->bytes(), all);
    QCOMPARE(m_screen->text(), QString::fromLatin1(all));
    QCOMPARE(m_screen->length(), 256);
    QCOMPARE(m_screen->property("text").toString(), QString::fromLatin1(all));

    m_screen->setCursorPosition(10);
    m_screen->setText(QStringLiteral("a\u0100b\U0001F600c\u00ff"));
    QCOMPARE(m_screen->bytes(), QByteArray("a?b?c\xff"));
    QCOMPARE(m_screen->cursorPosition(), 0);
    m_screen->setProperty("cursorPosition", 3);
    QCOMPARE(m_screen->property("cursorPosition").toInt(), 3);
}

void TestScreen::controlCodesAreDrawnVisibly()
{
    m_screen->clearFocus();
    const QImage empty = m_screen->viewport()->grab().toImage();
    for (const char *codes : {"\x01", "\x7f", "\x85", "\x00"}) {
        m_screen->setText(QString::fromLatin1(codes, 1));
        QCOMPARE(m_screen->length(), 1);
        QVERIFY2(m_screen->viewport()->grab().toImage() != empty, codes);
    }
    // Line breaks and tabs are layout, not symbols.
    m_screen->setText(QStringLiteral("\r\n\t\r"));
    QCOMPARE(m_screen->viewport()->grab().toImage(), empty);
}

void TestScreen::mouseSelection()
{
    m_screen->append("hello world\r\nsecond line");
    QWidget *vp = m_screen->viewport();
    const QFontMetrics fm(m_screen->font());
    const int y = fm.height() / 2;
    const int inWorld = 3 + fm.horizontalAdvance(QStringLiteral("hello wo"));
    QTest::mouseDClick(vp, Qt::LeftButton, {}, QPoint(inWorld, y));
    QCOMPARE(m_screen->selectedBytes(), QByteArray("world"));

    QTest::mousePress(vp, Qt::LeftButton, {}, QPoint(1, y));
    QTest::mouseMove(vp, QPoint(inWorld, y + fm.lineSpacing()));
    QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(inWorld, y + fm.lineSpacing()));
    QVERIFY(m_screen->selectedBytes().startsWith("hello world\r\nsecond"));
}

void TestScreen::tabOrderAndTabKey()
{
    QWidget window;
    auto *edit = new QLineEdit(&window);
    auto *screen = new Screen(&window);
    auto *layout = new QVBoxLayout(&window);
    layout->addWidget(edit);
    layout->addWidget(screen);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(screen->focusPolicy(), Qt::StrongFocus);
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Tab);
    QTRY_VERIFY(screen->hasFocus());

    QList<int> seen;
    connect(screen, &Screen::KeyPress, this, [&seen](int &keyAscii) { seen.append(keyAscii); });
    QTest::keyClick(screen, Qt::Key_Tab);
    QCOMPARE(seen, QList<int>{9});
    QVERIFY(screen->hasFocus());
    QTest::keyClick(screen, Qt::Key_Backtab, Qt::ShiftModifier);
    QTRY_VERIFY(edit->hasFocus());
}

QTEST_MAIN(TestScreen)
#include "tst_screen.moc"
