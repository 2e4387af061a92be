#include "app/failure.h"
#include "app/form1.h"
#include "app/messagebox.h"
#include "serial/serialportcontrol.h"
#include "terminal/screen.h"

#include <QCheckBox>

#include <exception>

void Form1::MSComm1_OnComm()
{
    try {
        RxBuffer += MSComm1->input();
        if (chkShowControl->isChecked()) {
            if (!m_notation.isFor(ControlNames))
                m_notation = NotationTable(ControlNames);
            // Rendered apart, so that a failure keeps the raw text for the next event.
            QByteArray rendered;
            m_notation.appendRendered(RxBuffer, rendered);
            RxBuffer = std::move(rendered);
        } else {
            convertLineEnds(RxBuffer);
        }
        Text1->append(RxBuffer);
        Text1->setCursorPosition(int(qMin<qsizetype>(Text1->length(), INT_MAX)));
        RxBuffer.clear();
    } catch (const Failure &failure) {
        showMessage(this, QStringLiteral("ERror in receive routine, ") + failure.description());
    } catch (const std::exception &failure) {
        showMessage(this, QStringLiteral("ERror in receive routine, ") +
                              QString::fromLocal8Bit(failure.what()));
    }
}
