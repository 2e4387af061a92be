#include "support/boxanswerer.h"
#include "support/events.h"
#include "support/sendfile.h"
#include "widgets/screen.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>

class TestSendFile : public QObject
{
    Q_OBJECT

private slots:
    void cancelAtConfirmationDoesNothing()
    {
        Terminal rig({}, Sending);
        QVERIFY(rig.openPort());
        rig.choices << rig.file("abc\n");
        EventCounter bar(rig.window.ProgressBar1);
        BoxAnswerer boxes({QMessageBox::Cancel});
        rig.window.SendFile->trigger();

        QCOMPARE(boxes.seen.size(), 1);
        QCOMPARE(boxes.seen[0].title, QStringLiteral("Send File"));
        QCOMPARE(boxes.seen[0].text, Confirmation);
        QCOMPARE(boxes.seen[0].icon, QMessageBox::NoIcon);
        QCOMPARE(boxes.seen[0].buttons, QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(rig.chooserCalls, 0);
        QCOMPARE(bar.shows(), 0);
        QCOMPARE(rig.receivedInTheEnd(), QByteArray());
    }

    void emptyNameIsRefused()
    {
        Terminal rig({}, Sending);
        QVERIFY(rig.openPort());
        rig.choices << QString();
        EventCounter bar(rig.window.ProgressBar1);
        BoxAnswerer boxes;
        rig.window.SendFile->trigger();

        QCOMPARE(rig.chooserCalls, 1);
        QCOMPARE(boxes.texts(),
                 QStringList({Confirmation, QStringLiteral("No filename provided ..")}));
        QCOMPARE(boxes.seen[1].title, QStringLiteral("Quorline"));
        QCOMPARE(boxes.seen[1].buttons, QMessageBox::Ok);
        QCOMPARE(bar.shows(), 0);
        QVERIFY(!rig.window.pcntlabel->isVisible());
    }

    void closedPortLeavesDisplayShowing()
    {
        Terminal rig({}, Sending);
        rig.choices << rig.file("one\ntwo\nthree\n");
        BoxAnswerer boxes;
        rig.window.SendFile->trigger();

        QCOMPARE(boxes.texts(), QStringList({Confirmation, SendError}));
        QVERIFY(rig.window.ProgressBar1->isVisible());
        QVERIFY(rig.window.ProgressLabel->isVisible());
        QVERIFY(rig.window.pcntlabel->isVisible());
        QCOMPARE(rig.window.pcntlabel->text(), QStringLiteral("0%"));
        QCOMPARE(rig.window.ProgressBar1->maximum(), 3);
        QCOMPARE(rig.window.ProgressBar1->value(), 0);
        QVERIFY(!rig.window.Timer1->isActive());
    }

    void emptyFileWaitsThenHides()
    {
        Terminal rig({}, Sending);
        QVERIFY(rig.openPort());
        rig.choices << rig.file(QByteArray());
        bool shownDuringWait = false;
        QString labelDuringWait;
        WaitWatcher wait(rig.window, [&rig, &shownDuringWait, &labelDuringWait] {
            shownDuringWait = rig.window.ProgressBar1->isVisible() &&
                              rig.window.ProgressLabel->isVisible() &&
                              rig.window.pcntlabel->isVisible();
            labelDuringWait = rig.window.pcntlabel->text();
        });
        BoxAnswerer boxes;
        rig.window.SendFile->trigger();

        QCOMPARE(boxes.texts(), QStringList{Confirmation});
        QVERIFY(shownDuringWait);
        QCOMPARE(labelDuringWait, QStringLiteral("0%"));
        QCOMPARE(rig.window.ProgressBar1->maximum(), 0);
        QVERIFY(!rig.window.ProgressBar1->isVisible());
        QVERIFY(!rig.window.ProgressLabel->isVisible());
        QVERIFY(!rig.window.pcntlabel->isVisible());
        QVERIFY(!rig.window.Timer1->isActive());
        QCOMPARE(rig.received(), QByteArray());
    }

    // The label shows the share of lines sent once each line has gone, and stays through the wait.
    void threeLinesShowTheirShare()
    {
        Terminal rig({}, Sending);
        QVERIFY(rig.openPort(115200));
        rig.choices << rig.file("abc\r\ndef\nghi");
        QStringList labels;
        connect(rig.window.ProgressBar1, &QProgressBar::valueChanged, &rig.window,
                [&rig, &labels] { labels << rig.window.pcntlabel->text(); });
        QString labelDuringWait;
        WaitWatcher wait(rig.window, [&rig, &labelDuringWait] {
            if (rig.window.pcntlabel->isVisible())
                labelDuringWait = rig.window.pcntlabel->text();
        });
        EventCounter bar(rig.window.ProgressBar1);
        BoxAnswerer boxes;
        rig.window.SendFile->trigger();

        QCOMPARE(boxes.texts(), QStringList{Confirmation});
        // Read as each line raises the bar, i.e. before its own percentage is written.
        QCOMPARE(labels, QStringList({"0%", " 33%", " 66%"}));
        QCOMPARE(labelDuringWait, QStringLiteral(" 100%"));
        QCOMPARE(rig.window.pcntlabel->text(), QStringLiteral(" 100%"));
        QCOMPARE(bar.shows(), 1);
        QVERIFY(!rig.window.ProgressBar1->isVisible());
        QVERIFY(!rig.window.pcntlabel->isVisible());
        QCOMPARE(rig.receivedAtLeast(9), QByteArray("abcdefghi"));
    }

    // Beyond the old 16-bit count.
    void fortyThousandLinesAllArrive()
    {
        Terminal rig({}, Sending);
        QVERIFY(rig.openPort());
        const QByteArray content = numberedLines("line ", 40000);
        rig.choices << rig.file(content);
        BoxAnswerer boxes;
        rig.window.SendFile->trigger();

        QCOMPARE(boxes.texts(), QStringList{Confirmation});
        QCOMPARE(rig.window.ProgressBar1->maximum(), 40000);
        QCOMPARE(rig.window.ProgressBar1->value(), 40000);
        QCOMPARE(rig.window.pcntlabel->text(), QStringLiteral(" 100%"));
        const QByteArray expected = withoutLineEnds(content);
        QCOMPARE(rig.receivedAtLeast(expected.size()), expected);
    }

    // The bar counts a line only once the port has nearly written it out (the port itself takes
    // any amount at once): at 9600 baud, no more than a tenth of a second's output waits.
    void progressWaitsForTheLine()
    {
        Terminal rig({"--read-rate", "100000"}, Sending);
        QVERIFY(rig.openPort(9600));
        QByteArray content;
        for (int i = 0; i < 100; ++i)
            content += QByteArray(999, char('a' + i % 26)) + '\n';
        rig.choices << rig.file(content);
        qint64 mostWaiting = 0;
        connect(rig.window.ProgressBar1, &QProgressBar::valueChanged, &rig.window,
                [&rig, &mostWaiting] {
                    mostWaiting = qMax(mostWaiting, rig.window.MSComm1->bytesToWrite());
                });
        BoxAnswerer boxes;
        rig.window.SendFile->trigger();

        QCOMPARE(boxes.texts(), QStringList{Confirmation});
        QCOMPARE(rig.window.ProgressBar1->value(), 100);
        QVERIFY2(mostWaiting <= 96, QByteArray::number(mostWaiting).constData());
        const QByteArray expected = withoutLineEnds(content);
        QCOMPARE(rig.receivedAtLeast(expected.size()), expected);
    }

    // The real dialog: the user types the path and accepts; then cancels the next time, which
    // chooses nothing rather than the last file again.
    void realDialogSendsBytesAsTheyStand()
    {
        Terminal rig({}, Sending);
        QVERIFY(rig.openPort());
        rig.window.CommonDialog1->setChooser({});
        QByteArray content("crlf\r\nlf\ncr\r\xe9t\xe9\xff\x80\r\n\r\n\n\rend");
        for (int b = 0; b < 256; ++b)
            content += char(b);
        QRandomGenerator random(7);
        for (int i = 0; i < 70000; ++i)
            content += char(random.bounded(256));
        const QString path = rig.file(content);

        // Types the path into the name box once it has the keyboard, as a user would, and
        // presses Return; the second time it presses Escape.
        QStringList dialogTitles;
        QPointer<QFileDialog> current;
        QDeadlineTimer giveUp;
        QTimer driver;
        connect(&driver, &QTimer::timeout, &rig.window, [&dialogTitles, &current, &giveUp, &path] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog || !dialog->isVisible())
                return;
            if (dialog != current) {
                current = dialog;
                giveUp.setRemainingTime(10000);
                dialogTitles << dialog->windowTitle();
            }
            auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            if (QApplication::focusWidget() != edit && !giveUp.hasExpired())
                return;
            if (dialogTitles.size() == 1) {
                QTest::keyClicks(edit, path);
                QTest::keyClick(edit, Qt::Key_Return);
            } else {
                QTest::keyClick(edit, Qt::Key_Escape);
            }
            if (dialog->isVisible())
                dialog->reject();
        });
        driver.start(20);
        BoxAnswerer boxes;
        rig.window.SendFile->trigger();
        QCOMPARE(rig.window.CommonDialog1->fileName(), path);
        rig.window.SendFile->trigger();

        QCOMPARE(dialogTitles.size(), 2);
        QCOMPARE(boxes.texts(), QStringList({Confirmation, Confirmation,
                                             QStringLiteral("No filename provided ..")}));
        const QByteArray expected = withoutLineEnds(content);
        QCOMPARE(rig.receivedAtLeast(expected.size()), expected);
        QCOMPARE(rig.receivedInTheEnd().size(), expected.size());
    }

    // During a send, a typed key goes out between two lines and received data keeps reaching
    // the screen.
    void windowKeepsWorkingDuringSend()
    {
        Terminal rig({"--wait-open", "--rate", "20", "--send", QString(200, u'r')}, Sending);
        QVERIFY(rig.openPort(115200));
        rig.choices << rig.file("L1\nL2\nL3\nL4\n");
        onceAtValue(rig.window, 2, [&rig] { QTest::keyClick(rig.window.Text1, 'k'); });
        QList<qsizetype> screenDuringWait;
        QTimer sampler;
        connect(&sampler, &QTimer::timeout, &rig.window, [&rig, &screenDuringWait] {
            if (rig.window.Timer1->isActive())
                screenDuringWait << rig.window.Text1->length();
        });
        sampler.start(100);
        BoxAnswerer boxes;
        rig.window.SendFile->trigger();

        QCOMPARE(boxes.texts(), QStringList{Confirmation});
        QCOMPARE(rig.receivedAtLeast(9), QByteArray("L1L2kL3L4"));
        QVERIFY(screenDuringWait.size() >= 3);
        QVERIFY2(screenDuringWait.last() > screenDuringWait.first(),
                 "nothing received reached the screen during the wait");
    }

    void closePortEndsSend()
    {
        Terminal rig({}, Sending);
        rig.window.Form_Load();
        rig.window.btnOpen->click();
        QVERIFY(rig.window.MSComm1->portOpen());
        const QByteArray content = numberedLines("n", 50);
        rig.choices << rig.file(content);
        onceAtValue(rig.window, 3, [&rig] { rig.window.btnClose->click(); });
        BoxAnswerer boxes;
        rig.window.SendFile->trigger();

        QCOMPARE(boxes.texts(), QStringList({Confirmation, SendError}));
        QVERIFY(!rig.window.MSComm1->portOpen());
        QVERIFY(rig.window.btnOpen->isEnabled());
        QCOMPARE(rig.window.ProgressBar1->value(), 3);
        QVERIFY(rig.window.ProgressBar1->isVisible());
        QCOMPARE(rig.window.pcntlabel->text(), QStringLiteral(" 6%"));
        QVERIFY(!rig.window.Timer1->isActive());
        // What went before the close may or may not have left the port; nothing after it did.
        const QByteArray got = rig.receivedInTheEnd();
        QVERIFY2(withoutLineEnds(numberedLines("n", 3)).startsWith(got), got.constData());
    }

    // A send started inside another's yield would mix two files at the port: SendFile is off
    // through the lines and the wait, and back on however the send ends.
    void sendFileOffWhileSending_data()
    {
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<int>("samples"); // one per line sent and one in the wait
        const QStringList failed{Confirmation, SendError};
        QTest::newRow("runs to its end") << QStringList{Confirmation} << 6;
        QTest::newRow("cancelled") << QStringList{Confirmation} << 0;
        QTest::newRow("missing file") << failed << 0;
        QTest::newRow("port not open") << failed << 0;
        QTest::newRow("Close Port between lines") << failed << 2;
        QTest::newRow("window closed between lines") << QStringList{Confirmation} << 2;
        QTest::newRow("window closed in the wait") << QStringList{Confirmation} << 6;
    }

    void sendFileOffWhileSending()
    {
        QFETCH(QStringList, boxes);
        QFETCH(int, samples);
        const QByteArray ending = QTest::currentDataTag();
        Terminal rig({}, Sending);
        rig.window.Form_Load();
        if (ending != "port not open")
            rig.window.btnOpen->click();
        rig.choices << (ending == "missing file" ? QStringLiteral("/nonexistent/quorline.txt")
                                                 : rig.file(numberedLines("s", 5)));
        QList<bool> enabledDuringSend;
        connect(
            rig.window.ProgressBar1, &QProgressBar::valueChanged, &rig.window,
            [&rig, &enabledDuringSend] { enabledDuringSend << rig.window.SendFile->isEnabled(); });
        WaitWatcher wait(rig.window, [&rig, &enabledDuringSend, ending] {
            enabledDuringSend << rig.window.SendFile->isEnabled();
            if (ending == "window closed in the wait")
                rig.window.close();
        });
        if (ending == "Close Port between lines")
            onceAtValue(rig.window, 2, [&rig] { rig.window.btnClose->click(); });
        if (ending == "window closed between lines")
            onceAtValue(rig.window, 2, [&rig] { rig.window.close(); });
        QVERIFY(rig.window.SendFile->isEnabled());
        BoxAnswerer answerer({ending == "cancelled" ? QMessageBox::Cancel : QMessageBox::Ok});
        rig.window.SendFile->trigger();

        QCOMPARE(answerer.texts(), boxes);
        QCOMPARE(enabledDuringSend, QList<bool>(samples, false));
        QVERIFY(rig.window.SendFile->isEnabled());
    }

    // Asked for during a send, a second send does not start; chosen once the first is done, it
    // follows the first whole.
    void filesBackToBackArriveWhole()
    {
        Terminal rig({}, Sending);
        QVERIFY(rig.openPort(115200));
        rig.choices << rig.file(numberedLines("a", 6)) << rig.file(numberedLines("b", 3));
        onceAtValue(rig.window, 2, [&rig] { rig.window.SendFile->trigger(); });
        BoxAnswerer boxes;
        rig.window.SendFile->trigger();
        QCOMPARE(rig.chooserCalls, 1);
        rig.window.SendFile->trigger();

        QCOMPARE(boxes.texts(), QStringList({Confirmation, Confirmation}));
        const QByteArray expected("a1a2a3a4a5a6b1b2b3");
        QCOMPARE(rig.receivedAtLeast(expected.size()), expected);
    }

    // Would catch a count that holds the event loop until the whole file has been read: the port
    // goes unread and received bytes are lost once the kernel's buffer is full.
    void screenKeepsUpWhileCounting()
    {
        Terminal rig({"--wait-open", "--rate", "2000", "--flood", "200000", "--pattern", "text"},
                     Sending);
        QVERIFY(rig.openPort());
        // A short line, then NULs to 1 GiB: a hole on disk, all of it read by the count.
        const QString path = rig.file("x\n");
        QVERIFY(QFile::resize(path, qint64(1) << 30));
        rig.choices << path;
        // Counting: chosen, bar not shown yet. The window closes once the screen has grown.
        qsizetype atCountStart = -1;
        bool grew = false;
        bool actionOff = true;
        QTimer sampler;
        connect(&sampler, &QTimer::timeout, &rig.window, [&rig, &atCountStart, &grew, &actionOff] {
            if (rig.chooserCalls == 0 || !rig.window.isVisible())
                return;
            actionOff = actionOff && !rig.window.SendFile->isEnabled();
            if (atCountStart < 0)
                atCountStart = rig.window.Text1->length();
            grew =
                !rig.window.ProgressBar1->isVisible() && rig.window.Text1->length() > atCountStart;
            if (grew || rig.window.ProgressBar1->isVisible())
                rig.window.close();
        });
        sampler.start(5);
        BoxAnswerer boxes;
        rig.window.SendFile->trigger();

        QVERIFY2(grew, "nothing received reached the screen during the count");
        QVERIFY(actionOff);
        // Closing the window stops the count in silence; nothing is shown or sent.
        QCOMPARE(boxes.texts(), QStringList{Confirmation});
        QVERIFY(!rig.window.ProgressBar1->isVisibleTo(&rig.window));
        QCOMPARE(rig.received(), QByteArray());
    }
};

QTEST_MAIN(TestSendFile)
#include "tst_sendfile.moc"
