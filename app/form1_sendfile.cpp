#include "app/form1.h"
#include "filesend/linereader.h"
#include "filesend/progresstext.h"
#include "serial/serialportcontrol.h"
#include "widgets/commondialog.h"
#include "widgets/messagebox.h"

#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>

#include <exception>

namespace {

// About a tenth of a second of output at the port's rate, ten bits to a character.
qint64 outputAhead(const SerialPortControl *port)
{
    return qMax<qint64>(1, port->baudRate() / 100);
}

// Handles the window's events; false once the window has gone or is closing, and the send must
// end without touching it.
bool yieldSend(const QPointer<Form1> &window,
               QEventLoop::ProcessEventsFlags flags = QEventLoop::AllEvents)
{
    QCoreApplication::processEvents(flags);
    return window && !window->isClosing();
}

// Keeps an action disabled while it lives, so that a send cannot start inside another's yield
// and mix two files at the port. The action may go first, with its window.
class DisabledWhileAlive
{
public:
    explicit DisabledWhileAlive(QAction *action)
        : m_action(action), m_wasEnabled(action->isEnabled())
    {
        action->setEnabled(false);
    }
    ~DisabledWhileAlive()
    {
        if (m_action)
            m_action->setEnabled(m_wasEnabled);
    }
    DisabledWhileAlive(const DisabledWhileAlive &) = delete;
    DisabledWhileAlive &operator=(const DisabledWhileAlive &) = delete;

private:
    QPointer<QAction> m_action;
    bool m_wasEnabled;
};

} // namespace

void Form1::SendFile_triggered()
{
    const QPointer<Form1> window(this);
    const DisabledWhileAlive busy(SendFile);
    try {
        if (!askOkCancel(this, QStringLiteral("Send File"),
                         QStringLiteral("This function sends a file simply .. with no protocol")))
            return;
        CommonDialog1->ShowOpen();
        if (!window || isClosing())
            return;
        if (CommonDialog1->fileName().isEmpty()) {
            showMessage(this, QStringLiteral("No filename provided .."));
            return;
        }
        // A large file or a slow disk takes a while to count; the port is read meanwhile.
        const qint64 count =
            CountLines(CommonDialog1->fileName(), [&window] { return yieldSend(window); });

        setSendMaximum(count);
        ProgressBar1->show();
        setSendValue(0);
        ProgressLabel->show();
        pcntlabel->show();
        pcntlabel->setText(QStringLiteral("0%"));

        // The reader yields as the count does, so that a slow disk does not hold up the window.
        LineReader file(CommonDialog1->fileName(), [&window] { return yieldSend(window); });
        while (!file.atEnd()) {
            // A line goes out a piece at a time, so a line of any length takes little memory; a
            // line that fits in one piece goes whole, and typing falls between lines.
            bool lineEnded = false;
            do {
                const QByteArray piece =
                    file.readPiece(sendPieceSize(MSComm1->baudRate()), &lineEnded);
                MSComm1->setOutput(piece);
                logBytes(LogDirection::Sent, piece);
                // The port takes any amount at once; the progress waits for the line to go out.
                while (MSComm1->bytesToWrite() > outputAhead(MSComm1))
                    if (!yieldSend(window, QEventLoop::WaitForMoreEvents))
                        return;
            } while (!lineEnded);
            if (m_send.linesSent < m_send.lineCount)
                setSendValue(m_send.linesSent + 1);
            pcntlabel->setText(percentText(m_send.linesSent, m_send.lineCount));
            if (!yieldSend(window))
                return;
        }
        file.close();

        Timer1->setInterval(2000);
        Timer1->start();
        while (Timer1->isActive())
            if (!yieldSend(window, QEventLoop::WaitForMoreEvents))
                return;

        ProgressBar1->hide();
        ProgressLabel->hide();
        pcntlabel->hide();
    } catch (const std::exception &) {
        // Any failure, a refused write or a line too large to hold alike, ends the send here; so
        // does a count stopped because the window has gone or is closing.
        if (window && !isClosing())
            showMessage(this, QStringLiteral("Error during file send ... port not open?"));
    }
}

// The bar's own range is int; the counts are kept beside it in 64 bits.
void Form1::setSendMaximum(qint64 lines)
{
    m_send.lineCount = lines;
    ProgressBar1->setMaximum(barUnits(lines, lines));
}

void Form1::setSendValue(qint64 lines)
{
    m_send.linesSent = lines;
    ProgressBar1->setValue(barUnits(lines, m_send.lineCount));
}

void Form1::Timer1_timeout()
{
    Timer1->stop();
}
