#pragma once

// The bracketed notation written out independently of the program's table, for checking it.

#include <QByteArray>

inline QByteArray expectedNotation(const QByteArray &bytes)
{
    static const char *const controls[32] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                             "BS",  "HT",  "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
                                             "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                             "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    for (const char ch : bytes) {
        const uchar c = uchar(ch);
        if (c < 32)
            out += '[' + QByteArray(controls[c]) + ']';
        else if (c > 127)
            out += QByteArray("[") + hex[c / 16] + hex[c % 16] + ']';
        else
            out += char(c);
    }
    return out;
}
