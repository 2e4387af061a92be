// The capture logs on real pseudo-terminals: what reaches the files through a flood, across Close
// Port and Open Port and typed keys; a full disk; paths that cannot be logs; the window's action.

#include "app/form1.h"
#include "support/boxanswerer.h"
#include "support/files.h"
#include "support/terminal.h"
#include "widgets/commondialog.h"

#include <QAction>
#include <QCheckBox>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <random>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray randomBytes(qsizetype size)
{
    std::mt19937 rng(11);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(rng());
    return bytes;
}

// Every byte the screen has taken, the limit's trims included; the raw display keeps the count.
qint64 received(const Form1 &window)
{
    return window.Text1->droppedTotal() + window.Text1->length();
}

} // namespace

class TestCaptureLog : public QObject
{
    Q_OBJECT

private slots:
    void floodAcrossCloseAndOpen()
    {
        TempFiles files;
        const QByteArray flood = randomBytes(8 << 20);
        const QString rawPath = files.file("earlier run\n", "raw");
        const QString stampedPath = files.path("stamped.txt");
        qputenv("QUORLINE_SCREEN_LIMIT", "1");
        auto t = std::make_unique<Terminal>(
            QStringList{"--wait-open", "--echo", "--send-file", files.file(flood)});
        qunsetenv("QUORLINE_SCREEN_LIMIT");
        Form1 &window = t->window;
        window.chkShowControl->setChecked(false);
        window.startLog(rawPath, LogForm::Raw);
        window.startLog(stampedPath, LogForm::Stamped);
        QVERIFY(window.LogToFile->isChecked());
        QVERIFY(t->open());
        // At least, then exactly: a count that ran past the flood fails here, not at the timeout.
        QTRY_VERIFY_WITH_TIMEOUT(received(window) >= flood.size(), 60000);
        QCOMPARE(received(window), flood.size());
        QVERIFY(window.Text1->droppedTotal() > 0);
        QTest::keyClicks(window.Text1, "hi");
        QTRY_COMPARE(received(window), flood.size() + 2);
        window.btnClose->click();
        window.btnOpen->click();
        QTest::keyClicks(window.Text1, "ok");
        QTRY_COMPARE(received(window), flood.size() + 4);
        t.reset(); // the window goes as it does at quit

        QCOMPARE(readWhole(rawPath), "earlier run\n" + flood + "hiok");
        QList<StampedLine> lines;
        QVERIFY(readStampedLog(readWhole(stampedPath), lines));
        QByteArray in;
        QByteArray out;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            (lines[i].direction == LogDirection::Received ? in : out) += lines[i].bytes;
            QVERIFY(i == 0 || lines[i].msSinceEpoch >= lines[i - 1].msSinceEpoch);
        }
        QCOMPARE(in, flood + "hiok");
        QCOMPARE(out, "hiok");
    }

    void fullDiskStopsOnce()
    {
        if (::geteuid() != 0)
            QSKIP("a file system of its own needs root");
        TempFiles files;
        const QByteArray disk = QFile::encodeName(files.path());
        // In a mount namespace of this process's own, so that the mount goes with it.
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", disk.constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("no mount namespace here");
        const qint64 size = 512 << 10;
        Terminal t({"--wait-open", "--flood", QString::number(size), "--pattern", "random"});
        t.window.chkShowControl->setChecked(false);
        const QString path = files.path("full.log");
        t.window.startLog(path, LogForm::Raw);
        BoxAnswerer boxes;
        QVERIFY(t.open());
        QTRY_VERIFY_WITH_TIMEOUT(received(t.window) >= size, 60000);
        QCOMPARE(received(t.window), size);
        QTest::qWait(1200); // a second flush would come by now
        QCOMPARE(boxes.texts(), {"Logging to " + path + " stopped: No space left on device"});
        QVERIFY(!t.window.LogToFile->isChecked());
        QVERIFY(t.window.MSComm1->portOpen());
        ::umount2(disk.constData(), MNT_DETACH);
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reason");
        QTest::newRow("a folder") << "folder"
                                  << "it is a folder";
        QTest::newRow("a FIFO") << "fifo"
                                << "it is a device or a FIFO, not a file";
        QTest::newRow("a device") << "/dev/null"
                                  << "it is a device or a FIFO, not a file";
        QTest::newRow("no such folder") << "gone/log"
                                        << "No such file or directory";
    }
    void refusals()
    {
        QFETCH(QString, path);
        QFETCH(QString, reason);
        TempFiles files;
        QDir(files.path()).mkdir(QStringLiteral("folder"));
        ::mkfifo(QFile::encodeName(files.path("fifo")).constData(), 0600);
        const QString full = path.startsWith('/') ? path : files.path(path);
        CaptureLog log(LogForm::Raw);
        QSignalSpy stopped(&log, &CaptureLog::stopped);
        QVERIFY(!log.start(full));
        QVERIFY(!log.isActive());
        QCOMPARE(stopped.size(), 1);
        QCOMPARE(stopped[0][0].toString(), "Logging to " + full + " stopped: " + reason);
    }

    void logToFileAction()
    {
        TempFiles files;
        const QString path = files.path("session.txt");
        Form1 window(PortMap::build({}, {}));
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QStringList offered;
        window.CommonDialog1->setAppendChooser([&](QWidget *, const QStringList &types) {
            offered = types;
            return CommonDialog::AppendChoice{path, 1};
        });
        const std::unique_ptr<QMenu> menu(window.Text1->createContextMenu());
        QVERIFY(menu->actions().contains(window.LogToFile) && menu->toolTipsVisible());
        QCOMPARE(window.LogToFile->text(), "Log to File...");
        window.Text1->setFocus();
        QTest::keyClick(window.Text1, Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(offered, QStringList({"Raw bytes (*)", "Text with arrival times (*.txt)"}));
        QVERIFY(window.StampedLog->isActive() && !window.RawLog->isActive());
        QVERIFY(window.LogToFile->isChecked());
        QCOMPARE(window.LogToFile->toolTip(), "Logging to " + path + " (text with arrival times)");
        window.LogToFile->trigger();
        QVERIFY(!window.StampedLog->isActive());
        QVERIFY(!window.LogToFile->isChecked());
    }
};

QTEST_MAIN(TestCaptureLog)
#include "tst_capturelog.moc"
