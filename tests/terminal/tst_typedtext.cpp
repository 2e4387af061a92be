// The code each key press gives the terminal: a rule of the core, without a window.
#include "terminal/typedtext.h"

#include <QTest>

class TestTypedText : public QObject
{
    Q_OBJECT

private slots:
    void keyCodes_data();
    void keyCodes();
};

void TestTypedText::keyCodes_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("mods");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("code"); // -1: no character event

    const Qt::KeyboardModifiers none;
    const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
    QTest::newRow("a") << int(Qt::Key_A) << none << "a" << 97;
    QTest::newRow("shift A") << int(Qt::Key_A) << Qt::KeyboardModifiers(Qt::ShiftModifier) << "A"
                             << 65;
    QTest::newRow("blank") << int(Qt::Key_Space) << none << " " << 32;
    QTest::newRow("tilde") << int(Qt::Key_AsciiTilde) << none << "~" << 126;
    QTest::newRow("e acute") << int(Qt::Key_Eacute) << none << QStringLiteral("\u00e9") << 233;
    QTest::newRow("y diaeresis") << int(Qt::Key_ydiaeresis) << none << QStringLiteral("\u00ff")
                                 << 255;
    QTest::newRow("euro") << int(Qt::Key_unknown) << none << QStringLiteral("\u20ac") << 63;
    QTest::newRow("astral") << int(Qt::Key_unknown) << none << QStringLiteral("\U0001F600") << 63;
    QTest::newRow("return") << int(Qt::Key_Return) << none << "\r" << 13;
    QTest::newRow("keypad enter") << int(Qt::Key_Enter) << Qt::KeyboardModifiers(Qt::KeypadModifier)
                                  << "\r" << 13;
    QTest::newRow("backspace") << int(Qt::Key_Backspace) << none << "\b" << 8;
    QTest::newRow("ctrl backspace") << int(Qt::Key_Backspace) << ctrl << "" << 127;
    QTest::newRow("escape") << int(Qt::Key_Escape) << none << "\x1b" << 27;
    QTest::newRow("tab") << int(Qt::Key_Tab) << none << "\t" << 9;
    QTest::newRow("ctrl A") << int(Qt::Key_A) << ctrl << "\x01" << 1;
    QTest::newRow("ctrl C") << int(Qt::Key_C) << ctrl << "\x03" << 3;
    QTest::newRow("ctrl V no text") << int(Qt::Key_V) << ctrl << "" << 22;
    QTest::newRow("ctrl Z") << int(Qt::Key_Z) << ctrl << "\x1a" << 26;
    QTest::newRow("ctrl [") << int(Qt::Key_BracketLeft) << ctrl << "\x1b" << 27;
    QTest::newRow("ctrl \\") << int(Qt::Key_Backslash) << ctrl << "\x1c" << 28;
    QTest::newRow("ctrl ]") << int(Qt::Key_BracketRight) << ctrl << "\x1d" << 29;
    QTest::newRow("ctrl ^") << int(Qt::Key_AsciiCircum) << (ctrl | Qt::ShiftModifier) << "\x1e"
                            << 30;
    QTest::newRow("ctrl _") << int(Qt::Key_Underscore) << (ctrl | Qt::ShiftModifier) << "\x1f"
                            << 31;
    QTest::newRow("left") << int(Qt::Key_Left) << none << "" << -1;
    QTest::newRow("right") << int(Qt::Key_Right) << none << "" << -1;
    QTest::newRow("up") << int(Qt::Key_Up) << none << "" << -1;
    QTest::newRow("down") << int(Qt::Key_Down) << none << "" << -1;
    QTest::newRow("home") << int(Qt::Key_Home) << none << "" << -1;
    QTest::newRow("end") << int(Qt::Key_End) << none << "" << -1;
    QTest::newRow("ctrl end") << int(Qt::Key_End) << ctrl << "" << -1;
    QTest::newRow("page up") << int(Qt::Key_PageUp) << none << "" << -1;
    QTest::newRow("page down") << int(Qt::Key_PageDown) << none << "" << -1;
    QTest::newRow("delete") << int(Qt::Key_Delete) << none << "\x7f" << -1;
    QTest::newRow("insert") << int(Qt::Key_Insert) << none << "" << -1;
    QTest::newRow("F1") << int(Qt::Key_F1) << none << "" << -1;
    QTest::newRow("F12") << int(Qt::Key_F12) << none << "" << -1;
}

// A wrong code sends the wrong byte down the line, or swallows a navigation key.
void TestTypedText::keyCodes()
{
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, mods);
    QFETCH(QString, text);
    QFETCH(int, code);
    QCOMPARE(keyAsciiFor(key, mods, text), code);
}

QTEST_GUILESS_MAIN(TestTypedText)
#include "tst_typedtext.moc"
