// Devices that come and go under the terminal window: a lost port, its return, --reconnect, the
// port list that follows hot-plug, and devices that are not what they seem. Real ptys throughout.

#include "support/boxanswerer.h"
#include "support/controls.h"
#include "support/files.h"
#include "support/terminal.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QTest>
#include <QTextDocument>

namespace {

// What a tooltip shows once Qt has rendered it.
QString shownTip(const QString &tip)
{
    QTextDocument document;
    document.setHtml(tip);
    return document.toPlainText();
}

void dropDown(QComboBox *box)
{
    box->showPopup();
    box->hidePopup();
}

} // namespace

class TestDevices : public QObject
{
    Q_OBJECT

private slots:
    void lostDevice_data();
    void lostDevice();
    void dropDownFollowsDevices();
    void badDevices_data();
    void badDevices();
    void flappingWhileReconnectWaits();

private:
    TempFiles m_dir;
};

// Catches a loss shown as an open port, told twice or with Qt's stale errno text, a reopen that
// never comes, and a reopen after the user closed the port.
void TestDevices::lostDevice_data()
{
    QTest::addColumn<bool>("reconnect");
    QTest::addColumn<bool>("closeDuringOutage");
    QTest::newRow("told once") << false << false;
    QTest::newRow("reconnect reopens") << true << false;
    QTest::newRow("Close Port stops the reopen") << true << true;
}

void TestDevices::lostDevice()
{
    QFETCH(bool, reconnect);
    QFETCH(bool, closeDuringOutage);
    const QString link =
        m_dir.path(QStringLiteral("lost%1%2").arg(reconnect).arg(closeDuringOutage));
    Peer peer({"--link", link, "--hangup-after", "3000", "--reopen-after", "1500"});
    Form1 w(PortMap::build(portEnvironment({{1, link}}), {}));
    w.MSComm1->setReconnect(reconnect);
    w.Form_Load();
    BoxAnswerer modal;
    w.btnOpen->click();
    QVERIFY2(w.MSComm1->portOpen(), "the device vanished before the window opened it");
    QTRY_VERIFY_WITH_TIMEOUT(!w.MSComm1->portOpen(), 10000);
    if (!reconnect) {
        QTRY_COMPARE_WITH_TIMEOUT(modal.texts().size(), 1, 10000);
        QCOMPARE(modal.titles(), QStringList{"Quorline"});
        QCOMPARE(modal.texts().first(),
                 "ERror in receive routine, COM1 (" + link + ") was disconnected");
        QVERIFY(w.btnOpen->isEnabled() && !w.btnClose->isEnabled());
        w.MSComm1->setPortOpen(false); // closing the lost port succeeds in silence
        modal.seen.clear();
    } else if (closeDuringOutage) {
        w.btnClose->click();
        QVERIFY(!w.MSComm1->isAwaitingDevice());
    }
    QVERIFY(w.btnClose->isEnabled() == (reconnect && !closeDuringOutage));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(link), 10000);
    QElapsedTimer back;
    back.start();
    if (closeDuringOutage) {
        QTest::qWait(1200); // more than two looks at the path
        QVERIFY(!w.MSComm1->portOpen());
    } else if (reconnect) {
        QTRY_VERIFY_WITH_TIMEOUT(w.MSComm1->portOpen(), 10000);
        qInfo("reopened %lld ms after the device came back", back.elapsed());
    } else {
        w.btnOpen->click();
        QVERIFY(w.MSComm1->portOpen());
    }
    QCOMPARE(modal.texts(), QStringList());
}

// Catches a list that never learns of a new device, keeps a gone one, drops the port in use,
// or opens a listed port again (which resets many boards).
void TestDevices::dropDownFollowsDevices()
{
    const QString counts = m_dir.path(QStringLiteral("opens"));
    const QString late = m_dir.path(QStringLiteral("late"));
    const auto opens = [&counts] { return readWhole(counts).count("open\n"); };
    Peer first({"--count-opens", counts});
    Form1 w(PortMap::build(portEnvironment({{1, first.path()}, {2, late}, {3, "/dev/null"}}), {}));
    w.Form_Load();
    BoxAnswerer modal;
    QTRY_COMPARE_WITH_TIMEOUT(opens(), 1, 10000); // the start-up probe

    auto second = std::make_unique<Peer>(QStringList{"--link", late});
    dropDown(w.cboPort);
    QCOMPARE(entries(w.cboPort), QStringList({"COM1", "COM2"}));
    dropDown(w.cboPort);
    w.btnOpen->click(); // the first selected still: COM1
    QVERIFY(w.MSComm1->portOpen());
    QTRY_COMPARE_WITH_TIMEOUT(opens(), 2, 10000);
    QTest::qWait(300); // a stray open by the drop-downs would be counted by now
    QCOMPARE(opens(), 2);

    second.reset();
    w.cboPort->setCurrentIndex(1);
    dropDown(w.cboPort);
    QCOMPARE(entries(w.cboPort), QStringList{"COM1"});
    QCOMPARE(w.cboPort->currentIndex(), 0);

    // A port awaiting its device is still the port in use; once closed, it goes too.
    w.MSComm1->setReconnect(true);
    first.stop();
    QTRY_VERIFY_WITH_TIMEOUT(w.MSComm1->isAwaitingDevice(), 10000);
    dropDown(w.cboPort);
    QCOMPARE(entries(w.cboPort), QStringList{"COM1"});
    w.btnClose->click();
    dropDown(w.cboPort);
    QCOMPARE(entries(w.cboPort), QStringList());
    QCOMPARE(w.cboPort->currentText(), "Combo1");
    const QString tip = shownTip(w.cboPort->toolTip());
    QVERIFY2(tip.contains("COM1 " + first.path()) && tip.contains("COM2 " + late) &&
                 tip.contains("COM3: /dev/null"),
             qPrintable(tip));
    QCOMPARE(modal.texts(), QStringList());
}

// Catches a crash, a hang or a half-open port on devices that are not serial ports, and a
// device's own text read as markup.
void TestDevices::badDevices_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("tipSays");
    QTest::newRow("refuses every open") << "/dev/null"
                                        << "COM1: /dev/null";
    QTest::newRow("a directory") << "dir"
                                 << "is a directory";
    QTest::newRow("a regular file") << "file"
                                    << "is a regular file";
    QTest::newRow("markup in the description") << "markup"
                                               << "(<b>bold</b>\u241b[1m\u2407)";
}

void TestDevices::badDevices()
{
    QFETCH(QString, kind);
    QFETCH(QString, tipSays);
    Peer peer;
    const bool markup = kind == "markup";
    const QString path = kind.startsWith('/') ? kind : m_dir.path(kind);
    if (!markup)
        QVERIFY(kind.startsWith('/') ||
                (kind == "dir" ? QDir().mkpath(path) : QFile(path).open(QIODevice::WriteOnly)));
    Form1 w(markup
                ? PortMap::build({}, {{peer.path(), QString::fromUtf8("<b>bold</b>\x1b[1m\x07")}})
                : PortMap::build(portEnvironment({{1, path}}), {}));
    BoxAnswerer modal;
    w.Form_Load();
    dropDown(w.cboPort);
    QVERIFY(!w.MSComm1->portOpen());
    const QString tip = shownTip(markup ? w.cboPort->itemData(0, Qt::ToolTipRole).toString()
                                        : w.cboPort->toolTip());
    QVERIFY2(tip.contains(tipSays), qPrintable(tip));
    QCOMPARE(w.cboPort->count(), markup ? 1 : 0);
    QCOMPARE(modal.texts(), QStringList());
}

// Catches a spin, a box or a lost reopen while the device flickers in and out, or turns into a
// directory, several times a second, with the list dropped down all the while.
void TestDevices::flappingWhileReconnectWaits()
{
    const QString link = m_dir.path(QStringLiteral("flapping"));
    Peer peer({"--link", link, "--hangup-after", "3000", "--reopen-after", "300"});
    Form1 w(PortMap::build(portEnvironment({{1, link}}), {}));
    w.MSComm1->setReconnect(true);
    w.Form_Load();
    BoxAnswerer modal;
    w.btnOpen->click();
    QVERIFY2(w.MSComm1->portOpen(), "the device vanished before the window opened it");
    QTRY_VERIFY_WITH_TIMEOUT(w.MSComm1->isAwaitingDevice() && QFileInfo::exists(link), 10000);
    const QString target = QFileInfo(link).symLinkTarget();
    for (int i = 0; i < 29; ++i) { // gone, back, a directory, back: every 70 ms
        QFile::remove(link);
        QDir(link).removeRecursively();
        if (i % 4 == 2)
            QDir().mkdir(link);
        else if (i % 2 == 0)
            QFile::link(target, link);
        dropDown(w.cboPort);
        QTest::qWait(70);
    }
    QTRY_VERIFY_WITH_TIMEOUT(w.MSComm1->portOpen(), 10000);
    QCOMPARE(entries(w.cboPort), QStringList{"COM1"});
    w.btnClose->click();
    QSerialPort again(link); // nothing is left holding the device
    QVERIFY2(again.open(QIODevice::ReadWrite), qPrintable(again.errorString()));
    QCOMPARE(modal.texts(), QStringList());
}

QTEST_MAIN(TestDevices)
#include "tst_devices.moc"
