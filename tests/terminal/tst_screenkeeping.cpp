// The screen's rules that need no window: the memory limit, find, and saving its bytes.
#include "support/files.h"
#include "support/screenmodel.h"
#include "terminal/screenfile.h"
#include "terminal/screenfind.h"
#include "terminal/screenmodel.h"
#include "terminal/slidingbuffer.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QList<qint64> rowKeys(const ScreenModel &m)
{
    QList<qint64> keys;
    for (qsizetype r = 0; r < m.rowCount(); ++r)
        keys.append(m.rowStart(r) * 2 + (m.rowStartsLine(r) ? 1 : 0));
    return keys;
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

} // namespace

class TestScreenKeeping : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void limitKeepsNewestRows_data();
    void limitKeepsNewestRows();
    void trimAcrossTheWrap_data();
    void trimAcrossTheWrap();
    void largestLimitIsReserved();
    void limitSetting_data();
    void limitSetting();
    void find_data();
    void find();
    void findInLargeText_data();
    void findInLargeText();
    void findNextPlace_data();
    void findNextPlace();
    void save_data();
    void save();
};

void TestScreenKeeping::limitKeepsNewestRows_data()
{
    QTest::addColumn<QByteArray>("unit");
    QTest::addColumn<qint64>("width"); // 0: no wrap
    QTest::addColumn<int>("piece");
    QTest::newRow("lines") << QByteArray("line of text\r\n") << qint64(40) << 100;
    QTest::newRow("wrapped, no breaks") << QByteArray("[CR][LF]word ") << qint64(30) << 333;
    QTest::newRow("one row, no wrap") << QByteArray("abcdefg") << qint64(0) << 1000;
    QTest::newRow("line breaks, CR LF split") << QByteArray("\r\n") << qint64(40) << 97;
}

// Catches a trim that loses or reorders bytes, keeps too much, trims on every append, or leaves
// rows that a fresh layout of what stays would not give.
void TestScreenKeeping::limitKeepsNewestRows()
{
    QFETCH(QByteArray, unit);
    QFETCH(qint64, width);
    QFETCH(int, piece);
    const qint64 limit = 64 * 1024;
    ScreenModel m = narrowModel(width);
    m.setLimit(limit);
    const QByteArray stream = unit.repeated(10 * limit / unit.size() + 1);
    qint64 dropped = 0;
    int trims = 0;
    for (qsizetype at = 0; at < stream.size(); at += piece) {
        const qsizetype d = m.append(QByteArrayView(stream).sliced(at).first(
            std::min<qsizetype>(piece, stream.size() - at)));
        dropped += d;
        trims += d > 0 ? 1 : 0;
        QVERIFY(m.footprint() <= limit);
    }
    QCOMPARE(dropped + m.length(), stream.size());
    QVERIFY(m.bytes() == stream.right(m.length()));
    QVERIFY(m.footprint() >= limit / 2);
    QVERIFY(trims > 0 && trims <= stream.size() / piece / 4);
    ScreenModel fresh = narrowModel(width);
    fresh.setBytes(m.bytes());
    if (width > 0)
        QCOMPARE(rowKeys(m), rowKeys(fresh));
    QCOMPARE(m.lineCount(), fresh.lineCount());
}

void TestScreenKeeping::cleanup()
{
    SlidingBuffer::setTestReservation(0);
    SlidingBuffer::setTestMapFailure(false);
}

void TestScreenKeeping::trimAcrossTheWrap_data()
{
    QTest::addColumn<QByteArray>("unit"); // %1: the unit's number
    QTest::addColumn<qint64>("width");    // 0: no wrap
    QTest::addColumn<int>("piece");
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<QString>("mapping");
    const qint64 k64 = 64 * 1024;
    const QByteArray line("line %1 of text\r\n");
    QTest::newRow("lines") << line << qint64(40) << 100 << k64 << "small";
    QTest::newRow("wrapped, no breaks")
        << QByteArray("word%1 ") << qint64(30) << 333 << k64 << "small";
    QTest::newRow("line breaks only") << QByteArray("\n") << qint64(40) << 97 << k64 << "small";
    QTest::newRow("one endless row") << QByteArray("abc%1") << qint64(0) << 1000 << k64 << "small";
    QTest::newRow("1 MiB limit") << line << qint64(80) << 4096 << 16 * k64 << "as expected";
    QTest::newRow("mapping fails") << line << qint64(40) << 100 << k64 << "fails";
    QTest::newRow("mapping fails after a trim")
        << line << qint64(40) << 100 << k64 << "fails later";
}

// Catches a trim across the point where the reservation wraps (or falls back to the heap) that
// loses or moves bytes or rows, or returns a count that leaves the caret, the selection or a
// find's place on other text than before.
void TestScreenKeeping::trimAcrossTheWrap()
{
    QFETCH(QByteArray, unit);
    QFETCH(qint64, width);
    QFETCH(int, piece);
    QFETCH(qint64, limit);
    QFETCH(QString, mapping);
    // A test reservation: blocks of a page, remapped round even a small rest; 64 of them wrap
    // every few limits.
    const bool small = mapping == "small" || mapping == "fails later";
    SlidingBuffer::setTestReservation(small ? 64 * sysconf(_SC_PAGESIZE) : 0);
    SlidingBuffer::setTestMapFailure(mapping == "fails");
    QByteArray stream;
    for (int n = 0; stream.size() < 12 * limit; ++n)
        stream += unit.contains("%1") ? QString::fromLatin1(unit).arg(n).toLatin1() : unit;
    ScreenModel m = narrowModel(width);
    m.setLimit(limit);
    qint64 dropped = 0;
    // As the screen holds them: positions that move back by what a trim drops.
    qsizetype caret = -1;
    qsizetype anchor = -1;
    qsizetype found = -1;
    QByteArray needle;
    for (qsizetype at = 0; at < stream.size(); at += piece) {
        const qsizetype d = m.append(
            QByteArrayView(stream).sliced(at, std::min<qsizetype>(piece, stream.size() - at)));
        dropped += d;
        if (mapping == "fails later" && d > 0)
            SlidingBuffer::setTestMapFailure(true);
        QVERIFY(m.footprint() <= limit);
        if (caret < 0 && at >= 6 * limit) {
            caret = m.length() - 1;
            anchor = m.length() - 30;
            needle = m.bytes().sliced(anchor, 12).toByteArray();
            found = findBytes(m.bytes(), needle, anchor, false, true);
            QCOMPARE(found, anchor);
        } else if (caret >= 0 && d > 0) {
            const qint64 before = dropped - d;
            for (qsizetype *pos : {&caret, &anchor, &found}) {
                const qint64 absolute = *pos + before;
                *pos = std::max<qsizetype>(*pos - d, 0);
                if (absolute >= dropped)
                    QCOMPARE(m.bytes()[*pos], stream[absolute]);
            }
            if (found + dropped - d >= dropped)
                QCOMPARE(findBytes(m.bytes(), needle, found, false, true), found);
        }
    }
    QCOMPARE(dropped + m.length(), stream.size());
    QVERIFY(m.bytes() == QByteArrayView(stream).last(m.length()));
    QCOMPARE(m.reserved(), mapping == "small" || mapping == "as expected");
    ScreenModel fresh = narrowModel(width);
    fresh.setBytes(m.bytes());
    QCOMPARE(rowKeys(m), rowKeys(fresh));
    QCOMPARE(m.lineCount(), fresh.lineCount());
}

// Catches a reservation refused at the largest limit the setting allows.
void TestScreenKeeping::largestLimitIsReserved()
{
    const qint64 physical = qint64(sysconf(_SC_PHYS_PAGES)) * sysconf(_SC_PAGESIZE);
    ScreenModel m = narrowModel(80);
    m.setLimit(screenLimitFrom("1099511627776", physical, nullptr));
    const QByteArray text = QByteArray("a line\r\n").repeated(100000);
    m.append(text);
    QVERIFY(m.bytes() == text);
    QVERIFY(m.reserved());
}

void TestScreenKeeping::limitSetting_data()
{
    constexpr qint64 MiB = 1024 * 1024;
    const qint64 big = qint64(64) * 1024 * MiB;
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<qint64>("physical");
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<bool>("warns");
    QTest::newRow("unset") << QByteArray() << big << 1024 * MiB << false;
    QTest::newRow("8 MiB") << QByteArray(" 8 ") << big << 8 * MiB << false;
    QTest::newRow("zero") << QByteArray("0") << big << 1024 * MiB << true;
    QTest::newRow("negative") << QByteArray("-5") << big << 1024 * MiB << true;
    QTest::newRow("letters") << QByteArray("12M") << big << 1024 * MiB << true;
    QTest::newRow("beyond 64 bits")
        << QByteArray("99999999999999999999") << big << 1024 * MiB << true;
    QTest::newRow("more than memory") << QByteArray("100000") << 4096 * MiB << 2048 * MiB << true;
}

// Catches a setting taken as 0 bytes (an empty screen), an overflow, or a silent change.
void TestScreenKeeping::limitSetting()
{
    QFETCH(QByteArray, value);
    QFETCH(qint64, physical);
    QFETCH(qint64, limit);
    QFETCH(bool, warns);
    QString warning;
    QCOMPARE(screenLimitFrom(value, physical, &warning), limit);
    QCOMPARE(!warning.isEmpty(), warns);
}

void TestScreenKeeping::find_data()
{
    QTest::addColumn<QByteArray>("needle");
    QTest::addColumn<int>("from");
    QTest::addColumn<bool>("backward");
    QTest::addColumn<bool>("matchCase");
    QTest::addColumn<int>("expected");
    // Searched in "abc ABC abc \xc9t\xe9 \xd7\xf7".
    QTest::newRow("forward") << QByteArray("abc") << 1 << false << true << 8;
    QTest::newRow("forward, any case") << QByteArray("abc") << 1 << false << false << 4;
    QTest::newRow("backward, from a match") << QByteArray("ABC") << 4 << true << false << 4;
    QTest::newRow("backward from past the end") << QByteArray("abc") << 1000 << true << true << 8;
    QTest::newRow("latin-1 letters fold") << QByteArray("\xe9t\xc9") << 0 << false << false << 12;
    QTest::newRow("times is not divide") << QByteArray("\xf7\xf7") << 0 << false << false << -1;
    QTest::newRow("empty") << QByteArray() << 0 << false << false << -1;
    QTest::newRow("longer than the text") << QByteArray(20, 'a') << 0 << false << false << -1;
}

// Catches matches that start before from, miss by one at either end, or fold the wrong bytes.
void TestScreenKeeping::find()
{
    QFETCH(QByteArray, needle);
    QFETCH(int, from);
    QFETCH(bool, backward);
    QFETCH(bool, matchCase);
    QFETCH(int, expected);
    QCOMPARE(findBytes("abc ABC abc \xc9t\xe9 \xd7\xf7", needle, from, backward, matchCase),
             expected);
}

void TestScreenKeeping::findInLargeText_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("needle");
    QTest::addColumn<bool>("backward");
    QTest::addColumn<int>("expected");
    const QByteArray straddle = QByteArray(65536 - 3, 'x') + "NeEdLe" + QByteArray(100, 'x');
    QTest::newRow("across the 64 KiB step, forward")
        << straddle << QByteArray("needle") << false << 65533;
    QTest::newRow("across the 64 KiB step, backward")
        << straddle << QByteArray("needle") << true << 65533;
    // Every 'a' is a near miss: the search hands its windows over to the linear one.
    const QByteArray nearMisses = QByteArray("ab").repeated(100000) +
                                  QByteArray("AB").repeated(50) + "BA" +
                                  QByteArray("ab").repeated(10);
    const QByteArray periodic = QByteArray("ab").repeated(50) + "ba";
    QTest::newRow("near misses, forward") << nearMisses << periodic << false << 200000;
    QTest::newRow("near misses, backward") << nearMisses << periodic << true << 200000;
    QTest::newRow("long miss") << QByteArray(200000, 'a') << QByteArray(1000, 'A') + 'b' << false
                               << -1;
}

// Catches a match lost where two steps of the case-blind search meet, or in its hand-over from
// the quick candidate scan to the linear search.
void TestScreenKeeping::findInLargeText()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, needle);
    QFETCH(bool, backward);
    QFETCH(int, expected);
    QCOMPARE(findBytes(text, needle, backward ? text.size() : 0, backward, false), expected);
}

void TestScreenKeeping::findNextPlace_data()
{
    QTest::addColumn<QByteArray>("needle");
    QTest::addColumn<qint64>("lastMatch");
    QTest::addColumn<int>("selectionStart");
    QTest::addColumn<int>("selectionEnd");
    QTest::addColumn<bool>("backward");
    QTest::addColumn<int>("at");
    QTest::addColumn<bool>("wrapped");
    // Searched in "ab ab ab": matches at 0, 3 and 6.
    QTest::newRow("on past the last match")
        << QByteArray("ab") << 3LL << 0 << 0 << false << 6 << false;
    QTest::newRow("back before the last match")
        << QByteArray("ab") << 3LL << 0 << 0 << true << 0 << false;
    QTest::newRow("no last match: from the selection's end")
        << QByteArray("ab") << -1LL << 1 << 4 << false << 6 << false;
    QTest::newRow("no last match, backward: before the selection")
        << QByteArray("ab") << -1LL << 3 << 5 << true << 0 << false;
    QTest::newRow("last match past the end: from the selection")
        << QByteArray("ab") << 100LL << 0 << 0 << false << 0 << false;
    QTest::newRow("wraps to the start") << QByteArray("ab") << 6LL << 0 << 0 << false << 0 << true;
    QTest::newRow("wraps to the end") << QByteArray("ab") << 0LL << 0 << 0 << true << 6 << true;
    QTest::newRow("nowhere") << QByteArray("ba") << 3LL << 0 << 0 << false << -1 << false;
}

// Catches Find Next that resumes from a place no longer in the text, repeats the match it stands
// on, or does not say that it went round.
void TestScreenKeeping::findNextPlace()
{
    QFETCH(QByteArray, needle);
    QFETCH(qint64, lastMatch);
    QFETCH(int, selectionStart);
    QFETCH(int, selectionEnd);
    QFETCH(bool, backward);
    QFETCH(int, at);
    QFETCH(bool, wrapped);
    const QByteArray text("ab ab ab");
    const qsizetype from = findFrom(lastMatch, text.size(), selectionStart, selectionEnd, backward);
    const FoundAt found = findWrapping(text, needle, from, backward, true);
    QCOMPARE(found.at, at);
    QCOMPARE(found.wrapped, wrapped);
}

void TestScreenKeeping::save_data()
{
    QTest::addColumn<QString>("target"); // what stands at the path before
    QTest::addColumn<bool>("saved");
    QTest::newRow("new file") << "none" << true;
    QTest::newRow("existing file") << "file" << true;
    QTest::newRow("folder") << "folder" << false;
    QTest::newRow("read-only file") << "readonly" << false;
    QTest::newRow("FIFO") << "fifo" << false;
    QTest::newRow("full disk") << "full" << false;
}

// Catches a save that changes a byte, writes into a FIFO or over a read-only file, reports a
// full disk as success, or leaves a half-written or temporary file behind.
void TestScreenKeeping::save()
{
    QFETCH(QString, target);
    QFETCH(bool, saved);
    const TempFiles dir;
    QVERIFY(dir.isValid());
    const QByteArray folder = QFile::encodeName(dir.path());
    if (target == "full" && mount("tmpfs", folder.constData(), "tmpfs", 0, "size=64k") != 0)
        QSKIP("mounting a small tmpfs needs root and a system that allows it");
    const QString path = dir.path(QStringLiteral("screen.txt"));
    const QByteArray before("old contents");
    QFile f(path);
    if (target == "file" || target == "readonly" || target == "full") {
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(before);
        f.close();
    }
    if (target == "readonly")
        QVERIFY(f.setPermissions(QFile::ReadOwner));
    if (target == "folder")
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("screen.txt")));
    if (target == "fifo")
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    QByteArray bytes(256, Qt::Uninitialized);
    for (int c = 0; c < 256; ++c)
        bytes[c] = char(c);
    if (target == "full")
        bytes = bytes.repeated(1024);
    QString why;
    try {
        saveBytesAs(path, bytes);
    } catch (const std::exception &e) {
        why = QString::fromUtf8(e.what());
    }
    // Reading a FIFO would wait for a writer.
    const QByteArray after = target == "fifo" ? QByteArray() : fileBytes(path);
    const QStringList left =
        QDir(dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    if (target == "full")
        umount(folder.constData());
    QCOMPARE(why.isEmpty(), saved);
    if (saved)
        QCOMPARE(after, bytes);
    else if (target != "folder" && target != "fifo")
        QCOMPARE(after, before);
    QCOMPARE(left, QStringList{"screen.txt"});
}

QTEST_GUILESS_MAIN(TestScreenKeeping)
#include "tst_screenkeeping.moc"
