// The screen's rules that need no window: the memory limit, find, and saving its bytes.
#include "terminal/screenfile.h"
#include "terminal/screenfind.h"
#include "terminal/screenmodel.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/mount.h>
#include <sys/stat.h>

namespace {

ScreenModel modelWithWidth(qint64 widthPx)
{
    ScreenModel m;
    ScreenModel::Advances adv;
    adv.fill(ScreenModel::Unit);
    m.setLayout(adv, 4 * ScreenModel::Unit, widthPx * ScreenModel::Unit);
    return m;
}

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
    void limitKeepsNewestRows_data();
    void limitKeepsNewestRows();
    void limitSetting_data();
    void limitSetting();
    void find_data();
    void find();
    void save_data();
    void save();
    void saveToFullDisk();
};

void TestScreenKeeping::limitKeepsNewestRows_data()
{
    QTest::addColumn<QByteArray>("unit");
    QTest::addColumn<qint64>("width");
    QTest::addColumn<int>("piece");
    QTest::newRow("lines") << QByteArray("line of text\r\n") << qint64(40) << 100;
    QTest::newRow("wrapped, no breaks") << QByteArray("[CR][LF]word ") << qint64(30) << 333;
    QTest::newRow("one row, no wrap") << QByteArray("abcdefg") << ScreenModel::NoWrap << 1000;
    QTest::newRow("only line breaks") << QByteArray("\n") << qint64(40) << 97;
    QTest::newRow("CR LF split by pieces") << QByteArray("ab\r\n") << qint64(40) << 3;
}

// Catches a trim that loses or reorders bytes, keeps too much, or leaves rows that a fresh
// layout of what stays would not give.
void TestScreenKeeping::limitKeepsNewestRows()
{
    QFETCH(QByteArray, unit);
    QFETCH(qint64, width);
    QFETCH(int, piece);
    const qint64 limit = 64 * 1024;
    ScreenModel m = modelWithWidth(width == ScreenModel::NoWrap ? 0 : width);
    m.setLimit(limit);
    QByteArray stream;
    while (stream.size() < 10 * limit)
        stream += unit;
    qint64 dropped = 0;
    int trims = 0;
    int appends = 0;
    for (qsizetype at = 0; at < stream.size(); at += piece) {
        const qsizetype d = m.append(QByteArrayView(stream).sliced(at, std::min<qsizetype>(piece, stream.size() - at)));
        dropped += d;
        trims += d > 0 ? 1 : 0;
        ++appends;
        QVERIFY(m.footprint() <= limit);
    }
    QCOMPARE(dropped + m.length(), stream.size());
    QVERIFY(m.bytes() == stream.right(m.length()));
    QVERIFY(m.footprint() >= limit / 2);
    // Large steps: a trim every few appends would make the cost per byte grow with the limit.
    QVERIFY2(trims > 0 && trims <= appends / 4, qPrintable(QString::number(trims)));
    ScreenModel fresh = modelWithWidth(width == ScreenModel::NoWrap ? 0 : width);
    fresh.setBytes(m.bytes());
    if (width != ScreenModel::NoWrap)
        QCOMPARE(rowKeys(m), rowKeys(fresh));
    QCOMPARE(m.lineCount(), fresh.lineCount());
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
    QTest::newRow("letters") << QByteArray("lots") << big << 1024 * MiB << true;
    QTest::newRow("unit suffix") << QByteArray("12M") << big << 1024 * MiB << true;
    QTest::newRow("fraction") << QByteArray("1.5") << big << 1024 * MiB << true;
    QTest::newRow("beyond 64 bits") << QByteArray("99999999999999999999") << big << 1024 * MiB
                                    << true;
    QTest::newRow("more than memory") << QByteArray("100000") << 4096 * MiB << 2048 * MiB << true;
    QTest::newRow("default on a small machine") << QByteArray() << 1024 * MiB << 512 * MiB << true;
    QTest::newRow("memory unknown") << QByteArray("100000") << qint64(0) << 100000 * MiB << false;
}

// Catches a setting that is taken as 0 bytes (an empty screen), overflows, or is silently wrong.
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
    QTest::addColumn<QByteArray>("haystack");
    QTest::addColumn<QByteArray>("needle");
    QTest::addColumn<qsizetype>("from");
    QTest::addColumn<bool>("backward");
    QTest::addColumn<bool>("matchCase");
    QTest::addColumn<qsizetype>("expected");
    const QByteArray text("abc ABC abc \xc9t\xe9 \xd7\xf7");
    QTest::newRow("forward") << text << QByteArray("abc") << qsizetype(1) << false << true
                             << qsizetype(8);
    QTest::newRow("forward at from") << text << QByteArray("abc") << qsizetype(8) << false
                                     << true << qsizetype(8);
    QTest::newRow("forward, any case") << text << QByteArray("abc") << qsizetype(1) << false
                                       << false << qsizetype(4);
    QTest::newRow("backward") << text << QByteArray("abc") << qsizetype(7) << true << true
                              << qsizetype(0);
    QTest::newRow("backward, any case") << text << QByteArray("ABC") << qsizetype(7) << true
                                        << false << qsizetype(4);
    QTest::newRow("backward from past the end")
        << text << QByteArray("abc") << qsizetype(1000) << true << true << qsizetype(8);
    QTest::newRow("latin-1 letters fold") << text << QByteArray("\xe9t\xc9") << qsizetype(0)
                                          << false << false << qsizetype(12);
    QTest::newRow("latin-1 case kept") << text << QByteArray("\xe9t\xc9") << qsizetype(0) << false
                                       << true << qsizetype(-1);
    QTest::newRow("times is not divide") << text << QByteArray("\xf7\xf7") << qsizetype(0)
                                         << false << false << qsizetype(-1);
    QTest::newRow("none after from") << text << QByteArray("ABC") << qsizetype(5) << false << true
                                     << qsizetype(-1);
    QTest::newRow("empty needle") << text << QByteArray() << qsizetype(0) << false << false
                                  << qsizetype(-1);
    QTest::newRow("longer than text") << QByteArray("ab") << QByteArray("abc") << qsizetype(0)
                                      << false << false << qsizetype(-1);
    QTest::newRow("NUL bytes") << QByteArray("x\0y\0z", 5) << QByteArray("\0z", 2) << qsizetype(0)
                               << false << false << qsizetype(3);
}

// Catches matches that start before from, miss by one at either end, or fold the wrong bytes.
void TestScreenKeeping::find()
{
    QFETCH(QByteArray, haystack);
    QFETCH(QByteArray, needle);
    QFETCH(qsizetype, from);
    QFETCH(bool, backward);
    QFETCH(bool, matchCase);
    QFETCH(qsizetype, expected);
    QCOMPARE(findBytes(haystack, needle, from, backward, matchCase), expected);
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
    QTest::newRow("missing folder") << "missing" << false;
}

// Catches a save that changes a byte, writes into a FIFO or over a read-only file, or leaves a
// half-written file or temporary file behind.
void TestScreenKeeping::save()
{
    QFETCH(QString, target);
    QFETCH(bool, saved);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString path = dir.filePath(QStringLiteral("screen.txt"));
    const QByteArray before("old contents");
    if (target == QLatin1String("file") || target == QLatin1String("readonly")) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(before);
        f.close();
        if (target == QLatin1String("readonly"))
            QVERIFY(f.setPermissions(QFile::ReadOwner));
    } else if (target == QLatin1String("folder")) {
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("screen.txt")));
    } else if (target == QLatin1String("fifo")) {
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (target == QLatin1String("missing")) {
        path = dir.filePath(QStringLiteral("no/screen.txt"));
    }
    QByteArray bytes(256, Qt::Uninitialized);
    for (int c = 0; c < 256; ++c)
        bytes[c] = char(c);
    bool ok = true;
    QString why;
    try {
        saveBytesAs(path, bytes);
    } catch (const std::exception &e) {
        ok = false;
        why = QString::fromUtf8(e.what());
    }
    QCOMPARE(ok, saved);
    if (saved) {
        QCOMPARE(fileBytes(path), bytes);
    } else {
        QVERIFY(why.contains(QDir::toNativeSeparators(path)));
        if (target == QLatin1String("readonly"))
            QCOMPARE(fileBytes(path), before);
    }
    // Nothing else left in the folder: no temporary file of a failed save.
    const QStringList left = QDir(dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    QCOMPARE(left, target == QLatin1String("missing") ? QStringList() : QStringList{"screen.txt"});
}

// Catches a full disk reported as success or leaving a truncated file where the old one was.
void TestScreenKeeping::saveToFullDisk()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    if (mount("tmpfs", QFile::encodeName(dir.path()).constData(), "tmpfs", 0, "size=64k") != 0)
        QSKIP("mounting a small tmpfs needs root and a system that allows it");
    const QString path = dir.filePath(QStringLiteral("screen.txt"));
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("old contents");
    }
    bool refused = false;
    try {
        saveBytesAs(path, QByteArray(1024 * 1024, 'x'));
    } catch (const std::exception &) {
        refused = true;
    }
    const QByteArray after = fileBytes(path);
    const QStringList left = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    umount(QFile::encodeName(dir.path()).constData());
    QVERIFY(refused);
    QCOMPARE(after, QByteArray("old contents"));
    QCOMPARE(left, QStringList{"screen.txt"});
}

QTEST_GUILESS_MAIN(TestScreenKeeping)
#include "tst_screenkeeping.moc"
