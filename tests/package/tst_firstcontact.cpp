// The program started from a text console, with no window system and no Qt platform; and every
// option --help lists is in the manual page, the README and the help text.
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

namespace {

struct Run
{
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
    process.start(QStringLiteral(QUORLINE_PATH), args);
    process.waitForFinished(60000);
    return {process.exitStatus(), process.exitCode(),
            QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
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
    QTest::addColumn<QString>("out"); // how standard output starts
    QTest::addColumn<QString>("err"); // what standard error holds, in one line unless a usage

    const QString usage = QStringLiteral("Usage: ");
    const QString noDisplay = QStringLiteral(
        "quorline: no display: start it in a desktop session, or set DISPLAY or WAYLAND_DISPLAY, "
        "or QT_QPA_PLATFORM=offscreen for a check without one\n");
    const QString unknown = QStringLiteral("quorline: Unknown option 'bogus'.\n\nUsage: ");
    QTest::newRow("--help") << QStringList{"--help"} << QString() << 0 << usage << QString();
    QTest::newRow("-h") << QStringList{"-h"} << QString() << 0 << usage << QString();
    QTest::newRow("--help-all") << QStringList{"--help-all"} << QString() << 0 << usage
                                << QString();
    QTest::newRow("--version") << QStringList{"--version"} << QString() << 0
                               << QStringLiteral("Quorline 1.02\n") << QString();
    QTest::newRow("plain start") << QStringList{} << QString() << 1 << QString() << noDisplay;
    QTest::newRow("--demo") << QStringList{"--demo"} << QString() << 1 << QString() << noDisplay;
    // Qt's own options are Qt's, and a window system that cannot start is a missing display.
    QTest::newRow("-platform xcb")
        << QStringList{"-platform", "xcb"} << QString() << 1 << QString() << noDisplay;
    QTest::newRow("-display, no server there")
        << QStringList{"-display", ":987"} << QString() << 1 << QString() << noDisplay;
    QTest::newRow("Qt's -style, then --version")
        << QStringList{"-style", "fusion", "--version"} << QString() << 0
        << QStringLiteral("Quorline 1.02\n") << QString();
    QTest::newRow("unknown") << QStringList{"--bogus"} << QString() << 1 << QString() << unknown;
    const QString rate = QStringLiteral(": the rate must be a whole number from 50 to 20000000\n");
    QTest::newRow("--baud letters") << QStringList{"--baud", "fast"} << QString() << 1 << QString()
                                    << "quorline: --baud fast" + rate;
    QTest::newRow("--baud 0, headless") << QStringList{"--baud=0"} << QStringLiteral("offscreen")
                                        << 1 << QString() << "quorline: --baud 0" + rate;
    QTest::newRow("--baud out of range after a good one")
        << QStringList{"--baud", "921600", "--baud", "20000001"} << QStringLiteral("offscreen") << 1
        << QString() << "quorline: --baud 20000001" + rate;
    QTest::newRow("--baud without a value")
        << QStringList{"--baud"} << QString() << 1 << QString()
        << QStringLiteral("quorline: Missing value after '--baud'.\n\nUsage: ");
    QTest::newRow("unknown, headless")
        << QStringList{"--bogus"} << QStringLiteral("offscreen") << 1 << QString() << unknown;
}

// Qt aborts when it finds no window system: a run that ends on a signal, with the wrong status
// or the wrong words fails here.
void TestFirstContact::withoutDisplay()
{
    QFETCH(QStringList, args);
    QFETCH(QString, platform);
    QFETCH(int, code);
    QFETCH(QString, out);
    QFETCH(QString, err);
    const Run r = run(args, platform);
    QCOMPARE(r.status, QProcess::NormalExit);
    QCOMPARE(r.code, code);
    QVERIFY2(out.isEmpty() ? r.out.isEmpty() : r.out.startsWith(out), qPrintable(r.out));
    QVERIFY2(err.endsWith(u' ') ? r.err.contains(err) : r.err == err, qPrintable(r.err));
    if (args == QStringList{"--help"}) // the same help as with a platform
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
    const QString help = run({QStringLiteral("--help")}).out;
    QFile doc(file);
    QVERIFY(doc.open(QIODevice::ReadOnly));
    const QString text =
        QString::fromUtf8(doc.readAll()).replace(QStringLiteral("\\-"), QStringLiteral("-"));
    static const QRegularExpression listed(QStringLiteral("^\\s+(?:-\\S, )?(--[\\w-]+)"),
                                           QRegularExpression::MultilineOption);
    QVERIFY2(help.contains(QStringLiteral("--demo")), qPrintable(help));
    for (auto it = listed.globalMatch(help); it.hasNext();) {
        const QString option = it.next().captured(1);
        QVERIFY2(text.contains(QRegularExpression(option + QStringLiteral("(?![\\w-])"))),
                 qPrintable(option + QStringLiteral(" is not in ") + file));
    }
}

QTEST_GUILESS_MAIN(TestFirstContact)
#include "tst_firstcontact.moc"
