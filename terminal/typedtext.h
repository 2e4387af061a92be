#pragma once

#include <QByteArray>
#include <QStringView>
#include <Qt>

// The character code a text box's character event gives for a key press, or -1 when the key
// makes no character (navigation, editing and function keys). text is the key's typed text.
int keyAsciiFor(int key, Qt::KeyboardModifiers modifiers, QStringView text);

// Text as the screen's single-byte characters: each character outside Latin-1 becomes '?'.
QByteArray toLatin1Lossy(QStringView text);
