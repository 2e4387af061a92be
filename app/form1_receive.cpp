#include "app/form1.h"
#include "base/failure.h"
#include "serial/serialportcontrol.h"
#include "widgets/messagebox.h"
#include "widgets/screen.h"

#include <QCheckBox>
#include <QDateTime>
#include <QScopedValueRollback>

#include <exception>
#include <new>

void Form1::MSComm1_OnComm()
{
    try {
        const QByteArray input = MSComm1->input();
        // One clock read for all that came: the screen's rows and the log agree on its time.
        const qint64 arrived = QDateTime::currentMSecsSinceEpoch();
        logBytes(LogDirection::Received, input, arrived);
        RxBuffer += input;
        // RxBuffer stays raw until the screen has it: after a failure the next event shows it
        // in the notation of that moment, rendered or converted exactly once.
        QByteArray shown;
        if (chkShowControl->isChecked()) {
            if (!m_notation.isFor(ControlNames))
                m_notation = NotationTable(ControlNames);
            m_notation.appendRendered(RxBuffer, shown);
        } else {
            shown = RxBuffer;
            convertLineEnds(shown);
        }
        Text1->append(shown, arrived);
        RxBuffer.clear();
        Text1->setCursorPosition(Text1->length());
    } catch (const std::bad_alloc &failure) {
        // Out of memory: the port closes so that the flood stops, and one box says so, however
        // many events were still queued behind it.
        if (m_outOfMemoryShown)
            return;
        const QScopedValueRollback<bool> once(m_outOfMemoryShown, true);
        try {
            MSComm1->setPortOpen(false);
        } catch (const std::exception &) {
            // The box says what matters; the port is closed or already gone.
        }
        tellReceiveFailure(failure);
    } catch (const std::exception &failure) {
        tellReceiveFailure(failure);
    }
}

// A lost device or a close after a failure: the buttons show the port closed before the box
// says why. While --reconnect waits for the device, Close Port stays the way to stop it.
void Form1::tellReceiveFailure(const std::exception &failure)
{
    if (!MSComm1->portOpen() && !MSComm1->isAwaitingDevice())
        showPortOpen(false);
    showMessage(this, QStringLiteral("ERror in receive routine, ") + describe(failure));
}
