#include "app/form1.h"
#include "base/failure.h"
#include "serial/serialportcontrol.h"
#include "widgets/messagebox.h"
#include "widgets/screen.h"

#include <QAction>

#include <exception>

namespace {

constexpr int PulseMs = 100;
constexpr int BreakMs = 250;

} // namespace

void Form1::createLineControl()
{
    const auto item = [this](const char *name, const QString &caption) {
        auto *action = new QAction(caption, this);
        action->setObjectName(QLatin1StringView(name));
        action->setEnabled(false);
        return action;
    };
    DTR = item("DTR", QStringLiteral("DTR"));
    DTR->setCheckable(true);
    RTS = item("RTS", QStringLiteral("RTS"));
    RTS->setCheckable(true);
    PulseDTR = item("PulseDTR", QStringLiteral("Reset (pulse DTR)"));
    SendBreak = item("SendBreak", QStringLiteral("Send Break"));
    SendBreak->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_B));
    ModemLines = item("ModemLines", SerialPortControl::ModemLines::unknownText());
    Text1->addMenuActions({nullptr, DTR, RTS, PulseDTR, SendBreak, ModemLines});

    connect(DTR, &QAction::triggered, this, &Form1::DTR_triggered);
    connect(RTS, &QAction::triggered, this, &Form1::RTS_triggered);
    connect(PulseDTR, &QAction::triggered, this, &Form1::PulseDTR_triggered);
    connect(SendBreak, &QAction::triggered, this, &Form1::SendBreak_triggered);
    connect(Text1, &Screen::contextMenuAboutToShow, this, &Form1::ModemLines_update);
    connect(MSComm1, &SerialPortControl::lineStateChanged, this, &Form1::ModemLines_update);
    ModemLines_update();
}

// The entries show the lines as the device has them, read afresh: a check mark never claims a
// line the device does not have.
void Form1::ModemLines_update()
{
    const QString absent = MSComm1->lineControlAbsence();
    SerialPortControl::ModemLines lines;
    bool known = absent.isEmpty();
    QString why = absent;
    if (known) {
        try {
            lines = MSComm1->modemLines();
        } catch (const std::exception &failure) {
            known = false; // a lost device is told by the receive routine, once
            why = describe(failure);
        }
    }
    for (QAction *action : {DTR, RTS, PulseDTR, SendBreak}) {
        action->setEnabled(known);
        action->setToolTip(why);
    }
    SendBreak->setEnabled(known && !MSComm1->isSendingBreak());
    DTR->setChecked(known && lines.dtr);
    RTS->setChecked(known && lines.rts);
    ModemLines->setEnabled(false); // shown, never chosen
    ModemLines->setText(known ? lines.inputsText() : SerialPortControl::ModemLines::unknownText());
    ModemLines->setToolTip(known ? QStringLiteral("The modem inputs when this menu opened") : why);
}

void Form1::DTR_triggered(bool on)
{
    try {
        MSComm1->setDataTerminalReady(on);
    } catch (const std::exception &failure) {
        showMessage(this, describe(failure));
    }
    ModemLines_update();
}

void Form1::RTS_triggered(bool on)
{
    try {
        MSComm1->setRequestToSend(on);
    } catch (const std::exception &failure) {
        showMessage(this, describe(failure));
    }
    ModemLines_update();
}

void Form1::PulseDTR_triggered()
{
    try {
        MSComm1->pulseDataTerminalReady(PulseMs);
    } catch (const std::exception &failure) {
        showMessage(this, describe(failure));
    }
    ModemLines_update();
}

void Form1::SendBreak_triggered()
{
    try {
        MSComm1->sendBreak(BreakMs);
    } catch (const std::exception &failure) {
        showMessage(this, describe(failure));
    }
    ModemLines_update();
}
