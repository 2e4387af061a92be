#include "app/form1.h"
#include "base/failure.h"
#include "serial/openadvice.h"
#include "serial/portchoice.h"
#include "serial/serialportcontrol.h"
#include "widgets/messagebox.h"
#include "widgets/screen.h"

#include <QComboBox>
#include <QPushButton>

void Form1::btnOpen_clicked()
{
    try {
        if (MSComm1->portOpen()) {
            MSComm1->setPortOpen(false);
            btnOpen->setEnabled(true);
        }
        const int index = cboPort->currentIndex();
        MSComm1->setCommPort(index < 0 ? 0
                                       : PortChoice::portNumberOfEntry(cboPort->itemText(index)));
        MSComm1->setSettings(PortChoice::settingsString(cboBaud->currentIndex(),
                                                        cboParity->currentIndex(), extraBaudRates));
        MSComm1->setPortOpen(true);
        btnOpen->setEnabled(false);
        btnClose->setEnabled(true);
        Text1->setFocus();
    } catch (const std::exception &failure) {
        QString text = QStringLiteral("Error opening port. ") + describe(failure);
        if (const QString advice = OpenAdvice::brlttyAdvice(OpenAdvice::brlttyRunning());
            !advice.isEmpty())
            text += u' ' + advice;
        showMessage(this, text);
    }
}

void Form1::btnClose_clicked()
{
    try {
        MSComm1->setPortOpen(false);
        RawLog->flush();
        StampedLog->flush();
        btnClose->setEnabled(false);
        btnOpen->setEnabled(true);
        // The port is closed either way; the user thinks the dropped bytes were sent.
        if (const QString note = MSComm1->closeNote(); !note.isEmpty())
            showMessage(this, note);
    } catch (const std::exception &failure) {
        showMessage(this, QStringLiteral("Error closing port .. ") + describe(failure));
    }
}
