#include "base/failure.h"
#include "app/form1.h"
#include "widgets/messagebox.h"
#include "serial/serialportcontrol.h"
#include "widgets/screen.h"

#include <QCheckBox>
#include <QPushButton>

#include <climits>
#include <exception>

void Form1::MSComm1_OnComm()
{
    try {
        RxBuffer += MSComm1->input();
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
        Text1->append(shown);
        RxBuffer.clear();
        Text1->setCursorPosition(int(qMin<qsizetype>(Text1->length(), INT_MAX)));
    } catch (const std::exception &failure) {
        // A lost device closed the port: the buttons show it closed before the box says why.
        if (!MSComm1->portOpen() && !MSComm1->isAwaitingDevice()) {
            btnOpen->setEnabled(true);
            btnClose->setEnabled(false);
        }
        showMessage(this, QStringLiteral("ERror in receive routine, ") + describe(failure));
    }
}
