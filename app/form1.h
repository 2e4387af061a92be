#pragma once

#include "serial/fleetingdevices.h"
#include "serial/portlist.h"
#include "serial/portmap.h"
#include "terminal/capturelog.h"
#include "terminal/notation.h"
#include "widgets/portcombobox.h"

#include <QByteArray>
#include <QList>
#include <QMainWindow>
#include <QString>
#include <QTimer>

#include <array>
#include <exception>
#include <memory>

class QAction;
class QCheckBox;
class QCloseEvent;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class CommonDialog;
class Form2;
class Screen;
class SerialPortControl;

// The terminal window. Controls carry the names the rest of the program and the tests know them
// by; each handler is named after its control and event. Its member functions live beside this
// header, one file per concern:
//   form1.cpp           controls, menu, wiring; ClearScreen and the check boxes
//   form1_startup.cpp   Form_Load (the port list, the lists, caption, ControlNames)
//   form1_portopen.cpp  btnOpen_clicked, btnClose_clicked (and how a closing port shows)
//   form1_portlist.cpp  cboPort_DropDown (the list follows devices that come and go)
//   form1_receive.cpp   MSComm1_OnComm
//   form1_keypress.cpp  Text1_KeyPress
//   form1_sendfile.cpp  SendFile_triggered, Timer1_timeout
//   form1_help.cpp      loadHelpText, help_triggered, Command1_clicked
//   form1_about.cpp     Aboutbox_triggered
//   form1_linecontrol.cpp  DTR, RTS, PulseDTR, SendBreak, ModemLines (the screen's context menu)
//   form1_log.cpp       LogToFile_triggered, startLog (the capture logs)
class Form1 : public QMainWindow
{
    Q_OBJECT

public:
    explicit Form1(PortMap ports = PortMap::fromSystem(), QWidget *parent = nullptr);
    ~Form1() override;

    // Start-up: runs once, before the window is first shown.
    void Form_Load();
    // Its last step: help.txt from helpDirectory into Helpbox.
    void loadHelpText();

    // The mnemonic of a code 0..31, "[??]" for any other.
    QString ControlName(qint16 code) const;

    // Twips to pixels at the screen's logical resolution.
    int twips(int value) const;

    Screen *Text1 = nullptr;
    QGroupBox *HelpFrame = nullptr;
    QPlainTextEdit *Helpbox = nullptr;
    QPushButton *Command1 = nullptr;
    PortComboBox *cboPort = nullptr;
    QComboBox *cboBaud = nullptr;
    QComboBox *cboParity = nullptr;
    QCheckBox *chkShowControl = nullptr;
    QCheckBox *chkDuplex = nullptr;
    QPushButton *btnOpen = nullptr;
    QPushButton *btnClose = nullptr;
    QLabel *ProgressLabel = nullptr;
    QProgressBar *ProgressBar1 = nullptr;
    QLabel *pcntlabel = nullptr;
    QTimer *Timer1 = nullptr;
    SerialPortControl *MSComm1 = nullptr;
    CommonDialog *CommonDialog1 = nullptr;

    QAction *ClearScreen = nullptr;
    QAction *SendFile = nullptr;
    QAction *help = nullptr;
    QAction *Aboutbox = nullptr;
    // In the screen's context menu: starts a capture log, or stops the logs that run.
    QAction *LogToFile = nullptr;
    // The capture logs: the received bytes as they came, and the text with arrival times.
    CaptureLog *RawLog = nullptr;
    CaptureLog *StampedLog = nullptr;

    // Starts the log of that form on path; a refusal is one message box.
    void startLog(const QString &path, LogForm form);

    // Line control, in the screen's context menu while the port is open.
    QAction *DTR = nullptr;
    QAction *RTS = nullptr;
    QAction *PulseDTR = nullptr;
    QAction *SendBreak = nullptr;
    QAction *ModemLines = nullptr;

    // Set once the window is being closed: a handler waiting in a yield ends without going on.
    bool isClosing() const { return m_closing; }

    ControlNameTable ControlNames;
    QByteArray RxBuffer;

    // Where help.txt is looked for; empty means the program's own directory (tests set it).
    QString helpDirectory;
    // USB serial devices that went soon after they came, as /dev changes.
    FleetingDevices fleetingDevices;
    // Rates from --baud, listed after the fixed ones, the first selected; set before Form_Load.
    QList<qint32> extraBaudRates;

public slots:
    void ClearScreen_triggered();
    void chkDuplex_clicked();
    void chkShowControl_clicked();
    void btnOpen_clicked();
    void btnClose_clicked();
    void cboPort_DropDown();
    void MSComm1_OnComm();
    void Text1_KeyPress(int &KeyAscii);
    void help_triggered();
    void Command1_clicked();
    void Aboutbox_triggered();
    void SendFile_triggered();
    void Timer1_timeout();
    void DTR_triggered(bool on);
    void RTS_triggered(bool on);
    void PulseDTR_triggered();
    void SendBreak_triggered();
    // Brings the line-control entries up to date: the menu opens, the port opens or closes.
    void ModemLines_update();
    void LogToFile_triggered();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void createControls();
    void createMenu();
    void createLineControl();
    void wireEvents();
    void showPortList(const PortList::Look &look);
    void watchDevices();
    QString brlttyAdvice() const;
    void setSendMaximum(qint64 lines);
    void setSendValue(qint64 lines);
    void createLogging();
    void showLogState();
    void logStopped(const QString &message);
    // Hands bytes that came from the port or went to it at ms (0: now) to the logs that run.
    void logBytes(LogDirection direction, QByteArrayView bytes, qint64 ms = 0)
    {
        if (RawLog->isActive() || StampedLog->isActive())
            logBytesNow(direction, bytes, ms);
    }
    void logBytesNow(LogDirection direction, QByteArrayView bytes, qint64 ms);
    void showPortOpen(bool open);
    void tellReceiveFailure(const std::exception &failure);
    void showClosing(bool closing);
    void tellCloseNote(bool inBox);

    // The notation of every byte, built from ControlNames when first needed.
    NotationTable m_notation;
    // The About window, made on first use and kept for the run.
    std::unique_ptr<Form2> form2;

    // The file send's progress, kept beside the bar. One send at a time: SendFile is disabled
    // while a send runs.
    struct SendProgress
    {
        qint64 lineCount = 0;
        qint64 linesSent = 0;
    };
    SendProgress m_send;

    bool m_closing = false;
    // Set while the receive routine reports running out of memory.
    bool m_outOfMemoryShown = false;
};
