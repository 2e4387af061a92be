#include "terminal/screenbytes.h"

#include <algorithm>

ByteClass byteClass(uchar c)
{
    if (c == ' ' || c == '\t')
        return ByteClass::Blank;
    if (c == '\r' || c == '\n')
        return ByteClass::Break;
    const bool latinLetter = c >= 0xC0 && c != 0xD7 && c != 0xF7;
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' ||
        latinLetter || c == 0xAA || c == 0xB5 || c == 0xBA)
        return ByteClass::Word;
    return ByteClass::Other;
}

namespace {
ByteClass classAt(QByteArrayView text, qsizetype i)
{
    return byteClass(uchar(text[i]));
}

bool isGap(ByteClass kind)
{
    return kind == ByteClass::Blank || kind == ByteClass::Break;
}
} // namespace

qsizetype wordLeft(QByteArrayView text, qsizetype pos)
{
    pos = std::clamp<qsizetype>(pos, 0, text.size());
    while (pos > 0 && isGap(classAt(text, pos - 1)))
        --pos;
    if (pos == 0)
        return 0;
    const ByteClass kind = classAt(text, pos - 1);
    while (pos > 0 && classAt(text, pos - 1) == kind)
        --pos;
    return pos;
}

qsizetype wordRight(QByteArrayView text, qsizetype pos)
{
    const qsizetype len = text.size();
    pos = std::clamp<qsizetype>(pos, 0, len);
    if (pos < len) {
        const ByteClass kind = classAt(text, pos);
        if (!isGap(kind))
            while (pos < len && classAt(text, pos) == kind)
                ++pos;
    }
    while (pos < len && isGap(classAt(text, pos)))
        ++pos;
    return pos;
}

std::pair<qsizetype, qsizetype> wordAt(QByteArrayView text, qsizetype pos)
{
    pos = std::clamp<qsizetype>(pos, 0, text.size());
    if (pos == text.size() || classAt(text, pos) == ByteClass::Break)
        return {pos, pos};
    const ByteClass kind = classAt(text, pos);
    qsizetype from = pos;
    qsizetype to = pos + 1;
    while (from > 0 && classAt(text, from - 1) == kind)
        --from;
    while (to < text.size() && classAt(text, to) == kind)
        ++to;
    return {from, to};
}

bool isDimByte(uchar c)
{
    return c < 32 || (c >= 127 && c < 160);
}

bool isFramedByte(uchar c)
{
    return c >= 128 && c < 160;
}

QChar shownChar(uchar c)
{
    if (c < 32)
        return QChar(char16_t(0x2400 + c));
    if (c == 127)
        return QChar(char16_t(0x2421));
    return QChar(char16_t(c));
}

QString hexText(uchar c)
{
    return QStringLiteral("%1").arg(c, 2, 16, QLatin1Char('0')).toUpper();
}
