#include "app/form1.h"
#include "base/failure.h"
#include "serial/portchoice.h"
#include "serial/serialportcontrol.h"
#include "widgets/messagebox.h"
#include "widgets/screen.h"

#include <QComboBox>
#include <QPushButton>

#include <cstdio>

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
        showPortOpen(true);
        Text1->setFocus();
    } catch (const std::exception &failure) {
        QString text = QStringLiteral("Error opening port. ") + describe(failure);
        if (const QString advice = brlttyAdvice(); !advice.isEmpty())
            text += u' ' + advice;
        showMessage(this, text);
    }
}

void Form1::btnClose_clicked()
{
    try {
        // A click while the port drains drops what is left; the first click's call ends the close.
        if (MSComm1->isClosing()) {
            MSComm1->setPortOpen(false);
            return;
        }
        showClosing(true);
        MSComm1->setPortOpen(false);
        RawLog->flush();
        StampedLog->flush();
        showClosing(false);
        showPortOpen(false);
        // The port is closed either way; the user thinks the dropped bytes were sent. A window
        // that closed during the drain can no longer say so in a box.
        tellCloseNote(!isClosing());
    } catch (const std::exception &failure) {
        showClosing(false);
        showMessage(this, QStringLiteral("Error closing port .. ") + describe(failure));
    }
}

// Only the button that can act is enabled (the other is disabled first).
void Form1::showPortOpen(bool open)
{
    (open ? btnOpen : btnClose)->setEnabled(false);
    (open ? btnClose : btnOpen)->setEnabled(true);
}

// While the port drains the window stays as it is; the button and the pointer say it is closing.
void Form1::showClosing(bool closing)
{
    btnClose->setToolTip(closing ? QStringLiteral("Closing: the device is taking what was sent. "
                                                  "Click again to drop the rest.")
                                 : QString());
    if (closing)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
}

void Form1::tellCloseNote(bool inBox)
{
    const QString note = MSComm1->closeNote();
    if (note.isEmpty())
        return;
    if (inBox)
        showMessage(this, note);
    else
        std::fprintf(stderr, "quorline: %s\n", qPrintable(note));
}
