#include "app/form1.h"
#include "widgets/messagebox.h"
#include "widgets/commondialog.h"
#include "filesend/linereader.h"
#include "filesend/progresstext.h"
#include "serial/serialportcontrol.h"

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

} // namespace

void Form1::SendFile_triggered()
{
    const QPointer<Form1> window(this);
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
        const qint64 count = CountLines(CommonDialog1->fileName());

        setSendMaximum(count);
        ProgressBar1->show();
        setSendValue(0);
        ProgressLabel->show();
        pcntlabel->show();
        pcntlabel->setText(QStringLiteral("0%"));

        LineReader file(CommonDialog1->fileName());
        while (!file.atEnd()) {
            MSComm1->setOutput(file.readLine());
            // The port takes any amount at once; the progress waits for the line to go out.
            while (MSComm1->bytesToWrite() > outputAhead(MSComm1))
                if (!yieldSend(window, QEventLoop::WaitForMoreEvents))
                    return;
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
        // Any failure, a refused write or a line too large to hold alike, ends the send here.
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
