#include "support/files.h"
#include "support/screenmodel.h"
#include "support/testmain.h"
#include "terminal/screenmodel.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

QList<QByteArray> rowTexts(const ScreenModel &m)
{
    QList<QByteArray> rows;
    for (qsizetype r = 0; r < m.rowCount(); ++r)
        rows.append(
            m.bytes().sliced(m.rowStart(r), m.rowContentEnd(r) - m.rowStart(r)).toByteArray());
    return rows;
}

// Row starts with their line flags, to compare two layouts exactly.
QList<qint64> rowKeys(const ScreenModel &m)
{
    QList<qint64> keys;
    for (qsizetype r = 0; r < m.rowCount(); ++r)
        keys.append(m.rowStart(r) * 2 + (m.rowStartsLine(r) ? 1 : 0));
    return keys;
}

// The same text laid out in one go: incremental work must give the same rows.
void compareWithFresh(const ScreenModel &m, qint64 widthPx)
{
    ScreenModel fresh = narrowModel(widthPx);
    fresh.setBytes(m.bytes());
    QCOMPARE(rowKeys(m), rowKeys(fresh));
    QCOMPARE(m.lineCount(), fresh.lineCount());
}

} // namespace

class TestScreenModel : public QObject
{
    Q_OBJECT

private slots:
    void lineBreaks_data();
    void lineBreaks();
    void wrap_data();
    void wrap();
    void longLineWrapsAtLastBlankThatFits();
    void randomEditsMatchFreshLayout();
    void editsClampPositions();
    void all256CodesKeptExactly();
    void caretGeometry();
    void clearReleasesEverything();
    void rowTimes_data();
    void rowTimes();
};

void TestScreenModel::lineBreaks_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<QList<QByteArray>>("rows");

    using L = QList<QByteArray>;
    QTest::newRow("empty") << L{} << L{""};
    QTest::newRow("CR LF") << L{"a\r\nb"} << L{"a", "b"};
    QTest::newRow("lone LF") << L{"a\nb"} << L{"a", "b"};
    QTest::newRow("lone CR") << L{"a\rb"} << L{"a", "b"};
    QTest::newRow("LF CR is two") << L{"a\n\rb"} << L{"a", "", "b"};
    QTest::newRow("CR LF split") << L{"a\r", "\nb"} << L{"a", "b"};
    QTest::newRow("CR then CR LF") << L{"a\r", "\r\nb"} << L{"a", "", "b"};
    QTest::newRow("trailing CR LF") << L{"a\r\n"} << L{"a", ""};
    QTest::newRow("trailing lone CR") << L{"a\r"} << L{"a", ""};
    QTest::newRow("byte by byte") << L{"\r", "\n", "\r", "\n", "x"} << L{"", "", "x"};
    QTest::newRow("LF CR LF") << L{"\n\r\n"} << L{"", "", ""};
    QTest::newRow("NUL is text") << L{QByteArray("a\0b", 3)} << L{QByteArray("a\0b", 3)};
}

void TestScreenModel::lineBreaks()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QList<QByteArray>, rows);

    ScreenModel m = narrowModel(0);
    QByteArray all;
    for (const QByteArray &p : pieces) {
        m.append(p);
        all += p;
    }
    QCOMPARE(m.bytes().toByteArray(), all);
    QCOMPARE(rowTexts(m), rows);
    QCOMPARE(m.lineCount(), rows.size());
    compareWithFresh(m, 0);
}

void TestScreenModel::wrap_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("width");
    QTest::addColumn<QList<QByteArray>>("rows");

    using L = QList<QByteArray>;
    QTest::newRow("at blank") << QByteArray("hello world") << 8 << L{"hello ", "world"};
    QTest::newRow("long word cut") << QByteArray("abcdefghijkl") << 5 << L{"abcde", "fghij", "kl"};
    QTest::newRow("blank hangs") << QByteArray("aa bb cc dd") << 5 << L{"aa bb ", "cc dd"};
    QTest::newRow("word moves down") << QByteArray("a bcdefgh") << 4 << L{"a ", "bcde", "fgh"};
    QTest::newRow("blank run") << QByteArray("       x") << 2 << L{"   ", "   ", " x"};
    QTest::newRow("tab is a blank") << QByteArray("ab\tc") << 4 << L{"ab\t", "c"};
    QTest::newRow("fits exactly") << QByteArray("abcd") << 4 << L{"abcd"};
    QTest::newRow("break resets") << QByteArray("abc\r\nabcde") << 4 << L{"abc", "abcd", "e"};
}

void TestScreenModel::wrap()
{
    QFETCH(QByteArray, text);
    QFETCH(int, width);
    QFETCH(QList<QByteArray>, rows);

    ScreenModel whole = narrowModel(width);
    whole.setBytes(text);
    QCOMPARE(rowTexts(whole), rows);

    ScreenModel pieces = narrowModel(width);
    for (char c : text)
        pieces.append(QByteArrayView(&c, 1));
    QCOMPARE(rowTexts(pieces), rows);
}

void TestScreenModel::longLineWrapsAtLastBlankThatFits()
{
    const int width = 80;
    QByteArray text;
    text.reserve(10 * 1024 * 1024 + 16);
    QRandomGenerator rng(7);
    while (text.size() < 10 * 1024 * 1024) {
        text.append(QByteArray(rng.bounded(1, 13), char('a' + rng.bounded(26))));
        text.append(' ');
    }
    ScreenModel m = narrowModel(width);
    for (qsizetype i = 0; i < text.size(); i += 4096)
        m.append(QByteArrayView(text).sliced(i, std::min<qsizetype>(4096, text.size() - i)));
    QCOMPARE(m.length(), text.size());
    QCOMPARE(m.lineCount(), 1);

    // Each cut follows a blank, the row fits, and the next word would not have fitted.
    for (qsizetype r = 0; r + 1 < m.rowCount(); ++r) {
        const qsizetype start = m.rowStart(r);
        const qsizetype next = m.rowStart(r + 1);
        QCOMPARE(text[next - 1], ' ');
        QVERIFY(next - 1 - start <= width);
        const qsizetype wordEnd = text.indexOf(' ', next);
        QVERIFY2(wordEnd - start > width, qPrintable(QString::number(r)));
    }
    compareWithFresh(m, width);
}

void TestScreenModel::randomEditsMatchFreshLayout()
{
    const int width = 6;
    // Any byte may arrive: NUL, 8-bit codes and every kind of blank and line break.
    const char alphabet[] = {'a', 'b', ' ', '\t', '\r', '\n', '\0', '\x85', '\xe9', 'x'};
    QRandomGenerator rng(42);
    ScreenModel m = narrowModel(width);
    QByteArray expected;
    for (int step = 0; step < 3000; ++step) {
        QByteArray piece;
        const int n = rng.bounded(1, 9);
        for (int i = 0; i < n; ++i)
            piece.append(alphabet[rng.bounded(int(sizeof alphabet))]);
        const qsizetype pos = rng.bounded(int(expected.size()) + 1);
        switch (rng.bounded(3)) {
        case 0:
            m.append(piece);
            expected.append(piece);
            break;
        case 1:
            m.insert(pos, piece);
            expected.insert(pos, piece);
            break;
        default:
            m.remove(pos, n);
            expected.remove(pos, n);
            break;
        }
        QCOMPARE(m.bytes().toByteArray(), expected);
        compareWithFresh(m, width);
        if (QTest::currentTestFailed())
            QFAIL(qPrintable(QStringLiteral("step %1").arg(step)));
    }
}

void TestScreenModel::editsClampPositions()
{
    ScreenModel m = narrowModel(0);
    m.append("abc");
    m.insert(100, "d");
    m.insert(-5, "0");
    QCOMPARE(m.bytes().toByteArray(), QByteArray("0abcd"));
    m.remove(3, 100);
    QCOMPARE(m.bytes().toByteArray(), QByteArray("0ab"));
    m.remove(-2, 1);
    QCOMPARE(m.bytes().toByteArray(), QByteArray("ab"));
    m.remove(1, -1);
    m.remove(50, 1);
    QCOMPARE(m.bytes().toByteArray(), QByteArray("ab"));
    m.insert(1, m.bytes());
    QCOMPARE(m.bytes().toByteArray(), QByteArray("aabb"));
    QCOMPARE(m.rowOf(-3), 0);
    QCOMPARE(m.rowOf(1000), 0);
    QCOMPARE(m.posAt(99, 1000 * ScreenModel::Unit), 4);
}

void TestScreenModel::all256CodesKeptExactly()
{
    const QByteArray all = all256();
    ScreenModel oneByOne = narrowModel(0);
    for (int c = 0; c < 256; ++c)
        oneByOne.append(all.mid(c, 1));
    QCOMPARE(oneByOne.bytes().toByteArray(), all);
    // LF (10) and the lone CR (13) end lines; nothing else does.
    QCOMPARE(rowTexts(oneByOne), (QList<QByteArray>{all.left(10), all.mid(11, 2), all.mid(14)}));

    ScreenModel whole = narrowModel(0);
    whole.append(all);
    QCOMPARE(whole.bytes().toByteArray(), all);
    QCOMPARE(rowKeys(whole), rowKeys(oneByOne));
}

void TestScreenModel::caretGeometry()
{
    ScreenModel m = narrowModel(0);
    m.append("ab\tc\r\nxyz");
    const qint64 u = ScreenModel::Unit;
    QCOMPARE(m.xOf(2), 2 * u);
    QCOMPARE(m.xOf(3), 4 * u); // tab to the next stop
    QCOMPARE(m.xOf(4), 5 * u);
    QCOMPARE(m.xOf(5), 5 * u); // between CR and LF: still the end of the line
    QVERIFY(m.insideBreak(5));
    QVERIFY(!m.insideBreak(4));
    QCOMPARE(m.rowOf(6), 1);
    QCOMPARE(m.posAt(0, 3 * u), 3);
    QCOMPARE(m.posAt(0, 100 * u), 4);
    QCOMPARE(m.posAt(1, 0), 6);
    QCOMPARE(m.posAt(1, u + u / 2), 8);
}

void TestScreenModel::clearReleasesEverything()
{
    ScreenModel m = narrowModel(5);
    m.append("hello world\r\nagain");
    m.clear();
    QCOMPARE(m.length(), 0);
    QCOMPARE(m.rowCount(), 1);
    QCOMPARE(m.lineCount(), 1);
    m.append("\nz");
    QCOMPARE(rowTexts(m), (QList<QByteArray>{"", "z"}));
}

void TestScreenModel::rowTimes_data()
{
    // "+T text" appends at time T, "iP,T text" inserts at P, "-P,N" removes N bytes at P,
    // "wN" wraps at N pixels (0: none), "lN" limits to N bytes, "c" clears.
    QTest::addColumn<QByteArrayList>("steps");
    QTest::addColumn<QList<qint64>>("times"); // of the newest rows

    using L = QByteArrayList;
    using T = QList<qint64>;
    QTest::newRow("a line per piece") << L{"+10 a\r\n", "+20 b\n", "+30 c"} << T{10, 20, 30};
    QTest::newRow("CR LF split between pieces") << L{"+10 a\r", "+20 \nb"} << T{10, 20};
    QTest::newRow("a word wrapped down: its first byte's time")
        << L{"w5", "+10 hi ", "+15 wo", "+20 rld again"} << T{10, 15, 20};
    QTest::newRow("typed at a row's start; the row pushed down keeps its time")
        << L{"w5", "+10 ab cd\r\n", "+20 ef", "i0,30 xyz "} << T{30, 10, 20};
    QTest::newRow("removed start: the time of its new first byte's row")
        << L{"+10 one\r\n", "+20 two\r\n", "+30 six", "-0,6"} << T{20, 30};
    QTest::newRow("new width: the time of the row its first byte was in")
        << L{"w5", "+10 hello ", "+20 world\n", "+30 x", "w0", "w5"} << T{10, 10, 30};
    QTest::newRow("cleared") << L{"+10 a\r\n", "c", "+20 b"} << T{20};
    QTest::newRow("trimmed") << L{"l100", "+1 a\n", "+2 b\n", "+3 c\n", "+4 d\n", "+5 e\n"}
                             << T{1, 2, 3, 4, 5, 5};
}

// Catches rows stamped with another piece's time, and times that a trim, a clear, an edit or a
// new width leaves on other rows than their own.
void TestScreenModel::rowTimes()
{
    QFETCH(QByteArrayList, steps);
    QFETCH(QList<qint64>, times);

    ScreenModel m = narrowModel(0);
    for (const QByteArray &step : steps) {
        const qsizetype blank = step.contains(' ') ? step.indexOf(' ') : step.size();
        const QByteArrayList numbers = step.mid(1, blank - 1).split(',');
        const qint64 a = numbers.value(0).toLongLong();
        const qint64 b = numbers.value(1).toLongLong();
        const QByteArray text = step.mid(blank + 1);
        if (step[0] == '+')
            m.append(text, a);
        else if (step[0] == 'i')
            m.insert(a, text, b);
        else if (step[0] == '-')
            m.remove(a, b);
        else if (step[0] == 'w')
            m.setWrapWidth(a * ScreenModel::Unit);
        else if (step[0] == 'l')
            m.setLimit(a);
        else
            m.clear();
    }
    QCOMPARE(m.rowCount() < times.size(), steps.first().startsWith('l'));
    QList<qint64> kept;
    for (qsizetype r = 0; r < m.rowCount(); ++r)
        kept.append(m.rowTime(r));
    QCOMPARE(kept, times.last(std::min(m.rowCount(), times.size())));
}

QUORLINE_TEST_GUILESS_MAIN(TestScreenModel, "longLineWrapsAtLastBlankThatFits")
#include "tst_screenmodel.moc"
