#include "widgets/screen.h"

#include "terminal/typedtext.h"
#include "widgets/screenaccessible.h"

#include <QDateTime>
#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleHints>
#include <QStyleOptionSlider>
#include <cmath>

namespace {
// Appends repaint at most this often: a fast stream must not spend its time painting.
constexpr int FrameMs = 16;
// A trickle of small pieces is gathered into a frame this long after the last one: a line's pace
// costs little, and a received byte is still on screen within 50 ms.
constexpr int TrickleMs = 40;
// A frame due this soon is drawn now: the port hands over a trickle in batches on about the same
// beat, and a batch waiting for the last few milliseconds of a frame's beat would both cost a
// wake-up more and show its bytes that much later.
constexpr int SlackMs = 10;
// This much text waiting for its frame is a flood: it keeps the frame's usual rhythm.
constexpr qsizetype FloodBytes = 4096;

// A scroll bar that repaints only when what it shows changes. At a line's pace its range grows
// with every frame while its handle stays put for many of them, and the style's gradients are
// dear to paint.
class ScreenScrollBar : public QScrollBar
{
public:
    using QScrollBar::QScrollBar;

    // A frame's changes of range and value, held back and then repainted once if the bar's look
    // changed: the range grows first, and the value then takes the handle back where it was.
    void hold() { m_held = true; }
    void release()
    {
        m_held = false;
        if (lookChanged())
            update();
    }

protected:
    void sliderChange(SliderChange change) override
    {
        if (!m_held && lookChanged())
            QScrollBar::sliderChange(change);
    }

private:
    bool lookChanged()
    {
        QStyleOptionSlider option;
        initStyleOption(&option);
        const QRect handle = style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                                     QStyle::SC_ScrollBarSlider, this);
        const int ends = (value() == minimum() ? 1 : 0) | (value() == maximum() ? 2 : 0) |
                         (minimum() == maximum() ? 4 : 0);
        if (m_known && handle == m_handle && ends == m_ends)
            return false;
        m_known = true;
        m_handle = handle;
        m_ends = ends;
        return true;
    }

    bool m_held = false;
    bool m_known = false;
    QRect m_handle;
    int m_ends = 0;
};
} // namespace

Screen::Screen(QWidget *parent) : QAbstractScrollArea(parent)
{
    setVerticalScrollBar(new ScreenScrollBar(Qt::Vertical, this));
    setFocusPolicy(Qt::StrongFocus);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    verticalScrollBar()->setSingleStep(1);
    setAttribute(Qt::WA_InputMethodEnabled);
    m_model.setLimit(screenLimitFromEnvironment());
    installScreenAccessibility();
    createActions();
    m_sinceFrame.start();
    updateMetrics();
}

QString Screen::text() const
{
    return QString::fromLatin1(m_model.bytes());
}

void Screen::setText(const QString &text)
{
    ++m_rewrites;
    m_droppedTotal += m_model.setBytes(toLatin1Lossy(text), QDateTime::currentMSecsSinceEpoch());
    m_cursor = m_anchor = 0;
    m_caretScrollPending = true;
    m_repaintAll = true;
    scheduleFrame();
}

QByteArray Screen::bytes() const
{
    return m_model.bytes().toByteArray();
}

qsizetype Screen::length() const
{
    return m_model.length();
}

void Screen::append(QByteArrayView piece)
{
    append(piece, QDateTime::currentMSecsSinceEpoch());
}

void Screen::append(QByteArrayView piece, qint64 arrivedMs)
{
    if (piece.isEmpty())
        return;
    const qsizetype at = m_model.length();
    const qsizetype topChar = m_model.rowStart(topRow());
    // Only the last row, or the one before it when a CR may now join its LF, can change.
    const qsizetype lastRow = m_model.rowCount() - 1;
    const bool crEnds = at > 0 && m_model.bytes().back() == '\r';
    const qsizetype from = std::max<qsizetype>(lastRow - (crEnds ? 1 : 0), 0);
    m_changedFrom = m_changedFrom < 0 ? from : std::min(m_changedFrom, from);
    const qsizetype dropped = m_model.append(piece, arrivedMs);
    if (dropped > 0)
        m_repaintAll = true; // the oldest rows went: every row moved
    followTrim(dropped, topChar);
    announceInsert(this, at - dropped, piece);
    m_pendingBytes += piece.size();
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
    if (m_cursor != m_anchor)
        m_repaintAll = true; // the selection goes
    m_cursor = m_anchor = std::clamp<qsizetype>(pos, 0, m_model.length());
    m_preferredX = -1;
    m_caretShown = true;
    m_caretScrollPending = true;
    announceCaret(this);
    scheduleFrame();
}

void Screen::clear()
{
    ++m_rewrites;
    m_model.clear();
    m_cursor = m_anchor = 0;
    m_caretScrollPending = true;
    m_repaintAll = true;
    frame();
}

QByteArray Screen::selectedBytes() const
{
    return m_model.bytes()
        .sliced(selectionStart(), selectionEnd() - selectionStart())
        .toByteArray();
}

void Screen::setSelection(qsizetype anchor, qsizetype position)
{
    m_anchor = std::clamp<qsizetype>(anchor, 0, m_model.length());
    m_repaintAll = true;
    moveCaret(std::clamp<qsizetype>(position, 0, m_model.length()), true);
}

void Screen::replaceSelection(QByteArrayView bytes)
{
    ++m_rewrites;
    const qsizetype from = std::min(m_cursor, m_anchor);
    const qsizetype topChar = m_model.rowStart(topRow());
    m_model.remove(from, std::max(m_cursor, m_anchor) - from);
    const qsizetype dropped = m_model.insert(from, bytes, QDateTime::currentMSecsSinceEpoch());
    followTrim(dropped, topChar);
    m_repaintAll = true;
    moveCaret(std::max<qsizetype>(from + bytes.size() - dropped, 0), false);
}

void Screen::moveCaret(qsizetype pos, bool keepAnchor)
{
    // A selection's rows are repainted whole; a lone caret only where it was and where it goes.
    if (m_cursor != m_anchor || (keepAnchor && pos != m_anchor))
        m_repaintAll = true;
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
    return qint64(std::max(viewport()->width() - 2 * m_margin, 8)) * ScreenModel::Unit;
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
    caretChange();
}

void Screen::scheduleFrame()
{
    const bool flood = m_pendingBytes >= FloodBytes;
    if (m_framePending && (m_floodFrame || !flood))
        return;
    const qint64 since = m_sinceFrame.elapsed();
    m_framePending = true;
    m_floodFrame = flood;
    int delay = 0;
    if (flood)
        delay = since >= FrameMs ? 0 : int(FrameMs - since);
    else if (since < TrickleMs - SlackMs)
        delay = int(TrickleMs - since); // after a pause (a typed key's echo) it shows now
    m_frameTimer.start(delay, this);
}

void Screen::frame()
{
    m_framePending = false;
    m_frameTimer.stop();
    m_pendingBytes = 0;
    // Scrolling first moves the pixels already drawn; then the rows that changed are drawn anew.
    auto *bar = static_cast<ScreenScrollBar *>(verticalScrollBar());
    bar->hold();
    syncScrollBar();
    if (m_caretScrollPending) {
        m_caretScrollPending = false;
        ensureCaretVisible();
    }
    bar->release();
    QRegion dirty;
    if (m_repaintAll) {
        dirty = viewport()->rect();
    } else if (m_changedFrom >= 0) {
        // Rows that a relayout took away leave blank space to paint too.
        dirty = rowsRect(m_changedFrom, std::max(m_model.rowCount(), m_rowsAtFrame));
    }
    dirty += caretChange();
    if (!dirty.isEmpty())
        viewport()->update(dirty);
    m_repaintAll = false;
    m_changedFrom = -1;
    m_rowsAtFrame = m_model.rowCount();
    m_sinceFrame.restart();
}

// The rows from..to-1 in the view, as far as they are in view.
QRect Screen::rowsRect(qsizetype from, qsizetype to) const
{
    const qsizetype top = topRow();
    const qsizetype first = std::max(from, top);
    const qsizetype end = std::min<qsizetype>(to, top + pageRows() + 1);
    if (first >= end)
        return {};
    const int y0 = int(std::floor(qreal(first - top) * m_lineHeight));
    const int y1 = int(std::ceil(qreal(end - top) * m_lineHeight));
    return {0, y0, viewport()->width(), y1 - y0};
}

// The pixels a caret at (row, x) covers in the view, with a pixel to spare on each side.
QRect Screen::caretRect(qsizetype row, qreal x) const
{
    const qreal y = qreal(row - topRow()) * m_lineHeight;
    return QRect(int(std::floor(x)) - 1, int(std::floor(y)), 3, int(std::ceil(m_lineHeight)));
}

// Records where the caret is now and returns what to repaint: where it was drawn and where it
// goes. It is drawn only where recorded, so that no paint in between leaves a caret behind.
QRegion Screen::caretChange()
{
    const qsizetype row = m_model.rowOf(m_cursor);
    const qreal x = m_margin + qreal(m_model.xOf(m_cursor)) / ScreenModel::Unit;
    if (row == m_caretRow && x == m_caretX)
        return {};
    QRegion changed(caretRect(m_caretRow, m_caretX));
    changed += caretRect(row, x);
    m_caretRow = row;
    m_caretX = x;
    return changed;
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
        viewport()->update(caretRect(m_caretRow, m_caretX));
    } else {
        QAbstractScrollArea::timerEvent(e);
    }
}

void Screen::scrollContentsBy(int, int dy)
{
    // Move what is drawn; only the rows scrolled into view are painted.
    const qreal pixels = qreal(dy) * m_lineHeight;
    if (std::abs(pixels) >= viewport()->height() || pixels != std::round(pixels))
        viewport()->update();
    else
        viewport()->scroll(0, int(pixels));
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
    viewport()->update(caretRect(m_caretRow, m_caretX));
}

void Screen::focusOutEvent(QFocusEvent *e)
{
    QAbstractScrollArea::focusOutEvent(e);
    m_blinkTimer.stop();
    viewport()->update(caretRect(m_caretRow, m_caretX));
}
