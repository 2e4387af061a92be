// The screen's keyboard, mouse, clipboard and context menu.
#include "widgets/screen.h"

#include "base/failure.h"
#include "terminal/screenbytes.h"
#include "terminal/screenfile.h"
#include "terminal/typedtext.h"
#include "widgets/findwindow.h"
#include "widgets/messagebox.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QScrollBar>

#include <algorithm>

// The screen's commands live as long as it does; their Ctrl+Shift keys are the screen's own,
// while plain Ctrl+letter still sends its code.
void Screen::createActions()
{
    const auto make = [this](const QString &text, const char *name, const QKeySequence &keys,
                             void (Screen::*slot)()) {
        auto *action = new QAction(text, this);
        action->setObjectName(QLatin1String(name));
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WidgetShortcut);
        connect(action, &QAction::triggered, this, slot);
        addAction(action);
        return action;
    };
    m_commands = {make(tr("&Find..."), "FindText", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F),
                       &Screen::showFind),
                  make(tr("Save &As..."), "SaveScreen",
                       QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), &Screen::saveAs)};
}

void Screen::addMenuActions(const QList<QAction *> &actions)
{
    for (QAction *action : actions) {
        if (!action) {
            m_menuExtras.append(nullptr); // a separator
            continue;
        }
        action->setShortcutContext(Qt::WidgetShortcut);
        addAction(action);
        m_menuExtras.append(action);
    }
}

bool Screen::isOwnShortcut(const QKeyEvent *k) const
{
    const QKeySequence pressed(k->keyCombination());
    const QList<QAction *> own = actions();
    return std::any_of(own.begin(), own.end(), [&pressed](const QAction *a) {
        return !a->shortcut().isEmpty() && a->shortcut() == pressed;
    });
}

bool Screen::event(QEvent *e)
{
    if (e->type() == QEvent::ShortcutOverride) {
        // Keys that make a character belong to the terminal, not to a window shortcut.
        const auto *k = static_cast<QKeyEvent *>(e);
        if (!isOwnShortcut(k) && keyAsciiFor(k->key(), k->modifiers(), k->text()) >= 0) {
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

// What an input method commits is typed, one character at a time, like keys; the pre-edit text
// is only shown.
void Screen::inputMethodEvent(QInputMethodEvent *e)
{
    m_preedit = e->preeditString();
    const QString committed = e->commitString();
    e->accept();
    viewport()->update();
    typeCommitted(committed);
}

void Screen::typeCommitted(const QString &text)
{
    const QPointer<Screen> alive(this);
    for (qsizetype i = 0; i < text.size() && alive; ++i) {
        char32_t ch = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            ch = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        if (ch < 32 || ch == 127)
            continue;
        int keyAscii = ch <= 255 ? int(ch) : '?';
        emit KeyPress(keyAscii);
        if (alive && keyAscii != 0)
            typeCharacter(keyAscii);
    }
}

QRect Screen::caretRect() const
{
    const qsizetype row = m_model.rowOf(m_cursor);
    const int x = m_margin + int(m_model.xOf(m_cursor) / ScreenModel::Unit);
    const int y = int(qreal(row - topRow()) * m_lineHeight);
    return QRect(viewport()->mapTo(this, QPoint(x, y)), QSize(1, int(m_lineHeight)));
}

QVariant Screen::inputMethodQuery(Qt::InputMethodQuery query) const
{
    switch (query) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImCursorRectangle:
    case Qt::ImAnchorRectangle:
        return caretRect();
    case Qt::ImFont:
        return font();
    case Qt::ImHints:
        return int(Qt::ImhNoPredictiveText | Qt::ImhMultiLine);
    case Qt::ImCursorPosition:
    case Qt::ImAnchorPosition:
    case Qt::ImSurroundingText:
    case Qt::ImCurrentSelection:
    case Qt::ImTextBeforeCursor:
    case Qt::ImTextAfterCursor:
        // Only the caret's row is offered: the screen may hold a gigabyte.
        {
            const qsizetype row = m_model.rowOf(m_cursor);
            const qsizetype start = m_model.rowStart(row);
            const QByteArrayView line =
                QByteArrayView(m_model.bytes()).sliced(start, m_model.rowContentEnd(row) - start);
            const qsizetype at = std::clamp<qsizetype>(m_cursor - start, 0, line.size());
            if (query == Qt::ImSurroundingText)
                return QString::fromLatin1(line);
            if (query == Qt::ImTextBeforeCursor)
                return QString::fromLatin1(line.first(at));
            if (query == Qt::ImTextAfterCursor)
                return QString::fromLatin1(line.sliced(at));
            if (query == Qt::ImCurrentSelection)
                return QString();
            return int(at);
        }
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
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
        if (ctrl)
            moveCaret(wordLeft(m_model.bytes(), m_cursor), shift);
        else
            moveCaret(selected && !shift ? selectionStart() : stepLeft(m_cursor), shift);
        return true;
    case Qt::Key_Right:
        if (ctrl)
            moveCaret(wordRight(m_model.bytes(), m_cursor), shift);
        else
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
    const auto [from, to] = wordAt(m_model.bytes(), pos);
    if (from == to) {
        moveCaret(pos, false);
        return;
    }
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
    // An entry of the window's may say more on hover: a disabled one says why.
    menu->setToolTipsVisible(true);
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
    menu->addSeparator();
    menu->addActions(m_commands);
    // The window's own entries follow, brought up to date by whoever owns them.
    emit contextMenuAboutToShow();
    if (!m_menuExtras.isEmpty())
        menu->addSeparator();
    for (QAction *action : std::as_const(m_menuExtras)) {
        if (action)
            menu->addAction(action);
        else
            menu->addSeparator();
    }
    return menu;
}

void Screen::saveAs()
{
    try {
        const QString path = m_saveChooser ? m_saveChooser(this) : [this] {
            QFileDialog dialog(this, tr("Save As"));
            dialog.setOption(QFileDialog::DontUseNativeDialog);
            dialog.setAcceptMode(QFileDialog::AcceptSave);
            dialog.setFileMode(QFileDialog::AnyFile);
            return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
        }();
        if (path.isEmpty())
            return;
        saveBytesAs(path, m_model.bytes());
    } catch (const std::exception &failure) {
        showMessage(this, tr("The screen was not saved. ") + describe(failure));
    }
}

void Screen::showFind()
{
    if (!m_find)
        m_find = new FindWindow(this);
    auto *find = static_cast<FindWindow *>(m_find.data());
    if (m_cursor != m_anchor && selectionEnd() - selectionStart() <= 256)
        find->findText->setText(QString::fromLatin1(selectedBytes()));
    find->show();
    find->raise();
    find->activateWindow();
    find->findText->setFocus();
    find->findText->selectAll();
}

void Screen::contextMenuEvent(QContextMenuEvent *e)
{
    const QPointer<QMenu> menu = createContextMenu();
    menu->exec(e->globalPos());
    delete menu.data();
}
