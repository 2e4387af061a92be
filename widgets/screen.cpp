#include "widgets/screen.h"

#include "terminal/typedtext.h"
#include "widgets/screenaccessible.h"

#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleHints>
#include <cmath>

namespace {
// Appends repaint at most this often: a fast stream must not spend its time painting.
constexpr int FrameMs = 16;
constexpr qint32 Unit = ScreenModel::Unit;
} // namespace

Screen::Screen(QWidget *parent) : QAbstractScrollArea(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    verticalScrollBar()->setSingleStep(1);
    setAttribute(Qt::WA_InputMethodEnabled);
    m_model.setLimit(screenLimitFromEnvironment());
    installScreenAccessibility();
    m_sinceFrame.start();
    updateMetrics();
}

QString Screen::text() const
{
    return QString::fromLatin1(m_model.bytes());
}

void Screen::setText(const QString &text)
{
    m_droppedTotal += m_model.setBytes(toLatin1Lossy(text));
    m_cursor = m_anchor = 0;
    m_caretScrollPending = true;
    scheduleFrame();
}

QByteArray Screen::bytes() const
{
    return m_model.bytes();
}

qsizetype Screen::length() const
{
    return m_model.length();
}

void Screen::append(QByteArrayView piece)
{
    if (piece.isEmpty())
        return;
    const qsizetype at = m_model.length();
    const qsizetype topChar = m_model.rowStart(topRow());
    const qsizetype dropped = m_model.append(piece);
    followTrim(dropped, topChar);
    announceInsert(this, at - dropped, piece);
    scheduleFrame();
}

void Screen::followTrim(qsizetype dropped, qsizetype topChar)
{
    if (dropped <= 0)
        return;
    m_droppedTotal += dropped;
    m_cursor = std::max<qsizetype>(m_cursor - dropped, 0);
    m_anchor = std::max<qsizetype>(m_anchor - dropped, 0);
    syncScrollBar();
    verticalScrollBar()->setValue(int(m_model.rowOf(std::max<qsizetype>(topChar - dropped, 0))));
}

int Screen::cursorPositionProperty() const
{
    return int(std::min<qsizetype>(m_cursor, INT_MAX));
}

void Screen::setCursorPosition(qsizetype pos)
{
    m_cursor = m_anchor = std::clamp<qsizetype>(pos, 0, m_model.length());
    m_preferredX = -1;
    m_caretShown = true;
    m_caretScrollPending = true;
    announceCaret(this);
    scheduleFrame();
}

void Screen::clear()
{
    m_model.clear();
    m_cursor = m_anchor = 0;
    m_caretScrollPending = true;
    frame();
}

QByteArray Screen::selectedBytes() const
{
    return m_model.bytes().mid(selectionStart(), selectionEnd() - selectionStart());
}

void Screen::setSelection(qsizetype anchor, qsizetype position)
{
    m_anchor = std::clamp<qsizetype>(anchor, 0, m_model.length());
    moveCaret(std::clamp<qsizetype>(position, 0, m_model.length()), true);
}

void Screen::replaceSelection(QByteArrayView bytes)
{
    const qsizetype from = std::min(m_cursor, m_anchor);
    const qsizetype topChar = m_model.rowStart(topRow());
    m_model.remove(from, std::max(m_cursor, m_anchor) - from);
    const qsizetype dropped = m_model.insert(from, bytes);
    followTrim(dropped, topChar);
    moveCaret(std::max<qsizetype>(from + bytes.size() - dropped, 0), false);
}

void Screen::moveCaret(qsizetype pos, bool keepAnchor)
{
    m_cursor = pos;
    if (!keepAnchor)
        m_anchor = pos;
    m_preferredX = -1;
    m_caretScrollPending = true;
    announceCaret(this);
    restartBlink();
    frame();
}

qsizetype Screen::stepLeft(qsizetype pos) const
{
    pos = std::max<qsizetype>(pos - 1, 0);
    return m_model.insideBreak(pos) ? pos - 1 : pos;
}

qsizetype Screen::stepRight(qsizetype pos) const
{
    pos = std::min(pos + 1, m_model.length());
    return m_model.insideBreak(pos) ? pos + 1 : pos;
}

qint64 Screen::wrapWidth() const
{
    return qint64(std::max(viewport()->width() - 2 * m_margin, 8)) * Unit;
}

void Screen::relayoutKeepingTop(const std::function<void()> &relayout)
{
    // The character at the top of the view stays there, whatever the rows become.
    const qsizetype topChar = m_model.rowStart(topRow());
    relayout();
    syncScrollBar();
    verticalScrollBar()->setValue(int(m_model.rowOf(topChar)));
}

void Screen::updateWrapWidth()
{
    const qint64 width = wrapWidth();
    if (width != m_model.wrapWidth())
        relayoutKeepingTop([this, width] { m_model.setWrapWidth(width); });
    else
        syncScrollBar();
    viewport()->update();
}

void Screen::scheduleFrame()
{
    if (m_framePending)
        return;
    m_framePending = true;
    const qint64 since = m_sinceFrame.elapsed();
    m_frameTimer.start(since >= FrameMs ? 0 : int(FrameMs - since), this);
}

void Screen::frame()
{
    m_framePending = false;
    m_frameTimer.stop();
    syncScrollBar();
    if (m_caretScrollPending) {
        m_caretScrollPending = false;
        ensureCaretVisible();
    }
    viewport()->update();
    m_sinceFrame.restart();
}

void Screen::syncScrollBar()
{
    const int page = pageRows();
    const qsizetype maxTop = std::max<qsizetype>(m_model.rowCount() - page, 0);
    QScrollBar *bar = verticalScrollBar();
    bar->setPageStep(page);
    bar->setRange(0, int(std::min<qsizetype>(maxTop, INT_MAX)));
}

void Screen::ensureCaretVisible()
{
    const qsizetype row = m_model.rowOf(m_cursor);
    const int top = topRow();
    const int page = pageRows();
    if (row < top)
        verticalScrollBar()->setValue(int(row));
    else if (row >= top + page)
        verticalScrollBar()->setValue(int(row - page + 1));
}

int Screen::pageRows() const
{
    return std::max(1, int(viewport()->height() / m_lineHeight));
}

int Screen::topRow() const
{
    return int(std::clamp<qsizetype>(verticalScrollBar()->value(), 0, m_model.rowCount() - 1));
}

void Screen::restartBlink()
{
    m_caretShown = true;
    const int flash = QGuiApplication::styleHints()->cursorFlashTime();
    if (hasFocus() && flash > 0)
        m_blinkTimer.start(flash / 2, this);
    else
        m_blinkTimer.stop();
}

void Screen::timerEvent(QTimerEvent *e)
{
    if (e->timerId() == m_frameTimer.timerId()) {
        frame();
    } else if (e->timerId() == m_blinkTimer.timerId()) {
        m_caretShown = !m_caretShown;
        viewport()->update();
    } else {
        QAbstractScrollArea::timerEvent(e);
    }
}

void Screen::scrollContentsBy(int, int)
{
    viewport()->update();
}

void Screen::resizeEvent(QResizeEvent *e)
{
    QAbstractScrollArea::resizeEvent(e);
    updateWrapWidth();
}

void Screen::changeEvent(QEvent *e)
{
    QAbstractScrollArea::changeEvent(e);
    if (e->type() == QEvent::FontChange)
        updateMetrics();
}

void Screen::focusInEvent(QFocusEvent *e)
{
    QAbstractScrollArea::focusInEvent(e);
    restartBlink();
    viewport()->update();
}

void Screen::focusOutEvent(QFocusEvent *e)
{
    QAbstractScrollArea::focusOutEvent(e);
    m_blinkTimer.stop();
    viewport()->update();
}
