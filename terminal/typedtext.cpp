#include "terminal/typedtext.h"

int keyAsciiFor(int key, Qt::KeyboardModifiers modifiers, QStringView text)
{
    const bool ctrl = modifiers & Qt::ControlModifier;
    const bool alt = modifiers & Qt::AltModifier;
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    case Qt::Key_Backspace:
        return ctrl ? 127 : 8;
    case Qt::Key_Escape:
        return 27;
    case Qt::Key_Tab:
        return 9;
    default:
        break;
    }
    if (ctrl && !alt) {
        if (key >= Qt::Key_A && key <= Qt::Key_Z)
            return key - Qt::Key_A + 1;
        switch (key) {
        case Qt::Key_BracketLeft:
            return 27;
        case Qt::Key_Backslash:
            return 28;
        case Qt::Key_BracketRight:
            return 29;
        case Qt::Key_AsciiCircum:
            return 30;
        case Qt::Key_Underscore:
            return 31;
        default:
            return -1;
        }
    }
    if (alt || text.isEmpty())
        return -1;
    char32_t ch = text[0].unicode();
    if (text[0].isHighSurrogate() && text.size() > 1 && text[1].isLowSurrogate())
        ch = QChar::surrogateToUcs4(text[0], text[1]);
    // Keys such as Delete report a control character as their text; they make no character.
    if (ch < 32 || ch == 127)
        return -1;
    return ch <= 255 ? int(ch) : '?';
}

QByteArray toLatin1Lossy(QStringView text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        // A surrogate pair is one character, so it becomes one '?'.
        if (ch.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        bytes.append(ch.unicode() <= 255 ? char(ch.unicode()) : '?');
    }
    return bytes;
}
