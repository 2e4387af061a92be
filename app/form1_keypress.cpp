#include "app/form1.h"
#include "serial/serialportcontrol.h"
#include "widgets/messagebox.h"
#include "widgets/screen.h"

#include <QCheckBox>

#include <exception>

void Form1::Text1_KeyPress(int &KeyAscii)
{
    try {
        // One byte per key, untranslated; a code outside Latin-1 goes as "?".
        const char byte = KeyAscii >= 0 && KeyAscii <= 255 ? char(KeyAscii) : '?';
        const qint16 code = uchar(byte);
        MSComm1->setOutput(QByteArrayView(&byte, 1));
        logBytes(LogDirection::Sent, QByteArrayView(&byte, 1));
        if (!chkDuplex->isChecked()) {
            Text1->append(echoText(ControlNames, code, chkShowControl->isChecked()));
            Text1->setCursorPosition(Text1->length());
        }
        KeyAscii = 0;
    } catch (const std::exception &) {
        // The key is left to the screen, which then types it at its caret.
        showMessage(this, QStringLiteral("Error sending output .. port probably not open"));
    }
}
