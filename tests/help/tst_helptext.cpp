#include "help/helptext.h"
#include "support/files.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

class HelpTextTest : public QObject
{
    Q_OBJECT

private slots:
    void lines_data();
    void lines();
    void wholeMegabyte();
    void failures_data();
    void failures();
    void filePath_data();
    void filePath();

private:
    QString write(const QByteArray &bytes);

    TempFiles m_dir;
};

QString HelpTextTest::write(const QByteArray &bytes)
{
    return m_dir.file(bytes, QStringLiteral("help"));
}

void HelpTextTest::lines_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("lines");

    const QByteArray longLine(64 * 1024 - 1, 'a');
    QTest::newRow("empty") << QByteArray() << QString() << 0;
    QTest::newRow("CR LF ends") << QByteArray("A\r\nB\r\nC\r\n") << QStringLiteral("A\r\nB\r\nC")
                                << 3;
    QTest::newRow("last line unended")
        << QByteArray("A\r\nB\r\nC") << QStringLiteral("A\r\nB\r\nC") << 3;
    QTest::newRow("LF alone stays in the line")
        << QByteArray("A\nB\nC\n") << QStringLiteral("A\nB\nC\n") << 1;
    QTest::newRow("CR alone ends a line")
        << QByteArray("A\rB\rC\r") << QStringLiteral("A\r\nB\r\nC") << 3;
    QTest::newRow("blank lines kept")
        << QByteArray("A\r\n\r\n\r\nB\r\n") << QStringLiteral("A\r\n\r\n\r\nB") << 4;
    QTest::newRow("LF then CR") << QByteArray("A\n\rB") << QStringLiteral("A\n\r\nB") << 2;
    QTest::newRow("CR CR LF") << QByteArray("A\r\r\nB") << QStringLiteral("A\r\n\r\nB") << 3;
    QTest::newRow("only a line end") << QByteArray("\r\n") << QString() << 1;
    QTest::newRow("Latin-1 bytes and NUL")
        << QByteArray("\xE9t\xE9\0\xFF", 5)
        << QStringView(u"\u00E9t\u00E9\u0000\u00FF", 5).toString() << 1;
    // The reader takes the file in 64 KiB pieces: a line end may straddle two of them.
    QTest::newRow("CR LF split between pieces")
        << longLine + "\r\nB" << QString::fromLatin1(longLine) + QStringLiteral("\r\nB") << 2;
    QTest::newRow("CR at end of a piece")
        << longLine + "\rB" << QString::fromLatin1(longLine) + QStringLiteral("\r\nB") << 2;
    QTest::newRow("LF opens the next piece")
        << longLine + "x\nB" << QString::fromLatin1(longLine) + QStringLiteral("x\nB") << 1;
}

void HelpTextTest::lines()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, text);
    QFETCH(int, lines);

    int yields = 0;
    const auto read = readHelpText(write(file), [&yields] { ++yields; });
    QVERIFY(read.has_value());
    QCOMPARE(read.value_or(QString()), text);
    QCOMPARE(yields, lines);
}

void HelpTextTest::wholeMegabyte()
{
    QByteArray file;
    QByteArray expected;
    int lines = 0;
    while (file.size() < 1024 * 1024) {
        const QByteArray line = "Line " + QByteArray::number(++lines) + " of a long help text \xB0";
        if (!expected.isEmpty())
            expected += "\r\n";
        expected += line;
        file += line + "\r\n";
    }
    int yields = 0;
    const auto read = readHelpText(write(file), [&yields] { ++yields; });
    QVERIFY(read.has_value());
    QCOMPARE(read.value_or(QString()).size(), expected.size());
    QVERIFY(read.value_or(QString()) == QString::fromLatin1(expected));
    QCOMPARE(yields, lines);
}

void HelpTextTest::failures_data()
{
    QTest::addColumn<QString>("path");

    QVERIFY(m_dir.isValid());
    const QString missing = m_dir.path(QStringLiteral("missing.txt"));
    QTest::newRow("missing") << missing;

    const QString directory = m_dir.path(QStringLiteral("directory"));
    QVERIFY(QDir().mkdir(directory));
    QTest::newRow("a directory") << directory;

    const QString dangling = m_dir.path(QStringLiteral("dangling.txt"));
    QVERIFY(QFile::link(missing, dangling));
    QTest::newRow("dangling link") << dangling;

    const QString loop = m_dir.path(QStringLiteral("loop.txt"));
    QVERIFY(QFile::link(loop, loop));
    QTest::newRow("link loop") << loop;

    // A pipe with no writer would keep start-up waiting.
    const QString fifo = m_dir.path(QStringLiteral("fifo.txt"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QTest::newRow("a pipe") << fifo;

    // An endless device would never reach its end.
    const QString zero = m_dir.path(QStringLiteral("zero.txt"));
    QVERIFY(QFile::link(QStringLiteral("/dev/zero"), zero));
    QTest::newRow("a device") << zero;

    // Reading the start of a process's memory fails with EIO: a read error.
    const QString mem = m_dir.path(QStringLiteral("mem.txt"));
    QVERIFY(QFile::link(QStringLiteral("/proc/self/mem"), mem));
    QTest::newRow("read error") << mem;

    const QString locked = write("A\r\nB\r\n");
    QVERIFY(QFile::setPermissions(locked, QFileDevice::Permissions()));
    QTest::newRow("no read permission") << locked;
}

void HelpTextTest::failures()
{
    QFETCH(QString, path);
    if (QTest::currentDataTag() == QLatin1StringView("no read permission") && ::geteuid() == 0)
        QSKIP("root reads a file without read permission");

    int yields = 0;
    const auto read = readHelpText(path, [&yields] { ++yields; });
    QVERIFY(!read.has_value());
    QCOMPARE(yields, 0);
}

void HelpTextTest::filePath_data()
{
    QTest::addColumn<QString>("directory");
    QTest::addColumn<QString>("path");

    QTest::newRow("program directory")
        << QStringLiteral("/opt/quorline") << QStringLiteral("/opt/quorline/help.txt");
    QTest::newRow("trailing separator")
        << QStringLiteral("/opt/quorline/") << QStringLiteral("/opt/quorline/help.txt");
    QTest::newRow("root") << QStringLiteral("/") << QStringLiteral("/help.txt");
}

void HelpTextTest::filePath()
{
    QFETCH(QString, directory);
    QFETCH(QString, path);
    QCOMPARE(helpFilePath(directory), path);
}

QTEST_GUILESS_MAIN(HelpTextTest)
#include "tst_helptext.moc"
