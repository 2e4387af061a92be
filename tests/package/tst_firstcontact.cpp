// The program started from a text console: no window system, no Qt platform. --help and
// --version answer, a plain start says in one line what is missing, nothing ends on a signal;
// and every option --help lists is in the manual page, the README and the help text.
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

namespace {

const QString Program = QStringLiteral(QUORLINE_PATH);

struct Run
{
    bool ended = false;
    QProcess::ExitStatus status = QProcess::CrashExit;
    int code = -1;
    QString out;
    QString err;
};

Run run(const QStringList &args, const QString &platform = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QLatin1StringView(name));
    if (!platform.isEmpty())
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(Program, args);
    Run r;
    r.ended = process.waitForFinished(60000);
    r.status = process.exitStatus();
    r.code = process.exitCode();
    r.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(process.readAllStandardError());
    return r;
}

} // namespace

class TestFirstContact : public QObject
{
    Q_OBJECT

private slots:
    void withoutDisplay_data();
    void withoutDisplay();
    void optionsDocumented_data();
    void optionsDocumented();
};

void TestFirstContact::withoutDisplay_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("platform");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("out");     // what standard output holds
    QTest::addColumn<QString>("errLine"); // standard error's only line; "*": anything

    const QString usage = QStringLiteral("Usage: ");
    const QString noDisplay = QStringLiteral("no display");
    QTest::newRow("--help") << QStringList{"--help"} << QString() << 0 << usage << QString();
    QTest::newRow("-h") << QStringList{"-h"} << QString() << 0 << usage << QString();
    QTest::newRow("--help-all") << QStringList{"--help-all"} << QString() << 0 << usage << QString();
    QTest::newRow("--version") << QStringList{"--version"} << QString() << 0
                               << QStringLiteral("Quorline 1.02\n") << QString();
    QTest::newRow("-v") << QStringList{"-v"} << QString() << 0 << QStringLiteral("Quorline 1.02\n")
                        << QString();
    QTest::newRow("plain start") << QStringList{} << QString() << 1 << QString() << noDisplay;
    QTest::newRow("--demo") << QStringList{"--demo"} << QString() << 1 << QString() << noDisplay;
    QTest::newRow("unknown option") << QStringList{"--bogus"} << QString() << 1 << QString()
                                    << QStringLiteral("*");
    QTest::newRow("unknown, headless") << QStringList{"--bogus"} << QStringLiteral("offscreen") << 1
                                       << QString() << QStringLiteral("*");
    QTest::newRow("--help, headless") << QStringList{"--help"} << QStringLiteral("offscreen") << 0
                                      << usage << QString();
}

// Qt aborts when it finds no window system: a run that ends on a signal, or with the
// wrong word, fails here.
void TestFirstContact::withoutDisplay()
{
    QFETCH(QStringList, args);
    QFETCH(QString, platform);
    QFETCH(int, code);
    QFETCH(QString, out);
    QFETCH(QString, errLine);
    const Run r = run(args, platform);
    QVERIFY(r.ended);
    QCOMPARE(r.status, QProcess::NormalExit);
    QCOMPARE(r.code, code);
    if (out.endsWith(u'\n'))
        QCOMPARE(r.out, out);
    else
        QVERIFY2(r.out.startsWith(out), qPrintable(r.out));
    if (errLine.isEmpty()) {
        QCOMPARE(r.err, QString());
    } else if (errLine == u"*") {
        // A wrong option: what is wrong, then the usage.
        QVERIFY2(r.err.contains(u"bogus") && r.err.contains(u"Usage: "), qPrintable(r.err));
    } else {
        QCOMPARE(r.err.count(u'\n'), 1);
        QVERIFY2(r.err.contains(errLine) && r.err.contains(u"DISPLAY") &&
                     r.err.contains(u"WAYLAND_DISPLAY") &&
                     r.err.contains(u"QT_QPA_PLATFORM=offscreen"),
                 qPrintable(r.err));
    }
    // The same help, whether a platform is named or not (--help-all adds Qt's own options).
    if (code == 0 && out == u"Usage: " && !args.contains(u"--help-all"))
        QCOMPARE(r.out, run(args, QStringLiteral("offscreen")).out);
}

void TestFirstContact::optionsDocumented_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("manual page") << QStringLiteral(QUORLINE_SOURCE_DIR "/packaging/quorline.1");
    QTest::newRow("README") << QStringLiteral(QUORLINE_SOURCE_DIR "/README.md");
    QTest::newRow("help text") << QStringLiteral(QUORLINE_SOURCE_DIR "/help/help.txt");
}

// An option added to the program but not to a document fails here.
void TestFirstContact::optionsDocumented()
{
    QFETCH(QString, file);
    const Run help = run({QStringLiteral("--help")});
    QCOMPARE(help.code, 0);
    QStringList options;
    static const QRegularExpression listed(QStringLiteral("^\\s+(?:-\\S, )?(--[\\w-]+)"),
                                           QRegularExpression::MultilineOption);
    for (auto it = listed.globalMatch(help.out); it.hasNext();)
        options << it.next().captured(1);
    QVERIFY2(options.contains(u"--demo"), qPrintable(help.out));
    QFile doc(file);
    QVERIFY(doc.open(QIODevice::ReadOnly));
    QString text = QString::fromUtf8(doc.readAll());
    text.replace(QStringLiteral("\\-"), QStringLiteral("-")); // the manual page's escaped dashes
    for (const QString &option : options) {
        const QRegularExpression word(QRegularExpression::escape(option) + QStringLiteral("(?![\\w-])"));
        QVERIFY2(text.contains(word), qPrintable(option + QStringLiteral(" is not in ") + file));
    }
}

QTEST_GUILESS_MAIN(TestFirstContact)
#include "tst_firstcontact.moc"
