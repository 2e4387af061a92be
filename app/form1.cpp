#include "app/form1.h"
#include "app/quitsignals.h"
#include "base/failure.h"
#include "widgets/messagebox.h"

#include "help/helptext.h"
#include "serial/serialportcontrol.h"
#include "widgets/commondialog.h"
#include "widgets/form2.h"
#include "widgets/portcombobox.h"
#include "widgets/screen.h"
#include "widgets/twips.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

namespace {

template <typename W> W *named(W *widget, const char *name)
{
    widget->setObjectName(QLatin1StringView(name));
    return widget;
}

} // namespace

Form1::Form1(PortMap ports, QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Quorline"));
    // Fixed single border: close box and system menu, no minimise or maximise.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(windowFont());

    MSComm1 = named(new SerialPortControl(std::move(ports), this), "MSComm1");
    Timer1 = named(new QTimer(this), "Timer1");
    Timer1->setInterval(0);
    CommonDialog1 = named(new CommonDialog(this), "CommonDialog1");

    createControls();
    createMenu();
    createLogging();
    wireEvents();
    createLineControl();
    watchDevices();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    chkShowControl->setFocus();
}

Form1::~Form1() = default;

void Form1::closeEvent(QCloseEvent *event)
{
    m_closing = true;
    // A quit on a signal (a logout, kill) must end without a word from the window.
    const bool quiet = quittingOnSignal();
    // The port closes with the window, sending what is queued first, as Close Port does; but a
    // closing window waits only a moment for a slow device. A Close Port under way is cut short.
    try {
        MSComm1->closeWithin(QuitDrainMs);
        tellCloseNote(!quiet);
    } catch (const std::exception &failure) {
        if (!quiet)
            showMessage(this, QStringLiteral("Error closing port .. ") + describe(failure));
    }
    QMainWindow::closeEvent(event);
}

int Form1::twips(int value) const
{
    return twipsToPixels(this, value);
}

void Form1::createControls()
{
    auto *client = new QWidget(this);
    client->setFixedSize(twips(9300), twips(5850));
    setCentralWidget(client);
    const auto place = [this](QWidget *w, int left, int top, int width, int height) {
        w->setGeometry(twips(left), twips(top), twips(width), twips(height));
    };

    Text1 = named(new Screen(client), "Text1");
    Text1->setFont(standInFont(9.75));
    place(Text1, 120, 240, 8775, 4335);

    HelpFrame = named(new QGroupBox(QStringLiteral("Quorline Help"), client), "HelpFrame");
    HelpFrame->setFont(standInFont(9.75, true));
    HelpFrame->setAutoFillBackground(true);
    QPalette framePalette = HelpFrame->palette();
    framePalette.setColor(QPalette::Window, QColor(255, 224, 192));
    framePalette.setColor(QPalette::WindowText, QColor(64, 64, 64));
    HelpFrame->setPalette(framePalette);
    place(HelpFrame, 480, 120, 7935, 3975);
    HelpFrame->hide();

    Helpbox = named(new QPlainTextEdit(helpMissingText(), HelpFrame), "Helpbox");
    Helpbox->setFont(standInFont(9.75));
    Helpbox->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    place(Helpbox, 120, 360, 7695, 3255);

    Command1 = named(new QPushButton(QStringLiteral("Close Help"), HelpFrame), "Command1");
    QFont buttonFont = font(); // the window's default, not the panel's bold caption
    buttonFont.setBold(false);
    Command1->setFont(buttonFont);
    place(Command1, 6360, 3480, 1215, 375);

    const auto combo = [](auto *box, const char *name, const char *text) {
        named(box, name);
        box->setEditable(true);
        box->setInsertPolicy(QComboBox::NoInsert);
        box->setEditText(QLatin1StringView(text));
        return box;
    };
    // The port list's box also says when it drops down; the others are plain boxes.
    cboPort = combo(new PortComboBox(client), "cboPort", "Combo1");
    place(cboPort, 240, 4800, 1455, 315);
    cboBaud = combo(new QComboBox(client), "cboBaud", "Combo2");
    place(cboBaud, 2040, 4800, 1455, 315);
    cboParity = combo(new QComboBox(client), "cboParity", "Combo1");
    place(cboParity, 3840, 4800, 1335, 315);

    chkShowControl = named(new QCheckBox(QStringLiteral("Display Control Characters"), client),
                           "chkShowControl");
    chkShowControl->setFont(standInFont(9.75));
    chkShowControl->setChecked(true);
    place(chkShowControl, 5520, 4800, 2895, 255);

    chkDuplex = named(new QCheckBox(QStringLiteral("Full Duplex"), client), "chkDuplex");
    chkDuplex->setFont(standInFont(9.75));
    chkDuplex->setChecked(true);
    place(chkDuplex, 5520, 5160, 2175, 255);

    btnOpen = named(new QPushButton(QStringLiteral("Open Port"), client), "btnOpen");
    place(btnOpen, 840, 5280, 975, 375);
    btnClose = named(new QPushButton(QStringLiteral("Close Port"), client), "btnClose");
    place(btnClose, 2160, 5280, 855, 375);
    showPortOpen(false);

    ProgressLabel = named(new QLabel(QStringLiteral("Progress"), client), "ProgressLabel");
    ProgressLabel->setFont(standInFont(9.75));
    place(ProgressLabel, 4440, 5520, 975, 255);
    ProgressLabel->hide();

    ProgressBar1 = named(new QProgressBar(client), "ProgressBar1");
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    place(ProgressBar1, 5520, 5520, 2415, 255);
    ProgressBar1->hide();

    pcntlabel = named(new QLabel(client), "pcntlabel");
    pcntlabel->setFont(standInFont(9.75));
    place(pcntlabel, 8160, 5520, 735, 255);
    pcntlabel->hide();

    // The help panel lies in front of the screen.
    HelpFrame->raise();

    for (QWidget *w : {static_cast<QWidget *>(HelpFrame), static_cast<QWidget *>(ProgressLabel),
                       static_cast<QWidget *>(ProgressBar1), static_cast<QWidget *>(pcntlabel)})
        w->setFocusPolicy(Qt::NoFocus);
    Text1->setFocusPolicy(Qt::StrongFocus);
    const QList<QWidget *> tabOrder{chkShowControl, cboPort, cboBaud, btnOpen,  chkDuplex,
                                    btnClose,       Text1,   Helpbox, Command1, cboParity};
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
}

void Form1::createMenu()
{
    const auto item = [this](const char *name, const QString &caption) {
        QAction *action = menuBar()->addAction(caption);
        action->setObjectName(QLatin1StringView(name));
        return action;
    };
    ClearScreen = item("ClearScreen", QStringLiteral("Clear Screen"));
    SendFile = item("SendFile", QStringLiteral("SendFile"));
    help = item("help", QStringLiteral("Help"));
    Aboutbox = item("Aboutbox", QStringLiteral("About"));
}

void Form1::wireEvents()
{
    connect(ClearScreen, &QAction::triggered, this, &Form1::ClearScreen_triggered);
    connect(chkDuplex, &QCheckBox::toggled, this, &Form1::chkDuplex_clicked);
    connect(chkShowControl, &QCheckBox::toggled, this, &Form1::chkShowControl_clicked);
    connect(btnOpen, &QPushButton::clicked, this, &Form1::btnOpen_clicked);
    connect(btnClose, &QPushButton::clicked, this, &Form1::btnClose_clicked);
    connect(cboPort, &PortComboBox::DropDown, this, &Form1::cboPort_DropDown);
    connect(MSComm1, &SerialPortControl::OnComm, this, &Form1::MSComm1_OnComm);
    connect(Text1, &Screen::KeyPress, this, &Form1::Text1_KeyPress);
    connect(help, &QAction::triggered, this, &Form1::help_triggered);
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_clicked);
    connect(Aboutbox, &QAction::triggered, this, &Form1::Aboutbox_triggered);
    connect(SendFile, &QAction::triggered, this, &Form1::SendFile_triggered);
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_timeout);
}

QString Form1::ControlName(qint16 code) const
{
    return controlName(ControlNames, code);
}

void Form1::ClearScreen_triggered()
{
    Text1->setText(QString());
}

// The check boxes are read when they are needed; a click only hands the keyboard back to the
// screen so that typing goes on reaching the port.
void Form1::chkDuplex_clicked()
{
    Text1->setFocus();
}

void Form1::chkShowControl_clicked()
{
    Text1->setFocus();
}
