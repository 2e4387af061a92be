// The terminal window: controls and layout, start-up, Clear Screen, the check boxes, and port
// open and close on real pseudo-terminals.

#include "app/form1.h"
#include "serial/serialportcontrol.h"
#include "support/boxanswerer.h"
#include "support/controls.h"
#include "support/files.h"
#include "support/peer.h"
#include "support/terminal.h"
#include "widgets/form2.h"
#include "widgets/screen.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSerialPort>
#include <QStyleOptionButton>
#include <QTest>

#include <memory>

namespace {

std::unique_ptr<Form1> loadedWindow(const QList<QPair<int, QString>> &ports)
{
    auto window = std::make_unique<Form1>(PortMap::build(portEnvironment(ports), {}));
    window->Form_Load();
    return window;
}

bool canOpen(const QString &path)
{
    QSerialPort port(path);
    return port.open(QIODevice::ReadWrite);
}

} // namespace

class TestForm1 : public QObject
{
    Q_OBJECT

private slots:
    void layout_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("twips");
        QTest::addColumn<bool>("visible");
        QTest::newRow("Text1") << "Text1" << QRect(120, 240, 8775, 4335) << true;
        QTest::newRow("HelpFrame") << "HelpFrame" << QRect(480, 120, 7935, 3975) << false;
        QTest::newRow("Helpbox") << "Helpbox" << QRect(120, 360, 7695, 3255) << false;
        QTest::newRow("Command1") << "Command1" << QRect(6360, 3480, 1215, 375) << false;
        QTest::newRow("cboPort") << "cboPort" << QRect(240, 4800, 1455, 315) << true;
        QTest::newRow("cboBaud") << "cboBaud" << QRect(2040, 4800, 1455, 315) << true;
        QTest::newRow("cboParity") << "cboParity" << QRect(3840, 4800, 1335, 315) << true;
        QTest::newRow("chkShowControl") << "chkShowControl" << QRect(5520, 4800, 2895, 255) << true;
        QTest::newRow("chkDuplex") << "chkDuplex" << QRect(5520, 5160, 2175, 255) << true;
        QTest::newRow("btnOpen") << "btnOpen" << QRect(840, 5280, 975, 375) << true;
        QTest::newRow("btnClose") << "btnClose" << QRect(2160, 5280, 855, 375) << true;
        QTest::newRow("ProgressLabel") << "ProgressLabel" << QRect(4440, 5520, 975, 255) << false;
        QTest::newRow("ProgressBar1") << "ProgressBar1" << QRect(5520, 5520, 2415, 255) << false;
        QTest::newRow("pcntlabel") << "pcntlabel" << QRect(8160, 5520, 735, 255) << false;
    }
    void layout()
    {
        QFETCH(QString, name);
        QFETCH(QRect, twips);
        QFETCH(bool, visible);
        Form1 window(PortMap::build({}, {}));
        window.show();
        auto *w = window.findChild<QWidget *>(name);
        QVERIFY(w);
        const QRect px(window.twips(twips.x()), window.twips(twips.y()),
                       window.twips(twips.width()), window.twips(twips.height()));
        QCOMPARE(w->geometry(), px);
        QCOMPARE(w->isVisible(), visible);
    }

    void initialState()
    {
        Form1 window(PortMap::build({}, {}));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.objectName(), "Form1");
        QCOMPARE(window.centralWidget()->size(), QSize(window.twips(9300), window.twips(5850)));
        QCOMPARE(window.minimumSize(), window.maximumSize());
        QVERIFY(!(window.windowFlags() &
                  (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QVERIFY(window.windowFlags() & Qt::WindowCloseButtonHint);

        QStringList menu;
        for (QAction *a : window.menuBar()->actions())
            menu << a->objectName() + '=' + a->text();
        QCOMPARE(menu, QStringList({"ClearScreen=Clear Screen", "SendFile=SendFile", "help=Help",
                                    "Aboutbox=About"}));

        QCOMPARE(window.btnOpen->text(), "Open Port");
        QVERIFY(window.btnOpen->isEnabled());
        QCOMPARE(window.btnClose->text(), "Close Port");
        QVERIFY(!window.btnClose->isEnabled());
        QVERIFY(window.chkShowControl->isChecked());
        QCOMPARE(window.chkShowControl->text(), "Display Control Characters");
        QVERIFY(window.chkDuplex->isChecked());
        QCOMPARE(window.chkDuplex->text(), "Full Duplex");
        QCOMPARE(window.HelpFrame->title(), "Quorline Help");
        QCOMPARE(window.Helpbox->toPlainText(), "Help.txt file not found");
        QCOMPARE(window.Command1->text(), "Close Help");
        QCOMPARE(window.ProgressLabel->text(), "Progress");
        QCOMPARE(window.ProgressBar1->maximum(), 100);
        QCOMPARE(window.Text1->text(), QString());
        QVERIFY(!window.Timer1->isActive());
        QCOMPARE(window.Timer1->interval(), 0);
        QVERIFY(!window.MSComm1->portOpen());
        QCOMPARE(window.cboPort->currentText(), "Combo1");
        QCOMPARE(window.cboBaud->currentText(), "Combo2");
        QCOMPARE(window.cboParity->currentText(), "Combo1");

        QCOMPARE(window.Text1->font().pointSizeF(), 9.75);
        QVERIFY(window.HelpFrame->font().bold());
        QVERIFY(!window.Command1->font().bold());
        QCOMPARE(window.Helpbox->font().pointSizeF(), 9.75);
        QVERIFY(!window.Helpbox->font().bold());
        QCOMPARE(window.HelpFrame->palette().color(QPalette::Window), QColor(255, 224, 192));
        QCOMPARE(window.HelpFrame->palette().color(QPalette::WindowText), QColor(64, 64, 64));

        // The help panel lies in front of the screen.
        const QWidgetList stack =
            window.centralWidget()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
        QVERIFY(stack.indexOf(window.HelpFrame) > stack.indexOf(window.Text1));
    }

    void tabOrderAndFirstFocus()
    {
        const Peer peer;
        auto window = loadedWindow({{1, peer.path()}});
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QCOMPARE(QApplication::focusWidget(), window->chkShowControl);

        QStringList order;
        QWidget *w = window->chkShowControl;
        do {
            if (w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus) &&
                w->window() == window.get() && !w->focusProxy())
                order << w->objectName();
            w = w->nextInFocusChain();
        } while (w != window->chkShowControl);
        order.removeAll(QString()); // the combo boxes' own line edits
        QCOMPARE(order, QStringList({"chkShowControl", "cboPort", "cboBaud", "btnOpen", "chkDuplex",
                                     "Text1", "cboParity"}));

        // Before the screen has the focus, typing goes to the check box, not the port.
        QTest::keyClick(window->chkShowControl, Qt::Key_Space);
        QVERIFY(!window->chkShowControl->isChecked());
        QCOMPARE(QApplication::focusWidget(),
                 window->Text1); // its click gives the screen the focus
    }

    void startupListsThePortsThatOpen()
    {
        const Peer p3, p5, p10, p11;
        auto window = loadedWindow({{3, p3.path()},
                                    {4, "/nonexistent/tty"},
                                    {5, p5.path()},
                                    {10, p10.path()},
                                    {11, p11.path()}});
        QCOMPARE(entries(window->cboPort), QStringList({"COM3", "COM5", "COM10"}));
        QCOMPARE(window->cboPort->currentIndex(), 0);
        QCOMPARE(window->cboPort->currentText(), "COM3");
        QVERIFY(window->cboPort->itemData(0, Qt::ToolTipRole).toString().contains(p3.path()));
        QVERIFY(!window->MSComm1->portOpen());
        // Nothing is left open or locked.
        for (const Peer *p : {&p3, &p5, &p10})
            QVERIFY2(canOpen(p->path()), qPrintable(p->path()));

        QCOMPARE(entries(window->cboParity),
                 QStringList({"NO PARITY", "ODD PARITY", "EVEN PARITY"}));
        QCOMPARE(window->cboParity->currentIndex(), 0);
        QCOMPARE(window->cboBaud->count(), 12);
        QCOMPARE(window->cboBaud->currentText(), "9600");
        QCOMPARE(window->cboBaud->itemText(11), "128k");
        QCOMPARE(window->windowTitle(), "Quorline v1.02");
    }

    void startupWithNoPort()
    {
        const BoxAnswerer boxes;
        auto window = loadedWindow({{1, "/nonexistent/tty"}});
        QCoreApplication::processEvents(); // a box posted by the load comes up now
        QCOMPARE(boxes.texts(), QStringList());
        QCOMPARE(window->cboPort->count(), 0);
        QCOMPARE(window->cboPort->currentIndex(), -1);
        QCOMPARE(window->cboPort->currentText(), "Combo1");
        QCOMPARE(window->cboParity->currentText(), "NO PARITY");
        QCOMPARE(window->cboBaud->currentText(), "9600");
        QCOMPARE(window->windowTitle(), "Quorline v1.02");
        QCOMPARE(window->ControlName(0), "NUL");
        QCOMPARE(window->ControlName(10), "LF");
        QCOMPARE(window->ControlName(13), "CR");
        QCOMPARE(window->ControlName(27), "ESC");
        QCOMPARE(window->ControlName(31), "US");
        QCOMPARE(window->ControlName(32), "[??]");
        QCOMPARE(window->ControlName(-1), "[??]");
    }

    // While brltty runs (here a program of that name), or after a USB tty went soon after it
    // came, a failed open and the empty list's tooltip name it and the remedy; advice missing
    // then, or given without either, fails here.
    void brlttyAdvice()
    {
        const QString advice = "brltty is running: it takes many USB serial adapters";
        const TempFiles files;
        const auto tipAndMessage = [](const QStringList &went = {}) {
            auto window = loadedWindow({{1, "/nonexistent/tty"}});
            qint64 ms = 0; // what went was there for 0.1 s
            for (const QStringList &look : {QStringList{}, went, QStringList{}})
                window->fleetingDevices.observe(ms += 100, look, [](auto &) { return true; });
            window->cboPort_DropDown();
            window->show();
            const BoxAnswerer boxes;
            QTest::mouseClick(window->btnOpen, Qt::LeftButton);
            return QStringList{window->cboPort->toolTip(), boxes.texts().value(0)};
        };
        for (const QString &text : tipAndMessage())
            QVERIFY2(!text.contains("brltty"), qPrintable(text));
        for (const QString &text : tipAndMessage({"ttyUSB7"}))
            QVERIFY2(text.contains("/dev/ttyUSB7 went within 2 s of coming, as a USB serial "
                                   "adapter (CH340, CP210x) does when brltty takes it"),
                     qPrintable(text));
        const QString fake = files.path("brltty");
        QVERIFY(QFile::link("/bin/sleep", fake));
        QProcess brltty;
        brltty.start(fake, {"30"});
        QVERIFY(brltty.waitForStarted(10000));
        const QStringList seen = tipAndMessage();
        brltty.kill();
        brltty.waitForFinished(5000);
        QVERIFY2(seen[0].contains(advice), qPrintable(seen[0]));
        QVERIFY2(seen[1].startsWith("Error opening port. Port number 0 is not valid"),
                 qPrintable(seen[1]));
        QVERIFY2(seen[1].endsWith(" and comment out the adapter's line)."), qPrintable(seen[1]));
    }

    void portHeldElsewhereIsNotListed()
    {
        const Peer held({"--hold-format", "qt"});
        const Peer free;
        auto window = loadedWindow({{1, held.path()}, {2, free.path()}});
        QCOMPARE(entries(window->cboPort), QStringList({"COM2"}));

        // Another holder takes COM2 after start-up: opening it fails and the buttons stay.
        QSerialPort other(free.path());
        QVERIFY(other.open(QIODevice::ReadWrite));
        window->show();
        const BoxAnswerer boxes;
        QTest::mouseClick(window->btnOpen, Qt::LeftButton);
        QCOMPARE(boxes.seen.size(), 1);
        const QString text = boxes.seen[0].text;
        QVERIFY2(text.startsWith("Error opening port. " + free.path() + ": "), qPrintable(text));
        QVERIFY(!window->MSComm1->portOpen());
        QVERIFY(window->btnOpen->isEnabled());
        QVERIFY(!window->btnClose->isEnabled());
    }

    void openAndCloseWithEveryChoice()
    {
        const Peer p1, p3;
        auto window = loadedWindow({{1, p1.path()}, {3, p3.path()}});
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        window->cboPort->setCurrentIndex(1); // the second entry is port 3, not port 2
        for (int baud = 0; baud < 12; ++baud) {
            for (int parity = 0; parity < 3; ++parity) {
                window->cboBaud->setCurrentIndex(baud);
                window->cboParity->setCurrentIndex(parity);
                QTest::mouseClick(window->btnOpen, Qt::LeftButton);
                QVERIFY(window->MSComm1->portOpen());
                QCOMPARE(window->MSComm1->commPort(), 3);
                QCOMPARE(window->MSComm1->settings(),
                         QStringList({"110", "300", "600", "1200", "2400", "4800", "9600", "19200",
                                      "38400", "57600", "115200", "128000"})[baud] +
                             ',' + QString("noe")[parity] + ",8,2");
                QVERIFY(!window->btnOpen->isEnabled());
                QVERIFY(window->btnClose->isEnabled());
                QCOMPARE(QApplication::focusWidget(), window->Text1);
                QTest::mouseClick(window->btnClose, Qt::LeftButton);
                QVERIFY(!window->MSComm1->portOpen());
                QVERIFY(window->btnOpen->isEnabled());
                QVERIFY(!window->btnClose->isEnabled());
            }
        }
    }

    // Rates from --baud: listed after "128k" as given, the first selected, and opened at the
    // full rate. A list that lost the fixed entries or an open at the wrong rate fails here.
    void extraBaudRates()
    {
        Terminal t({}, {.load = false});
        t.window.extraBaudRates = {1000000, 12345};
        t.load();
        QCOMPARE(entries(t.window.cboBaud).mid(10),
                 QStringList({"115.2k", "128k", "1000000", "12345"}));
        QCOMPARE(t.window.cboBaud->currentIndex(), 12);
        t.window.cboBaud->setCurrentIndex(13);
        QTest::mouseClick(t.window.btnOpen, Qt::LeftButton);
        QVERIFY(t.window.MSComm1->portOpen());
        QCOMPARE(t.window.MSComm1->settings(), "12345,n,8,2");
    }

    // Line control on a plain pseudo-terminal, which has no modem lines: an entry that stays
    // enabled there, or says nothing of why, fails here; so does one left enabled after a close.
    void lineControlOnAPlainPty()
    {
        const Peer peer;
        auto window = loadedWindow({{1, peer.path()}});
        window->show();
        const QList<QAction *> line{window->DTR, window->RTS, window->PulseDTR, window->SendBreak,
                                    window->ModemLines};
        const std::unique_ptr<QMenu> menu(window->Text1->createContextMenu());
        QStringList names;
        for (QAction *a : menu->actions())
            names << a->objectName();
        QCOMPARE(names.mid(names.size() - 5),
                 QStringList({"DTR", "RTS", "PulseDTR", "SendBreak", "ModemLines"}));
        QCOMPARE(window->SendBreak->shortcut(), QKeySequence("Ctrl+Shift+B"));
        for (QAction *a : line) {
            QVERIFY2(!a->isEnabled(), qPrintable(a->objectName()));
            QCOMPARE(a->toolTip(), "The port is not open");
        }
        QTest::mouseClick(window->btnOpen, Qt::LeftButton);
        QVERIFY(window->MSComm1->portOpen());
        const std::unique_ptr<QMenu> openMenu(window->Text1->createContextMenu());
        QVERIFY(openMenu->actions().contains(window->SendBreak));
        for (QAction *a : line) {
            QVERIFY2(!a->isEnabled(), qPrintable(a->objectName()));
            QVERIFY2(a->toolTip().startsWith("COM1 (" + peer.path() + ") has no modem lines"),
                     qPrintable(a->toolTip()));
        }
        QCOMPARE(window->ModemLines->text(), "CTS, DSR, DCD, RI unknown");
        const BoxAnswerer boxes;
        QTest::keyClick(window->Text1, Qt::Key_B, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(!window->MSComm1->isSendingBreak());
        QCOMPARE(boxes.texts(), QStringList());
    }

    void openFailures_data()
    {
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("baud");
        QTest::addColumn<QString>("message");
        QTest::newRow("no port chosen")
            << -1 << 6 << "Error opening port. Port number 0 is not valid";
        QTest::newRow("no baud chosen")
            << 0 << -1 << "Error opening port. Invalid settings \",n,8,2\"";
    }
    void openFailures()
    {
        QFETCH(int, port);
        QFETCH(int, baud);
        QFETCH(QString, message);
        const Peer peer;
        auto window = loadedWindow({{1, peer.path()}});
        window->show();
        window->cboPort->setCurrentIndex(port);
        window->cboBaud->setCurrentIndex(baud);
        const BoxAnswerer boxes;
        QTest::mouseClick(window->btnOpen, Qt::LeftButton);
        QCOMPARE(boxes.seen.size(), 1);
        QCOMPARE(boxes.seen[0].title, "Quorline");
        QVERIFY2(boxes.seen[0].text.startsWith(message), qPrintable(boxes.seen[0].text));
        QVERIFY(!window->MSComm1->portOpen());
        QVERIFY(window->btnOpen->isEnabled());
        QVERIFY(!window->btnClose->isEnabled());
    }

    // Open Port while the port is open (the button enabled by hand) reopens it with the
    // lists' current choice.
    void openWhileOpenReopens()
    {
        const Peer peer;
        auto window = loadedWindow({{1, peer.path()}});
        window->show();
        QTest::mouseClick(window->btnOpen, Qt::LeftButton);
        window->btnOpen->setEnabled(true);
        window->cboBaud->setCurrentIndex(10);
        QTest::mouseClick(window->btnOpen, Qt::LeftButton);
        QVERIFY(window->MSComm1->portOpen());
        QCOMPARE(window->MSComm1->settings(), "115200,n,8,2");
        // A failure after the close leaves the port closed and Open Port enabled.
        window->btnOpen->setEnabled(true);
        window->cboParity->setCurrentIndex(-1);
        const BoxAnswerer boxes;
        QTest::mouseClick(window->btnOpen, Qt::LeftButton);
        QCOMPARE(boxes.seen.size(), 1);
        QVERIFY(!window->MSComm1->portOpen());
        QVERIFY(window->btnOpen->isEnabled());
        QVERIFY(window->btnClose->isEnabled());
    }

    void clearScreenAndCheckBoxes()
    {
        const Peer peer;
        auto window = loadedWindow({{1, peer.path()}});
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        window->Text1->setText("old text");
        QTest::mouseClick(window->btnOpen, Qt::LeftButton);
        window->cboBaud->setFocus();
        window->ClearScreen->trigger();
        QCOMPARE(window->Text1->text(), QString());
        QVERIFY(window->MSComm1->portOpen());
        QCOMPARE(QApplication::focusWidget(), window->cboBaud); // the focus stays where it was
        window->ClearScreen->trigger();
        QCOMPARE(window->Text1->text(), QString());

        for (QCheckBox *box : {window->chkDuplex, window->chkShowControl}) {
            window->cboBaud->setFocus();
            QTest::mouseClick(box, Qt::LeftButton);
            QCOMPARE(QApplication::focusWidget(), window->Text1);
        }
        QVERIFY(!window->chkDuplex->isChecked());
        QVERIFY(!window->chkShowControl->isChecked());
    }

    // Every caption fits its control: the text measured with the control's own font, plus the
    // room the style takes around it, against the control's size in twips at 96 DPI. A caption
    // wider or taller than its control is clipped on the screen.
    void captionFits_data()
    {
        QTest::addColumn<QWidget *>("control");
        m_about.Form_Load();
        m_captions.pcntlabel->setText(QStringLiteral("100%")); // its widest text during a send
        QCOMPARE(m_captions.logicalDpiX(), 96);
        for (QWidget *w : {static_cast<QWidget *>(m_captions.btnOpen),
                           static_cast<QWidget *>(m_captions.btnClose),
                           static_cast<QWidget *>(m_captions.Command1),
                           static_cast<QWidget *>(m_captions.chkShowControl),
                           static_cast<QWidget *>(m_captions.chkDuplex),
                           static_cast<QWidget *>(m_captions.ProgressLabel),
                           static_cast<QWidget *>(m_captions.pcntlabel)})
            QTest::newRow(qPrintable(w->objectName())) << w;
        for (QLabel *l : m_about.findChildren<QLabel *>())
            QTest::newRow(qPrintable(l->objectName())) << static_cast<QWidget *>(l);
    }
    void captionFits()
    {
        QFETCH(QWidget *, control);
        const QFontMetrics fm = control->fontMetrics();
        QSize need = control->sizeHint();
        QSize room = control->size();
        if (auto *button = qobject_cast<QPushButton *>(control)) {
            // The style paints a button's caption inside its frame.
            QStyleOptionButton option;
            option.initFrom(button);
            need = fm.size(Qt::TextShowMnemonic, button->text());
            room = button->style()
                       ->subElementRect(QStyle::SE_PushButtonContents, &option, button)
                       .size();
        } else if (qobject_cast<QCheckBox *>(control)) {
            need.setHeight(fm.height()); // the indicator may overhang; the caption must not
        } else if (auto *label = qobject_cast<QLabel *>(control); label->wordWrap()) {
            need = QSize(label->width(), label->heightForWidth(label->width()));
        }
        const QString text = QStringLiteral("needs %1x%2, has %3x%4 in %5")
                                 .arg(need.width())
                                 .arg(need.height())
                                 .arg(room.width())
                                 .arg(room.height())
                                 .arg(QFontInfo(control->font()).family());
        qInfo("%s", qPrintable(text));
        QVERIFY2(need.width() <= room.width() && need.height() <= room.height(), qPrintable(text));
    }

private:
    // The windows whose captions are measured, alive for the rows that point into them.
    Form1 m_captions{PortMap::build({}, {})};
    Form2 m_about;
};

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
