#include "terminal/notation.h"

#include <cstring>

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

QString controlName(const ControlNameTable &names, qint16 code)
{
    if (code < 0 || code >= qint16(names.size()))
        return QStringLiteral("[??]");
    return names[code];
}

QByteArray renderedCode(const ControlNameTable &names, qint16 code)
{
    if (code < 32)
        return '[' + controlName(names, code).toLatin1() + ']';
    if (code > 127)
        return '[' + QByteArray::number(code, 16).toUpper() + ']';
    return QByteArray(1, char(code));
}

QByteArray echoText(const ControlNameTable &names, qint16 code, bool notation)
{
    if (code == 13)
        return notation ? renderedCode(names, code) + "\r\n" : QByteArray("\r\n");
    if (notation)
        return renderedCode(names, code);
    if (code >= 32 && code <= 126)
        return QByteArray(1, char(code));
    return {};
}

void convertLineEnds(QByteArray &text)
{
    // Look before writing: most received text has no LF CR pair and need not be copied.
    const char *begin = text.constData();
    const char *end = begin + text.size();
    const char *lf = static_cast<const char *>(std::memchr(begin, '\n', end - begin));
    while (lf && lf + 1 < end && lf[1] != '\r')
        lf = static_cast<const char *>(std::memchr(lf + 1, '\n', end - lf - 1));
    if (!lf || lf + 1 >= end)
        return;

    const qsizetype first = lf - begin;
    char *data = text.data();
    const qsizetype size = text.size();
    for (qsizetype i = first; i + 1 < size;) {
        if (data[i] == '\n' && data[i + 1] == '\r') {
            data[i] = '\r';
            data[i + 1] = '\n';
            i += 2;
        } else {
            ++i;
        }
    }
}

NotationTable::NotationTable(const ControlNameTable &names) : m_names(names), m_built(true)
{
    for (int c = 0; c < 256; ++c) {
        m_long[c] = renderedCode(names, qint16(c));
        const qsizetype length = m_long[c].size();
        m_lengths[c] = int(length);
        m_longest = qMax(m_longest, length);
        if (length <= SlotSize)
            std::memcpy(m_slots[c].data(), m_long[c].constData(), size_t(length));
    }
}

void NotationTable::appendRendered(QByteArrayView bytes, QByteArray &out) const
{
    const qsizetype start = out.size();
    if (m_longest > SlotSize) {
        out.reserve(start + bytes.size() * m_longest);
        for (const char c : bytes)
            out.append(m_long[uchar(c)]);
        return;
    }
    // Copy whole slots and step by the text's length; the slack behind takes the last overrun.
    out.resize(start + bytes.size() * m_longest + SlotSize);
    char *p = out.data() + start;
    for (const char c : bytes) {
        std::memcpy(p, m_slots[uchar(c)].data(), SlotSize);
        p += m_lengths[uchar(c)];
    }
    out.resize(p - out.constData());
}

QByteArray NotationTable::rendered(QByteArrayView bytes) const
{
    QByteArray out;
    appendRendered(bytes, out);
    return out;
}
