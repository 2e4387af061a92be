#include "app/form1.h"
#include "help/helptext.h"
#include "serial/serialportcontrol.h"
#include "support/boxanswerer.h"
#include "support/events.h"
#include "support/files.h"
#include "support/peer.h"
#include "support/terminal.h"
#include "widgets/form2.h"
#include "widgets/screen.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

const QString InitialHelp = QStringLiteral("Help.txt file not found");

// The peer sends text at 2000 bytes a second, from the moment the port is opened, for minutes.
QStringList trickle()
{
    return {QStringLiteral("--wait-open"), QStringLiteral("--rate"),  QStringLiteral("2000"),
            QStringLiteral("--flood"),     QStringLiteral("1000000"), QStringLiteral("--pattern"),
            QStringLiteral("text")};
}

// What a text box shows for a help text: each line end is a paragraph break.
QString asShown(QString text)
{
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

} // namespace

class HelpAboutTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void helpBesideTheProgram();
    void helpNotLoaded_data();
    void helpNotLoaded();
    void helpShown_data();
    void helpShown();
    void loadHandlesEventsAndSetsOnce();
    void menuAndCloseHelp();
    void receivedBehindThePanel();
    void aboutShowsVersionEachTime();
    void screenFillsWhileAboutOpen();
    void aboutResizeMovesNothing();

private:
    TempFiles m_program;
    TempFiles m_working;
    QString m_startDir;
};

void HelpAboutTest::init()
{
    m_startDir = QDir::currentPath();
    QVERIFY(m_program.isValid() && m_working.isValid());
    QVERIFY(QDir::setCurrent(m_working.path()));
    writeFile(m_working.path(QStringLiteral("help.txt")), "From the working directory\r\n");
}

void HelpAboutTest::cleanup()
{
    QDir::setCurrent(m_startDir);
    QDir(m_program.path()).removeRecursively();
    QDir().mkpath(m_program.path());
}

// The build puts help.txt beside every program in bin/, this test included.
void HelpAboutTest::helpBesideTheProgram()
{
    const QString beside = helpFilePath(QCoreApplication::applicationDirPath());
    const auto expected = readHelpText(beside);
    QVERIFY2(expected.has_value(), qPrintable(beside));

    Form1 w(PortMap::build({}, {}));
    const BoxAnswerer boxes;
    w.Form_Load();
    QCOMPARE(w.Helpbox->toPlainText(), asShown(expected.value_or(QString())));
    QVERIFY(w.Helpbox->toPlainText().startsWith(QStringLiteral("QUORLINE HELP\n\n")));
    QVERIFY(w.Helpbox->document()->blockCount() > 30);
    QVERIFY(w.HelpFrame->isHidden());
    QCoreApplication::processEvents(); // a box posted by the load comes up now
    QCOMPARE(boxes.texts(), QStringList());
}

void HelpAboutTest::helpNotLoaded_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("only in the working directory") << QString();
    QTest::newRow("a directory") << QStringLiteral("directory");
    QTest::newRow("read error") << QStringLiteral("read error");
}

void HelpAboutTest::helpNotLoaded()
{
    QFETCH(QString, kind);
    const QString help = m_program.path(QStringLiteral("help.txt"));
    if (kind == QLatin1StringView("directory"))
        QVERIFY(QDir().mkdir(help));
    else if (kind == QLatin1StringView("read error"))
        QVERIFY(QFile::link(QStringLiteral("/proc/self/mem"), help));

    Form1 w(PortMap::build({}, {}));
    w.helpDirectory = m_program.path();
    const BoxAnswerer boxes;
    w.Form_Load();
    QCOMPARE(w.Helpbox->toPlainText(), InitialHelp);
    QCoreApplication::processEvents(); // a box posted by the load comes up now
    QCOMPARE(boxes.texts(), QStringList());
    QCOMPARE(w.windowTitle(), QStringLiteral("Quorline v1.02"));
}

void HelpAboutTest::helpShown_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("empty") << QByteArray() << QStringList{QString()};
    QTest::newRow("CR LF") << QByteArray("A\r\nB\r\nC\r\n") << QStringList{"A", "B", "C"};
    QTest::newRow("LF only") << QByteArray("A\nB\n") << QStringList{"A", "B", ""};
}

void HelpAboutTest::helpShown()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, lines);
    writeFile(m_program.path(QStringLiteral("help.txt")), file);

    Form1 w(PortMap::build({}, {}));
    w.helpDirectory = m_program.path();
    w.Form_Load();
    QCOMPARE(w.Helpbox->toPlainText(), lines.join(u'\n'));
}

// A megabyte of help: events are handled between lines, and the panel only ever shows the
// initial text or the whole file.
void HelpAboutTest::loadHandlesEventsAndSetsOnce()
{
    QByteArray file;
    QString whole;
    for (int n = 1; file.size() < 1024 * 1024; ++n) {
        const QByteArray line = "Help line " + QByteArray::number(n);
        file += line + "\r\n";
        whole += QString::fromLatin1(line) + u'\n';
    }
    whole.chop(1);
    writeFile(m_program.path(QStringLiteral("help.txt")), file);

    Form1 w(PortMap::build({}, {}));
    w.helpDirectory = m_program.path();
    int ticks = 0;
    QStringList seenDuringLoad;
    QTimer timer;
    connect(&timer, &QTimer::timeout, &timer, [&ticks, &seenDuringLoad, &w] {
        ++ticks;
        const QString shown = w.Helpbox->toPlainText();
        if (shown != InitialHelp && !seenDuringLoad.contains(shown.left(40)))
            seenDuringLoad << shown.left(40);
    });
    timer.start(0);
    w.Form_Load();
    timer.stop();

    QVERIFY2(ticks > 10, qPrintable(QString::number(ticks)));
    QVERIFY2(seenDuringLoad.isEmpty(), qPrintable(seenDuringLoad.join(u'|')));
    QCOMPARE(w.Helpbox->toPlainText().size(), whole.size());
    QVERIFY(w.Helpbox->toPlainText() == whole);
}

void HelpAboutTest::menuAndCloseHelp()
{
    writeFile(m_program.path(QStringLiteral("help.txt")), "Line one\r\nLine two\r\n");
    Form1 w(PortMap::build({}, {}));
    w.helpDirectory = m_program.path();
    w.Form_Load();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QString text = w.Helpbox->toPlainText();
    QCOMPARE(text, QStringLiteral("Line one\nLine two"));

    QVERIFY(!w.HelpFrame->isVisible());
    w.help->trigger();
    QVERIFY(w.HelpFrame->isVisible());
    // The panel lies in front of the screen and covers most of it.
    const QRect covered = w.HelpFrame->geometry() & w.Text1->geometry();
    QVERIFY(covered.width() * covered.height() > w.Text1->width() * w.Text1->height() / 2);
    QVERIFY(w.Text1->parentWidget()->childAt(w.Text1->geometry().center()) != w.Text1);
    w.help->trigger();
    QVERIFY(!w.HelpFrame->isVisible());

    w.help->trigger();
    QVERIFY(w.HelpFrame->isVisible());
    QCOMPARE(w.Helpbox->toPlainText(), text);
    QTest::mouseClick(w.Command1, Qt::LeftButton);
    QVERIFY(!w.HelpFrame->isVisible());
    w.help->trigger();
    QVERIFY(w.HelpFrame->isVisible());
    QCOMPARE(w.Helpbox->toPlainText(), text);
}

void HelpAboutTest::receivedBehindThePanel()
{
    Terminal t(trickle(), {.load = false});
    QVERIFY(!t.peer.path().isEmpty());
    Form1 &w = t.window;
    w.helpDirectory = m_program.path();
    t.load();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.cboPort->currentText(), QStringLiteral("COM1"));
    w.btnOpen->click();
    QVERIFY(w.MSComm1->portOpen());

    w.help->trigger();
    QVERIFY(w.HelpFrame->isVisible());
    const qsizetype before = w.Text1->length();
    QTRY_VERIFY_WITH_TIMEOUT(w.Text1->length() > before + 200, 10000);
    QVERIFY(w.HelpFrame->isVisible());
    QCOMPARE(w.Helpbox->toPlainText(), InitialHelp);
    w.Command1->click();
    QVERIFY(!w.HelpFrame->isVisible());
    QVERIFY(w.Text1->length() > before + 200);
}

void HelpAboutTest::aboutShowsVersionEachTime()
{
    Form1 w(PortMap::build({}, {}));
    w.Form_Load();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    // The text the version label holds at each of its paints.
    QStringList painted;
    EventCounter paints;
    paints.onEvent = [&painted](QObject *watched, QEvent *event) {
        if (event->type() == QEvent::Paint)
            painted << static_cast<QLabel *>(watched)->text();
    };
    QList<QWidget *> windows;
    QStringList versions;
    for (int opening = 0; opening < 3; ++opening) {
        BoxAnswerer driver([&paints, &windows, &versions](QWidget *modal) {
            auto *about = qobject_cast<Form2 *>(modal);
            if (!about || !about->isVisible())
                return false;
            if (!windows.contains(about))
                paints.watch(about->Label3);
            windows << about;
            versions << about->Label3->text();
            // A modal window of the whole program, over the terminal window, owned by none.
            if (about->windowModality() != Qt::ApplicationModal || about->parentWidget() ||
                about->windowTitle() != QStringLiteral("About Quorline") ||
                about->objectName() != QStringLiteral("Form2"))
                versions.last() += QStringLiteral(" (wrong window)");
            // Painted at least once while it shows, whatever painted before the watch began.
            const int before = paints.paints();
            about->Label3->update();
            (void)QTest::qWaitFor([&paints, before] { return paints.paints() > before; }, 5000);
            about->close();
            return true;
        });
        w.Aboutbox->trigger();
        QVERIFY(driver.done());
        QVERIFY(!windows.last()->isVisible());
        // The load step runs at every showing, not only at the first.
        static_cast<Form2 *>(windows.last())->Label3->setText(QStringLiteral("Version  x.x.x"));
    }
    QCOMPARE(versions, QStringList(3, QStringLiteral("Version 1.02")));
    QVERIFY(windows[0] == windows[1] && windows[1] == windows[2]);
    QVERIFY(!painted.isEmpty());
    QVERIFY2(!painted.contains(QStringLiteral("Version  x.x.x")), qPrintable(painted.join(u'|')));
}

void HelpAboutTest::screenFillsWhileAboutOpen()
{
    Terminal t(trickle(), {.load = false});
    QVERIFY(!t.peer.path().isEmpty());
    Form1 &w = t.window;
    w.helpDirectory = m_program.path();
    t.load();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.btnOpen->click();
    QVERIFY(w.MSComm1->portOpen());
    QTRY_VERIFY_WITH_TIMEOUT(w.Text1->length() > 0, 10000);

    qsizetype atOpening = -1;
    qsizetype grown = 0;
    QDeadlineTimer deadline(10000);
    BoxAnswerer driver([&atOpening, &grown, &deadline, &w](QWidget *modal) {
        if (!qobject_cast<Form2 *>(modal) || !modal->isVisible())
            return false;
        if (atOpening < 0)
            atOpening = w.Text1->length();
        grown = w.Text1->length() - atOpening;
        if (grown < 500 && !deadline.hasExpired())
            return false;
        modal->close();
        return true;
    });
    w.Aboutbox->trigger();
    QVERIFY(driver.done());
    QVERIFY2(grown >= 500, qPrintable(QString::number(grown)));
}

void HelpAboutTest::aboutResizeMovesNothing()
{
    Form1 w(PortMap::build({}, {}));
    w.Form_Load();
    QList<QRect> before;
    QList<QRect> bigger;
    QList<QRect> smaller;
    QSize client;
    BoxAnswerer driver([&before, &bigger, &smaller, &client](QWidget *modal) {
        auto *about = qobject_cast<Form2 *>(modal);
        if (!about || !about->isVisible())
            return false;
        const QList<QLabel *> labels{about->Label1, about->Label2, about->Label3, about->Label4,
                                     about->Label5};
        const auto places = [&labels] {
            QList<QRect> rects;
            for (QLabel *label : labels)
                rects << label->geometry();
            return rects;
        };
        client = about->size();
        before = places();
        const auto resized = [about](QSize size) {
            about->resize(size);
            (void)QTest::qWaitFor([about, size] { return about->size() == size; }, 5000);
            QCoreApplication::processEvents(); // any layout the resize posted
        };
        resized(client * 2);
        bigger = places();
        resized(client / 2);
        smaller = places();
        about->close();
        return true;
    });
    w.Aboutbox->trigger();
    QVERIFY(driver.done());
    const auto twips = [&w](int value) { return w.twips(value); };
    QCOMPARE(client, QSize(twips(7035), twips(3810)));
    QCOMPARE(before.size(), 5);
    QCOMPARE(before[0], QRect(twips(1320), twips(240), twips(4575), twips(375)));
    QCOMPARE(before[4], QRect(twips(840), twips(3480), twips(5415), twips(255)));
    QCOMPARE(bigger, before);
    QCOMPARE(smaller, before);
}

QTEST_MAIN(HelpAboutTest)
#include "tst_helpabout.moc"
