// The text log with arrival times: where its lines end, how bytes are written, and what reads back.

#include "terminal/stampedlog.h"

#include <QDateTime>
#include <QTest>

class TestStampedLog : public QObject
{
    Q_OBJECT

private slots:
    // Each event is "<ms:bytes" (received), ">ms:bytes" (sent) or "?ms" (the idle check), the time
    // from 10:00:00 local; events are separated by '|'.
    void lineRule_data()
    {
        QTest::addColumn<QByteArray>("events");
        QTest::addColumn<QByteArray>("text");
        const QByteArray at = "2026-12-08 10:00:";
        QTest::newRow("an LF ends the line")
            << QByteArray("<0:ab\r\ncd|<50:e")
            << at + "00.000 < ab[CR][LF]\n" + at + "00.000 < cde\n";
        QTest::newRow("under 200 ms goes on")
            << QByteArray("<0:ab|<199:cd") << at + "00.000 < abcd\n";
        QTest::newRow("200 ms without a byte ends it")
            << QByteArray("<0:ab|<200:cd") << at + "00.000 < ab\n" + at + "00.200 < cd\n";
        QTest::newRow("the gap is from the last byte")
            << QByteArray("<0:a|<150:b|<300:c") << at + "00.000 < abc\n";
        QTest::newRow("a change of direction ends it")
            << QByteArray("<0:ab|>10:x|<20:cd")
            << at + "00.000 < ab\n" + at + "00.010 > x\n" + at + "00.020 < cd\n";
        QTest::newRow("the idle check waits for the gap")
            << QByteArray("<0:a|?199|<199:b") << at + "00.000 < ab\n";
        QTest::newRow("the time of a line's first byte")
            << QByteArray("<999:a|<1300:b") << at + "00.999 < a\n" + at + "01.300 < b\n";
        QTest::newRow("bytes that would not read back")
            << QByteArray("<0:[\x0c\x7f\xff\xe9\x01 ~]")
            << at + "00.000 < [5B][0C][7F][FF][E9][SOH] ~]\n";
    }
    void lineRule()
    {
        QFETCH(QByteArray, events);
        QFETCH(QByteArray, text);
        const qint64 base = QDateTime(QDate(2026, 12, 8), QTime(10, 0)).toMSecsSinceEpoch();
        StampedForm form;
        QByteArray out;
        QByteArray bytes;
        for (const QByteArray &event : events.split('|')) {
            const qsizetype colon = event.indexOf(':');
            const qint64 ms = base + event.mid(1, colon < 0 ? -1 : colon - 1).toLongLong();
            if (event[0] == '?') {
                form.endIdleLine(ms, out);
            } else {
                form.append(LogDirection(event[0]), ms, event.mid(colon + 1), out);
                bytes += event.mid(colon + 1);
            }
        }
        form.endLine(out);
        QCOMPARE(out, text);

        QList<StampedLine> lines;
        QVERIFY(readStampedLog(out, lines));
        QByteArray read;
        for (const StampedLine &line : lines)
            read += line.bytes;
        QCOMPARE(read, bytes);
        QCOMPARE(lines.first().msSinceEpoch - base,
                 text.mid(17, 2).toInt() * 1000 + text.mid(20, 3).toInt());
    }

    void rejects_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("no time") << QByteArray("< ab");
        QTest::newRow("an unknown name") << QByteArray("2026-12-08 10:00:00.000 < [XY]");
        QTest::newRow("a byte outside ASCII") << QByteArray("2026-12-08 10:00:00.000 < \xe9");
    }
    void rejects()
    {
        QFETCH(QByteArray, line);
        QList<StampedLine> lines;
        qsizetype bad = -1;
        QVERIFY(!readStampedLog("2026-12-08 10:00:00.000 > ok\n" + line + '\n', lines, &bad));
        QCOMPARE(bad, 1);
    }
};

QTEST_GUILESS_MAIN(TestStampedLog)
#include "tst_stampedlog.moc"
