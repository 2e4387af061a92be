#include "base/failure.h"
#include "filesend/linereader.h"
#include "filesend/progresstext.h"
#include "support/files.h"

#include <QFile>
#include <QTest>

#include <limits>

class TestLineReader : public QObject
{
    Q_OBJECT

private:
    TempFiles m_dir;

    QString write(const QByteArray &content) { return m_dir.file(content); }

    static QList<QByteArray> readAll(const QString &path)
    {
        LineReader reader(path);
        QList<QByteArray> lines;
        while (!reader.atEnd())
            lines.append(reader.readLine());
        return lines;
    }

private slots:
    void splitsLines_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QList<QByteArray>>("lines");
        using L = QList<QByteArray>;
        QTest::newRow("empty") << QByteArray() << L{};
        QTest::newRow("one line, no end") << QByteArray("abc") << L{"abc"};
        QTest::newRow("LF") << QByteArray("abc\ndef\n") << L{"abc", "def"};
        QTest::newRow("CR LF") << QByteArray("abc\r\ndef\r\n") << L{"abc", "def"};
        QTest::newRow("lone CR") << QByteArray("abc\rdef") << L{"abc", "def"};
        QTest::newRow("mixed") << QByteArray("a\r\nb\nc\rd") << L{"a", "b", "c", "d"};
        QTest::newRow("LF CR is two ends") << QByteArray("a\n\rb") << L{"a", "", "b"};
        QTest::newRow("CR CR LF") << QByteArray("a\r\r\nb") << L{"a", "", "b"};
        QTest::newRow("only line ends") << QByteArray("\n\r\n\r") << L{"", "", ""};
        QTest::newRow("blank lines kept") << QByteArray("a\n\n\nb\n") << L{"a", "", "", "b"};
        QTest::newRow("8-bit and NUL bytes") << QByteArray("\x00\xff\xe9\x80\x1b\n\t\x7f", 8)
                                             << L{QByteArray("\x00\xff\xe9\x80\x1b", 5), "\t\x7f"};
    }

    void splitsLines()
    {
        QFETCH(QByteArray, content);
        QFETCH(QList<QByteArray>, lines);
        const QString path = write(content);
        QCOMPARE(readAll(path), lines);
        QCOMPARE(CountLines(path), qint64(lines.size()));
    }

    // Line ends and long lines that straddle the reader's chunks.
    void splitsAcrossChunks_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<QByteArray>("end");
        for (int length : {65534, 65535, 65536, 200000})
            for (const char *end : {"\r\n", "\r", "\n"})
                QTest::addRow("%d bytes then %s", length,
                              end == QByteArray("\r\n") ? "CR LF"
                              : end == QByteArray("\r") ? "CR"
                                                        : "LF")
                    << length << QByteArray(end);
    }

    void splitsAcrossChunks()
    {
        QFETCH(int, length);
        QFETCH(QByteArray, end);
        const QByteArray first(length, 'x');
        const QString path = write(first + end + "tail" + end);
        const QList<QByteArray> lines = readAll(path);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0].size(), first.size());
        QCOMPARE(lines[1], QByteArray("tail"));
        QCOMPARE(CountLines(path), qint64(2));
    }

    // The old count stopped at 32767; a count has no limit.
    void countsBeyondSixteenBits()
    {
        QByteArray content;
        for (int i = 0; i < 70000; ++i)
            content += QByteArray::number(i) + (i % 3 == 0 ? "\r\n" : i % 3 == 1 ? "\n" : "\r");
        QCOMPARE(CountLines(write(content)), qint64(70000));
    }

    void refusesWhatCannotBeRead_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("missing") << m_dir.path(QStringLiteral("no such file"));
        QTest::newRow("directory") << m_dir.path();
        QTest::newRow("device") << QStringLiteral("/dev/zero");
        QTest::newRow("read error") << QStringLiteral("/proc/self/mem");
        // Claim to be regular files; others of their kind never end or block.
        QTest::newRow("proc file") << QStringLiteral("/proc/self/status");
        QTest::newRow("sysfs file") << QStringLiteral("/sys/devices/system/cpu/online");
    }

    void refusesWhatCannotBeRead()
    {
        QFETCH(QString, path);
        QVERIFY_THROWS_EXCEPTION(Failure, CountLines(path));
        QVERIFY_THROWS_EXCEPTION(Failure, readAll(path));
    }

    void refusesUnreadableFile()
    {
        const QString path = write("secret\n");
        QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
        QFile probe(path);
        if (probe.open(QIODevice::ReadOnly))
            QSKIP("running with rights that read any file");
        QVERIFY_THROWS_EXCEPTION(Failure, CountLines(path));
    }

    // A file that grows while it is read is read to its new end.
    void readsWhatIsAppended()
    {
        const QString path = write("one\ntwo\n");
        LineReader reader(path);
        QCOMPARE(reader.readLine(), QByteArray("one"));
        QFile more(path);
        QVERIFY(more.open(QIODevice::Append));
        more.write("three\n");
        more.close();
        QCOMPARE(reader.readLine(), QByteArray("two"));
        QCOMPARE(reader.readLine(), QByteArray("three"));
        QVERIFY(reader.atEnd());
    }

    void readsInPieces_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("max");
        QTest::addColumn<QByteArray>("pieces"); // each piece, '|' after one that ends its line
        QTest::newRow("short lines whole") << QByteArray("ab\ncd") << 4 << QByteArray("ab|cd|");
        QTest::newRow("long line cut")
            << QByteArray("abcdefg\nh") << 3 << QByteArray("abc,def,g|h|");
        QTest::newRow("full piece then LF") << QByteArray("abc\nd") << 3 << QByteArray("abc|d|");
        QTest::newRow("full piece then CR LF")
            << QByteArray("abc\r\nd") << 3 << QByteArray("abc|d|");
        QTest::newRow("full piece at the end")
            << QByteArray("abcdef") << 3 << QByteArray("abc,def|");
        QTest::newRow("empty line") << QByteArray("\n\nx") << 3 << QByteArray("||x|");
    }

    // Catches a piece longer than asked, a line end sent or lost at a piece's edge, or an extra
    // empty line after a line that fills its last piece.
    void readsInPieces()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, max);
        QFETCH(QByteArray, pieces);
        LineReader reader(write(content));
        QByteArray got;
        while (!reader.atEnd()) {
            bool ended = false;
            got += reader.readPiece(max, &ended);
            got += ended ? '|' : ',';
        }
        QCOMPARE(got, pieces);
    }

    // Catches a send that crashes or hangs when its file is cut short under a long line.
    void truncatedUnderALongLine()
    {
        const QString path = write(QByteArray(300000, 'x'));
        LineReader reader(path);
        bool ended = false;
        QCOMPARE(reader.readPiece(1000, &ended).size(), 1000);
        QVERIFY(!ended);
        QVERIFY(QFile::resize(path, 10));
        qsizetype rest = 0;
        while (!ended)
            rest += reader.readPiece(1000, &ended).size();
        QVERIFY(rest < 300000 - 1000); // what the reader held already, no more
        QVERIFY(reader.atEnd());
    }

    void pieceSize_data()
    {
        QTest::addColumn<qint64>("baud");
        QTest::addColumn<qint64>("bytes");
        QTest::newRow("300 baud, the least") << qint64(300) << qint64(64);
        QTest::newRow("9600") << qint64(9600) << qint64(96);
        QTest::newRow("115200") << qint64(115200) << qint64(1152);
        QTest::newRow("4000000") << qint64(4000000) << qint64(40000);
    }

    // Catches pieces too small for a slow port or too large to keep memory flat.
    void pieceSize()
    {
        QFETCH(qint64, baud);
        QFETCH(qint64, bytes);
        QCOMPARE(sendPieceSize(baud), bytes);
    }

    void percentage_data()
    {
        QTest::addColumn<qint64>("value");
        QTest::addColumn<qint64>("maximum");
        QTest::addColumn<QString>("text");
        QTest::newRow("none yet") << qint64(0) << qint64(3) << QStringLiteral(" 0%");
        QTest::newRow("1 of 3") << qint64(1) << qint64(3) << QStringLiteral(" 33%");
        QTest::newRow("2 of 3 drops the fraction")
            << qint64(2) << qint64(3) << QStringLiteral(" 66%");
        QTest::newRow("3 of 3") << qint64(3) << qint64(3) << QStringLiteral(" 100%");
        QTest::newRow("1 of 1") << qint64(1) << qint64(1) << QStringLiteral(" 100%");
        QTest::newRow("199 of 200") << qint64(199) << qint64(200) << QStringLiteral(" 99%");
        QTest::newRow("beyond 16 bits") << qint64(39999) << qint64(40000) << QStringLiteral(" 99%");
        QTest::newRow("beyond 32 bits")
            << qint64(5'000'000'000) << qint64(10'000'000'000) << QStringLiteral(" 50%");
    }

    void percentage()
    {
        QFETCH(qint64, value);
        QFETCH(qint64, maximum);
        QFETCH(QString, text);
        QCOMPARE(percentText(value, maximum), text);
    }

    void percentageOfNothingFails()
    {
        QVERIFY_THROWS_EXCEPTION(Failure, percentText(0, 0));
        QVERIFY_THROWS_EXCEPTION(Failure, percentText(1, 0));
    }

    void barUnitsFitTheBar_data()
    {
        QTest::addColumn<qint64>("lines");
        QTest::addColumn<qint64>("maximum");
        QTest::addColumn<int>("units");
        constexpr qint64 intMax = std::numeric_limits<int>::max();
        QTest::newRow("small, exact") << qint64(2) << qint64(3) << 2;
        QTest::newRow("int's largest, exact") << intMax << intMax << int(intMax);
        QTest::newRow("beyond int, halved") << 2 * intMax + 1 << 2 * intMax + 1 << int(intMax);
        QTest::newRow("half of 2^40") << (qint64(1) << 39) << (qint64(1) << 40) << (1 << 29);
        QTest::newRow("nothing") << qint64(0) << qint64(0) << 0;
    }

    void barUnitsFitTheBar()
    {
        QFETCH(qint64, lines);
        QFETCH(qint64, maximum);
        QFETCH(int, units);
        QCOMPARE(barUnits(lines, maximum), units);
    }
};

QTEST_GUILESS_MAIN(TestLineReader)
#include "tst_linereader.moc"
