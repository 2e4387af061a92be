#include "terminal/screen.h"

#include <QKeyEvent>
#include <QTextBlock>

Screen::Screen(QWidget *parent) : QPlainTextEdit(parent) {}

QString Screen::text() const
{
    return toPlainText();
}

void Screen::setText(const QString &text)
{
    setPlainText(text);
}

QByteArray Screen::bytes() const
{
    return text().toLatin1();
}

qsizetype Screen::length() const
{
    return text().size();
}

void Screen::append(QByteArrayView piece)
{
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(QString::fromLatin1(piece));
}

int Screen::cursorPosition() const
{
    return textCursor().position();
}

void Screen::setCursorPosition(int pos)
{
    QTextCursor cursor = textCursor();
    cursor.setPosition(qBound(0, pos, int(length())));
    setTextCursor(cursor);
    ensureCursorVisible();
}

void Screen::keyPressEvent(QKeyEvent *event)
{
    const QString typed = event->text();
    if (typed.size() == 1) {
        int code = typed[0].unicode() < 256 ? typed[0].unicode() : '?';
        emit KeyPress(code);
        if (code == 0)
            return;
    }
    QPlainTextEdit::keyPressEvent(event);
}
