// The program finds its own directory, and with it help.txt, however it is started: directly,
// through a link as /usr/bin/quorline is, through a chain of relative links, from a directory
// that holds another help.txt. Where its directory has no help.txt, start-up goes on in silence.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString Program = QStringLiteral(QUORLINE_PATH);

struct Run
{
    int exitCode = -1;
    QMap<QString, QString> facts;
};

// Starts the program with --check-install from cwd and reads the "name: value" lines.
Run checkInstall(const QString &program, const QString &cwd)
{
    QProcess process;
    process.setWorkingDirectory(cwd);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, {QStringLiteral("--check-install")});
    Run run;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
        const qsizetype colon = line.indexOf(": ");
        if (colon > 0)
            run.facts.insert(QString::fromUtf8(line.left(colon)),
                             QString::fromUtf8(line.mid(colon + 2)));
    }
    return run;
}

} // namespace

class TestInstallLayout : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void findsItsDirectory_data();
    void findsItsDirectory();
    void noHelpBesideTheProgram();

private:
    QTemporaryDir m_dir;
    QString m_programDir;
    QString m_helpFacts;
};

void TestInstallLayout::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_programDir = QFileInfo(Program).canonicalPath();
    QVERIFY2(QFile::exists(m_programDir + QStringLiteral("/help.txt")),
             "the build puts help.txt beside the program");
    // A decoy: the current directory's help.txt must not be read.
    QFile decoy(m_dir.filePath(QStringLiteral("help.txt")));
    QVERIFY(decoy.open(QIODevice::WriteOnly));
    decoy.write("not the program's help\r\n");
    decoy.close();
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("bin")));
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("lib")));
    QVERIFY(QFile::link(Program, m_dir.filePath(QStringLiteral("bin/quorline"))));
    // lib/quorline -> ../bin/quorline -> the program: relative, then absolute.
    QVERIFY(QFile::link(QStringLiteral("../bin/quorline"),
                        m_dir.filePath(QStringLiteral("lib/quorline"))));

    const Run direct = checkInstall(Program, m_dir.path());
    QCOMPARE(direct.exitCode, 0);
    m_helpFacts = direct.facts.value(QStringLiteral("help"));
    QVERIFY2(m_helpFacts.startsWith(u"loaded"), qPrintable(m_helpFacts));
}

void TestInstallLayout::findsItsDirectory_data()
{
    QTest::addColumn<QString>("program");
    QTest::newRow("directly") << Program;
    QTest::newRow("through a link") << m_dir.filePath(QStringLiteral("bin/quorline"));
    QTest::newRow("through two links") << m_dir.filePath(QStringLiteral("lib/quorline"));
}

void TestInstallLayout::findsItsDirectory()
{
    QFETCH(QString, program);
    const Run run = checkInstall(program, m_dir.path());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(QFileInfo(run.facts.value(QStringLiteral("directory"))).canonicalFilePath(),
             m_programDir);
    // The same text as the program's own help.txt gives, not the decoy's.
    QCOMPARE(run.facts.value(QStringLiteral("help")), m_helpFacts);
    QCOMPARE(run.facts.value(QStringLiteral("icon")), QStringLiteral("set"));
    QCOMPARE(run.facts.value(QStringLiteral("title")), QStringLiteral("Quorline v1.02"));
}

void TestInstallLayout::noHelpBesideTheProgram()
{
    // A copy of the program alone in a directory; the current directory has a help.txt.
    QTemporaryDir alone;
    QVERIFY(alone.isValid());
    const QString copy = alone.filePath(QStringLiteral("quorline"));
    QVERIFY(QFile::copy(Program, copy));
    const Run run = checkInstall(copy, m_dir.path());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.facts.value(QStringLiteral("help")), QStringLiteral("not found"));
}

QTEST_GUILESS_MAIN(TestInstallLayout)
#include "tst_installlayout.moc"
