#pragma once

#include <QStringList>

// The ASCII mnemonics of the character codes 0 to 31, "NUL" to "US".
const QStringList &controlMnemonics();
