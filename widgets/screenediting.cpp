// The screen's keyboard, mouse, clipboard and context menu.
#include "widgets/screen.h"

#include "terminal/typedtext.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPointer>
#include <QScrollBar>

namespace {

enum class CharClass { Word, Blank, Break, Other };

CharClass classOf(uchar c)
{
    if (c == ' ' || c == '\t')
        return CharClass::Blank;
    if (c == '\r' || c == '\n')
        return CharClass::Break;
    const bool latinLetter = c >= 0xC0 && c != 0xD7 && c != 0xF7;
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' ||
        latinLetter || c == 0xAA || c == 0xB5 || c == 0xBA)
        return CharClass::Word;
    return CharClass::Other;
}

} // namespace

bool Screen::event(QEvent *e)
{
    if (e->type() == QEvent::ShortcutOverride) {
        // Keys that make a character belong to the terminal, not to a window shortcut.
        const auto *k = static_cast<QKeyEvent *>(e);
        if (keyAsciiFor(k->key(), k->modifiers(), k->text()) >= 0) {
            e->accept();
            return true;
        }
    } else if (e->type() == QEvent::KeyPress) {
        // Tab is a character here (9); Shift+Tab still leaves the box.
        auto *k = static_cast<QKeyEvent *>(e);
        if (k->key() == Qt::Key_Tab && !(k->modifiers() & (Qt::ShiftModifier | Qt::AltModifier))) {
            keyPressEvent(k);
            return true;
        }
    }
    return QAbstractScrollArea::event(e);
}

void Screen::keyPressEvent(QKeyEvent *e)
{
    const int code = keyAsciiFor(e->key(), e->modifiers(), e->text());
    if (code < 0) {
        if (navigate(e))
            e->accept();
        else
            e->ignore();
        return;
    }
    e->accept();
    int keyAscii = code;
    const QPointer<Screen> alive(this);
    emit KeyPress(keyAscii);
    if (alive && keyAscii != 0)
        typeCharacter(keyAscii);
}

// An unconsumed character is ordinary typing at the caret.
void Screen::typeCharacter(int code)
{
    switch (code) {
    case 1:
        selectAll();
        return;
    case 3:
        copy();
        return;
    case 8:
        deleteBack();
        return;
    case 13:
        replaceSelection("\r\n");
        return;
    case 22:
        paste();
        return;
    case 24:
        cut();
        return;
    default:
        break;
    }
    if ((code >= 32 && code < 127) || (code >= 160 && code <= 255)) {
        const char c = char(code);
        replaceSelection(QByteArrayView(&c, 1));
    }
}

bool Screen::navigate(QKeyEvent *e)
{
    const bool shift = e->modifiers() & Qt::ShiftModifier;
    const bool ctrl = e->modifiers() & Qt::ControlModifier;
    const qsizetype row = m_model.rowOf(m_cursor);
    const bool selected = m_cursor != m_anchor;
    switch (e->key()) {
    case Qt::Key_Left:
        moveCaret(selected && !shift ? selectionStart() : stepLeft(m_cursor), shift);
        return true;
    case Qt::Key_Right:
        moveCaret(selected && !shift ? selectionEnd() : stepRight(m_cursor), shift);
        return true;
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown: {
        const bool page = e->key() == Qt::Key_PageUp || e->key() == Qt::Key_PageDown;
        const bool up = e->key() == Qt::Key_Up || e->key() == Qt::Key_PageUp;
        const qsizetype step = (page ? pageRows() : 1) * (up ? -1 : 1);
        const qsizetype target = std::clamp<qsizetype>(row + step, 0, m_model.rowCount() - 1);
        const qint64 x = m_preferredX >= 0 ? m_preferredX : m_model.xOf(m_cursor);
        if (page)
            verticalScrollBar()->setValue(int(topRow() + step));
        moveCaret(target == row && !page ? m_cursor : m_model.posAt(target, x), shift);
        m_preferredX = x;
        return true;
    }
    case Qt::Key_Home:
        moveCaret(ctrl ? 0 : m_model.rowStart(row), shift);
        return true;
    case Qt::Key_End:
        moveCaret(ctrl ? m_model.length() : m_model.posAt(row, ScreenModel::NoWrap), shift);
        return true;
    case Qt::Key_Delete:
        deleteForward();
        return true;
    case Qt::Key_Insert:
        return true;
    default:
        return false;
    }
}

void Screen::deleteBack()
{
    if (m_cursor == m_anchor)
        m_anchor = stepLeft(m_cursor);
    replaceSelection({});
}

void Screen::deleteForward()
{
    if (m_cursor == m_anchor)
        m_anchor = stepRight(m_cursor);
    replaceSelection({});
}

void Screen::copy()
{
    if (m_cursor != m_anchor)
        QGuiApplication::clipboard()->setText(QString::fromLatin1(selectedBytes()));
}

void Screen::cut()
{
    if (m_cursor == m_anchor)
        return;
    copy();
    replaceSelection({});
}

void Screen::paste()
{
    const QString text = QGuiApplication::clipboard()->text();
    if (!text.isEmpty())
        replaceSelection(toLatin1Lossy(text));
}

void Screen::deleteSelection()
{
    if (m_cursor != m_anchor)
        replaceSelection({});
}

void Screen::selectAll()
{
    m_anchor = 0;
    moveCaret(m_model.length(), true);
}

void Screen::selectWordAt(qsizetype pos)
{
    const QByteArray &t = m_model.bytes();
    if (pos >= t.size() || classOf(uchar(t[pos])) == CharClass::Break) {
        moveCaret(pos, false);
        return;
    }
    const CharClass kind = classOf(uchar(t[pos]));
    qsizetype from = pos;
    qsizetype to = pos + 1;
    while (from > 0 && classOf(uchar(t[from - 1])) == kind)
        --from;
    while (to < t.size() && classOf(uchar(t[to])) == kind)
        ++to;
    m_anchor = from;
    moveCaret(to, true);
}

qsizetype Screen::hitTest(QPoint p) const
{
    const qsizetype row = topRow() + qsizetype(std::floor(p.y() / m_lineHeight));
    const qint64 x = qint64(p.x() - m_margin) * ScreenModel::Unit;
    return m_model.posAt(std::clamp<qsizetype>(row, 0, m_model.rowCount() - 1), x);
}

void Screen::mousePressEvent(QMouseEvent *e)
{
    if (e->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(e);
        return;
    }
    m_dragging = true;
    moveCaret(hitTest(e->position().toPoint()), e->modifiers() & Qt::ShiftModifier);
}

void Screen::mouseMoveEvent(QMouseEvent *e)
{
    if (!m_dragging || !(e->buttons() & Qt::LeftButton))
        return;
    const QPoint p = e->position().toPoint();
    // Dragging past the top or bottom edge scrolls a row at a time.
    if (p.y() < 0)
        verticalScrollBar()->setValue(topRow() - 1);
    else if (p.y() > viewport()->height())
        verticalScrollBar()->setValue(topRow() + 1);
    moveCaret(hitTest(p), true);
}

void Screen::mouseReleaseEvent(QMouseEvent *e)
{
    if (e->button() == Qt::LeftButton)
        m_dragging = false;
    else
        QAbstractScrollArea::mouseReleaseEvent(e);
}

void Screen::mouseDoubleClickEvent(QMouseEvent *e)
{
    if (e->button() == Qt::LeftButton)
        selectWordAt(hitTest(e->position().toPoint()));
}

QMenu *Screen::createContextMenu()
{
    auto *menu = new QMenu(this);
    const bool selected = m_cursor != m_anchor;
    const auto add = [this, menu](const QString &text, const char *name, bool enabled,
                                  void (Screen::*slot)()) {
        QAction *action = menu->addAction(text);
        action->setObjectName(QLatin1String(name));
        action->setEnabled(enabled);
        connect(action, &QAction::triggered, this, slot);
    };
    add(tr("Cu&t"), "cut", selected, &Screen::cut);
    add(tr("&Copy"), "copy", selected, &Screen::copy);
    add(tr("&Paste"), "paste", !QGuiApplication::clipboard()->text().isEmpty(), &Screen::paste);
    add(tr("&Delete"), "delete", selected, &Screen::deleteSelection);
    menu->addSeparator();
    add(tr("Select &All"), "selectAll", m_model.length() > 0, &Screen::selectAll);
    return menu;
}

void Screen::contextMenuEvent(QContextMenuEvent *e)
{
    const QPointer<QMenu> menu = createContextMenu();
    menu->exec(e->globalPos());
    delete menu.data();
}
