#include "support/boxanswerer.h"
#include "support/sendfile.h"

#include "widgets/screen.h"

#include <QProgressBar>

class TestSendFileCount : public QObject
{
    Q_OBJECT

private slots:
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

QTEST_MAIN(TestSendFileCount)
#include "tst_sendfilecount.moc"
