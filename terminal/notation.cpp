#include "terminal/notation.h"

const QStringList &controlMnemonics()
{
    static const QStringList names{
        QStringLiteral("NUL"), QStringLiteral("SOH"), QStringLiteral("STX"), QStringLiteral("ETX"),
        QStringLiteral("EOT"), QStringLiteral("ENQ"), QStringLiteral("ACK"), QStringLiteral("BEL"),
        QStringLiteral("BS"),  QStringLiteral("HT"),  QStringLiteral("LF"),  QStringLiteral("VT"),
        QStringLiteral("FF"),  QStringLiteral("CR"),  QStringLiteral("SO"),  QStringLiteral("SI"),
        QStringLiteral("DLE"), QStringLiteral("DC1"), QStringLiteral("DC2"), QStringLiteral("DC3"),
        QStringLiteral("DC4"), QStringLiteral("NAK"), QStringLiteral("SYN"), QStringLiteral("ETB"),
        QStringLiteral("CAN"), QStringLiteral("EM"),  QStringLiteral("SUB"), QStringLiteral("ESC"),
        QStringLiteral("FS"),  QStringLiteral("GS"),  QStringLiteral("RS"),  QStringLiteral("US")};
    return names;
}
