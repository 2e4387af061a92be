#include "support/boxanswerer.h"
#include "support/events.h"
#include "support/sendfile.h"
#include "support/testmain.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>

#include <optional>

// What a file or the window may do to a send under way: unreadable, growing, shrinking or huge
// files, and the window closed or destroyed mid-send.
class TestSendFileEdges : public QObject
{
    Q_OBJECT

private slots:
    // A file that cannot be read fails at the count, before anything is shown or sent.
    void unreadableFileFailsBeforeDisplay_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("missing") << QStringLiteral("/nonexistent/quorline/file.txt");
        QTest::newRow("directory") << QStringLiteral("/tmp");
        QTest::newRow("read error") << QStringLiteral("/proc/self/mem");
        QTest::newRow("endless device") << QStringLiteral("/dev/zero");
    }

    void unreadableFileFailsBeforeDisplay()
    {
        QFETCH(QString, path);
        Terminal rig({}, Sending);
        QVERIFY(rig.openPort());
        rig.choices << path;
        EventCounter bar(rig.window.ProgressBar1);
        EventCounter label(rig.window.pcntlabel);
        BoxAnswerer boxes;
        rig.window.SendFile->trigger();

        QCOMPARE(boxes.texts(), QStringList({Confirmation, SendError}));
        QCOMPARE(boxes.seen[1].title, QStringLiteral("Quorline"));
        QCOMPARE(boxes.seen[1].icon, QMessageBox::NoIcon);
        QCOMPARE(bar.shows(), 0);
        QCOMPARE(label.shows(), 0);
        QCOMPARE(rig.receivedInTheEnd(), QByteArray());
    }

    // Lines added after the count are still sent; the bar stops at its maximum.
    void fileGrowsDuringSend()
    {
        Terminal rig({}, Sending);
        QVERIFY(rig.openPort(115200));
        const QString path = rig.file("g1\ng2\ng3\n");
        rig.choices << path;
        onceAtValue(rig.window, 1, [path] {
            QFile file(path);
            if (file.open(QIODevice::Append))
                file.write("g4\ng5\n");
        });
        BoxAnswerer boxes;
        rig.window.SendFile->trigger();

        QCOMPARE(boxes.texts(), QStringList{Confirmation});
        QCOMPARE(rig.window.ProgressBar1->value(), 3);
        QCOMPARE(rig.window.pcntlabel->text(), QStringLiteral(" 100%"));
        QVERIFY(!rig.window.ProgressBar1->isVisible());
        QCOMPARE(rig.receivedAtLeast(10), QByteArray("g1g2g3g4g5"));
    }

    // A file cut short after the count ends the send early; the wait and hiding follow.
    void fileShrinksDuringSend()
    {
        Terminal rig({}, Sending);
        QVERIFY(rig.openPort());
        QByteArray content;
        for (int i = 0; i < 2000; ++i)
            content += QByteArray(99, char('a' + i % 26)) + '\n';
        const QString path = rig.file(content);
        rig.choices << path;
        onceAtValue(rig.window, 1, [path] { QFile(path).resize(100000); });
        BoxAnswerer boxes;
        rig.window.SendFile->trigger();

        QCOMPARE(boxes.texts(), QStringList{Confirmation});
        QCOMPARE(rig.window.ProgressBar1->maximum(), 2000);
        QCOMPARE(rig.window.ProgressBar1->value(), 1000);
        QCOMPARE(rig.window.pcntlabel->text(), QStringLiteral(" 50%"));
        QVERIFY(!rig.window.ProgressBar1->isVisible());
        const QByteArray expected = withoutLineEnds(content.left(100000));
        QCOMPARE(rig.receivedAtLeast(expected.size()), expected);
    }

    // Closing the window ends the send at once: no more lines, no wait, no message, and the
    // display is left as it was.
    void closingWindowEndsSend_data()
    {
        QTest::addColumn<bool>("duringWait");
        QTest::newRow("between lines") << false;
        QTest::newRow("during the wait") << true;
    }

    void closingWindowEndsSend()
    {
        QFETCH(bool, duringWait);
        Terminal rig({}, Sending);
        QVERIFY(rig.openPort(115200));
        const int lines = duringWait ? 5 : 1000;
        rig.choices << rig.file(numberedLines("c", lines));
        std::optional<WaitWatcher> closer;
        if (duringWait)
            closer.emplace(rig.window, [&rig] { rig.window.close(); });
        else
            onceAtValue(rig.window, 3, [&rig] { rig.window.close(); });
        BoxAnswerer boxes;
        rig.window.SendFile->trigger();

        QCOMPARE(boxes.texts(), QStringList{Confirmation});
        QVERIFY(!rig.window.isVisible());
        QVERIFY(rig.window.ProgressBar1->isVisibleTo(&rig.window));
        QVERIFY(rig.window.pcntlabel->isVisibleTo(&rig.window));
        if (duringWait) {
            // The handler is gone before the tick that would end the wait.
            QVERIFY(rig.window.Timer1->isActive());
            QCOMPARE(rig.window.ProgressBar1->value(), lines);
        } else {
            QVERIFY(!rig.window.Timer1->isActive());
            QCOMPARE(rig.window.ProgressBar1->value(), 3);
            QCOMPARE(rig.receivedInTheEnd(), withoutLineEnds(numberedLines("c", 3)));
        }
    }

    // The window itself destroyed during a yield: the send ends without touching it.
    void windowDestroyedDuringSend()
    {
        TempFiles files;
        const QString record = files.path(QStringLiteral("received"));
        Peer peer({QStringLiteral("--record"), record});
        QPointer<Form1> window = new Form1(PortMap::build(portEnvironment({{1, peer.path()}}), {}));
        window->show();
        window->MSComm1->setCommPort(1);
        window->MSComm1->setPortOpen(true);
        const QString path = files.file(numberedLines("d", 1000));
        window->CommonDialog1->setChooser(
            [path](QWidget *, const QString &) { return QString(path); });
        onceAtValue(*window, 3, [window] { delete window.data(); });
        BoxAnswerer boxes;
        window->SendFile_triggered();

        QVERIFY(window.isNull());
        QCOMPARE(boxes.texts(), QStringList{Confirmation});
        // Lines still queued went down with the port; nothing after the third was sent.
        const QByteArray got = receivedBeforeMarker(record, peer.path());
        QVERIFY2(withoutLineEnds(numberedLines("d", 3)).startsWith(got), got.constData());
    }

    // As in the program itself: closing the only window mid-send ends the event loop at once.
    void programEndsWhenWindowClosedMidSend()
    {
        Terminal rig({}, Sending);
        QVERIFY(rig.openPort(115200));
        rig.choices << rig.file(numberedLines("p", 1000));
        onceAtValue(rig.window, 3, [&rig] { rig.window.close(); });
        BoxAnswerer boxes;
        bool sendReturned = false;
        QTimer::singleShot(0, &rig.window, [&rig, &sendReturned] {
            rig.window.SendFile->trigger();
            sendReturned = true;
        });
        QTimer::singleShot(20000, qApp, [] { QCoreApplication::exit(1); });
        QCOMPARE(QApplication::exec(), 0);

        QVERIFY(sendReturned);
        QCOMPARE(boxes.texts(), QStringList{Confirmation});
        QCOMPARE(rig.window.ProgressBar1->value(), 3);
        QVERIFY(!rig.window.Timer1->isActive());
    }

    void hundredMegabyteFile()
    {
        Terminal rig({}, Sending);
        QVERIFY(rig.openPort());
        constexpr int lineCount = 100 * 1024;
        QCryptographicHash expected(QCryptographicHash::Sha1);
        const QString path = rig.files.path(QStringLiteral("large.txt"));
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            for (int i = 0; i < lineCount; ++i) {
                const QByteArray line(1023, char('A' + i % 26));
                expected.addData(line);
                file.write(line + '\n');
            }
        }
        rig.choices << path;
        BoxAnswerer boxes;
        rig.window.SendFile->trigger();

        QCOMPARE(boxes.texts(), QStringList{Confirmation});
        QCOMPARE(rig.window.ProgressBar1->value(), lineCount);
        const qint64 size = qint64(lineCount) * 1023;
        QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(rig.recordFile).size(), size, 20000);
        QCryptographicHash got(QCryptographicHash::Sha1);
        QFile record(rig.recordFile);
        QVERIFY(record.open(QIODevice::ReadOnly));
        QVERIFY(got.addData(&record));
        QCOMPARE(got.result().toHex(), expected.result().toHex());
    }
};

QUORLINE_TEST_MAIN(TestSendFileEdges, "hundredMegabyteFile")
#include "tst_sendfileedges.moc"
