#include "sendfilesupport.h"

#include "widgets/screen.h"

#include <QProgressBar>

// A large file is counted before its first line goes. The window must go on reading the port
// meanwhile, or received bytes pile up in the kernel and are lost once it is full.
class TestSendFileCount : public QObject
{
    Q_OBJECT

private slots:
    // Would catch a count that holds the event loop until the whole file has been read.
    void screenKeepsUpWhileCounting()
    {
        SendRig rig({"--wait-open", "--rate", "2000", "--flood", "200000", "--pattern", "text"});
        QVERIFY(rig.openPort());
        // One short line, then NULs to 1 GiB: a hole on disk, all of it read by the count.
        const QString path = rig.file("x\n");
        QVERIFY(QFile::resize(path, qint64(1) << 30));
        rig.choices << path;
        // Counting: the file has been chosen and the bar is not shown yet. The window is closed
        // as soon as the screen has grown meanwhile, or once the count is over.
        qsizetype atCountStart = -1;
        bool grewWhileCounting = false;
        bool offWhileCounting = true;
        QTimer sampler;
        connect(&sampler, &QTimer::timeout, &rig.window,
                [&rig, &atCountStart, &grewWhileCounting, &offWhileCounting] {
                    if (rig.chooserCalls == 0 || !rig.window.isVisible())
                        return;
                    if (rig.window.ProgressBar1->isVisible()) {
                        rig.window.close();
                        return;
                    }
                    offWhileCounting = offWhileCounting && !rig.window.SendFile->isEnabled();
                    if (atCountStart < 0) {
                        atCountStart = rig.window.Text1->length();
                    } else if (rig.window.Text1->length() > atCountStart) {
                        grewWhileCounting = true;
                        rig.window.close();
                    }
                });
        sampler.start(5);
        BoxAnswerer boxes;
        rig.window.SendFile->trigger();

        QVERIFY2(grewWhileCounting, "nothing received reached the screen during the count");
        QVERIFY(offWhileCounting);
        // Closing the window stops the count in silence; nothing is shown or sent.
        QCOMPARE(boxes.texts(), QStringList{Confirmation});
        QVERIFY(!rig.window.ProgressBar1->isVisibleTo(&rig.window));
        QCOMPARE(rig.received(), QByteArray());
        QVERIFY(rig.window.SendFile->isEnabled());
    }
};

QTEST_MAIN(TestSendFileCount)
#include "tst_sendfilecount.moc"
