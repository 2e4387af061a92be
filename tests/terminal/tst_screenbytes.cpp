// The screen's rules for single bytes, without a window: word classes and moves, dim and framed.
#include "terminal/screenbytes.h"

#include <QTest>

class TestScreenBytes : public QObject
{
    Q_OBJECT

private slots:
    void classes_data();
    void classes();
    void wordMoves_data();
    void wordMoves();
    void looks_data();
    void looks();
};

void TestScreenBytes::classes_data()
{
    QTest::addColumn<int>("byte");
    QTest::addColumn<int>("kind");
    const auto row = [](const char *name, int byte, ByteClass kind) {
        QTest::newRow(name) << byte << int(kind);
    };
    row("digit", '7', ByteClass::Word);
    row("underscore", '_', ByteClass::Word);
    row("latin-1 letter", 0xE9, ByteClass::Word);
    row("first latin-1 capital", 0xC0, ByteClass::Word);
    row("ordinal a", 0xAA, ByteClass::Word);
    row("micro", 0xB5, ByteClass::Word);
    row("times sign", 0xD7, ByteClass::Other);
    row("division sign", 0xF7, ByteClass::Other);
    row("inverted question mark", 0xBF, ByteClass::Other);
    row("comma", ',', ByteClass::Other);
    row("NUL", 0, ByteClass::Other);
    row("tab", '\t', ByteClass::Blank);
    row("CR", '\r', ByteClass::Break);
    row("LF", '\n', ByteClass::Break);
}

// Catches a letter, digit or sign put in the wrong class, so that a word move stops inside it.
void TestScreenBytes::classes()
{
    QFETCH(int, byte);
    QFETCH(int, kind);
    QCOMPARE(int(byteClass(uchar(byte))), kind);
}

void TestScreenBytes::wordMoves_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("pos");
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("right");
    QTest::addColumn<int>("wordFrom");
    QTest::addColumn<int>("wordTo");
    // "one two,  three\r\nfour": words at 0, 4, 7 (the comma), 10 and 17.
    const QByteArray line("one two,  three\r\nfour");
    QTest::newRow("inside a word") << line << 5 << 4 << 7 << 4 << 7;
    QTest::newRow("at a sign") << line << 7 << 4 << 10 << 7 << 8;
    QTest::newRow("in blanks") << line << 9 << 7 << 10 << 8 << 10;
    QTest::newRow("at a line break") << line << 15 << 10 << 17 << 15 << 15;
    QTest::newRow("after a line break") << line << 17 << 10 << 21 << 17 << 21;
    QTest::newRow("at the start") << line << 0 << 0 << 4 << 0 << 3;
    QTest::newRow("at the end") << line << 21 << 17 << 21 << 21 << 21;
    QTest::newRow("empty") << QByteArray() << 0 << 0 << 0 << 0 << 0;
    QTest::newRow("only blanks") << QByteArray(" \t ") << 1 << 0 << 3 << 0 << 3;
}

// Catches moves that stop inside a CR LF, a run of blanks or a word, or run past either end, and
// a double click that selects more or less than one run.
void TestScreenBytes::wordMoves()
{
    QFETCH(QByteArray, text);
    QFETCH(int, pos);
    QFETCH(int, left);
    QFETCH(int, right);
    QFETCH(int, wordFrom);
    QFETCH(int, wordTo);
    QCOMPARE(wordLeft(text, pos), left);
    QCOMPARE(wordRight(text, pos), right);
    const auto [from, to] = wordAt(text, pos);
    QCOMPARE(from, wordFrom);
    QCOMPARE(to, wordTo);
}

void TestScreenBytes::looks_data()
{
    QTest::addColumn<int>("byte");
    QTest::addColumn<bool>("dim");
    QTest::addColumn<bool>("framed");
    QTest::addColumn<QString>("shown");
    QTest::newRow("NUL") << 0 << true << false << QStringLiteral("\u2400");
    QTest::newRow("US") << 31 << true << false << QStringLiteral("\u241f");
    QTest::newRow("blank") << 32 << false << false << QStringLiteral(" ");
    QTest::newRow("tilde") << 126 << false << false << QStringLiteral("~");
    QTest::newRow("DEL") << 127 << true << false << QStringLiteral("\u2421");
    QTest::newRow("first C1 code") << 128 << true << true << QStringLiteral("80");
    QTest::newRow("last C1 code") << 159 << true << true << QStringLiteral("9F");
    QTest::newRow("no-break space") << 160 << false << false << QStringLiteral("\u00a0");
    QTest::newRow("y diaeresis") << 255 << false << false << QStringLiteral("\u00ff");
}

// Catches a control code drawn like text, text drawn dim, or a C1 code shown as its Latin-1 glyph.
void TestScreenBytes::looks()
{
    QFETCH(int, byte);
    QFETCH(bool, dim);
    QFETCH(bool, framed);
    QFETCH(QString, shown);
    const auto c = uchar(byte);
    QCOMPARE(isDimByte(c), dim);
    QCOMPARE(isFramedByte(c), framed);
    QCOMPARE(framed ? hexText(c) : QString(shownChar(c)), shown);
}

QTEST_GUILESS_MAIN(TestScreenBytes)
#include "tst_screenbytes.moc"
