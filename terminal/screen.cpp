#include "terminal/screen.h"

#include "terminal/typedtext.h"

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
    m_sinceFrame.start();
    updateMetrics();
}

QString Screen::text() const
{
    return QString::fromLatin1(m_model.bytes());
}

void Screen::setText(const QString &text)
{
    m_model.setBytes(toLatin1Lossy(text));
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
    m_model.append(piece);
    scheduleFrame();
}

int Screen::cursorPosition() const
{
    return int(std::min<qsizetype>(m_cursor, INT_MAX));
}

void Screen::setCursorPosition(int pos)
{
    m_cursor = m_anchor = std::clamp<qsizetype>(pos, 0, m_model.length());
    m_preferredX = -1;
    m_caretShown = true;
    m_caretScrollPending = true;
    scheduleFrame();
}

void Screen::clear()
{
    m_model.clear();
    m_cursor = m_anchor = 0;
    m_caretScrollPending = true;
    frame();
}

int Screen::selectionStart() const
{
    return int(std::min(m_cursor, m_anchor));
}

int Screen::selectionEnd() const
{
    return int(std::max(m_cursor, m_anchor));
}

QByteArray Screen::selectedBytes() const
{
    return m_model.bytes().mid(selectionStart(), selectionEnd() - selectionStart());
}

void Screen::setSelection(int anchor, int position)
{
    m_anchor = std::clamp<qsizetype>(anchor, 0, m_model.length());
    moveCaret(std::clamp<qsizetype>(position, 0, m_model.length()), true);
}

void Screen::replaceSelection(QByteArrayView bytes)
{
    const qsizetype from = std::min(m_cursor, m_anchor);
    m_model.remove(from, std::max(m_cursor, m_anchor) - from);
    m_model.insert(from, bytes);
    moveCaret(from + bytes.size(), false);
}

void Screen::moveCaret(qsizetype pos, bool keepAnchor)
{
    m_cursor = pos;
    if (!keepAnchor)
        m_anchor = pos;
    m_preferredX = -1;
    m_caretScrollPending = true;
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

void Screen::updateMetrics()
{
    QFont f = font();
    // Glyphs must sit exactly where the per-character advances put them.
    f.setKerning(false);
    m_drawFont = f;
    const QFontMetricsF fm(f);
    m_lineHeight = std::ceil(fm.lineSpacing());
    m_ascent = fm.ascent();
    ScreenModel::Advances advances;
    for (int c = 0; c < 256; ++c) {
        QString glyph;
        if (c < 32)
            glyph = QChar(0x2400 + c);
        else if (c == 127)
            glyph = QChar(0x2421);
        else if (c >= 128 && c < 160)
            glyph = QString::number(c, 16).toUpper();
        else
            glyph = QChar(c);
        m_symbol[c] = c < 32 || (c >= 127 && c < 160);
        m_glyphs[c] = glyph;
        qreal w = fm.horizontalAdvance(glyph);
        if (c >= 128 && c < 160)
            w += 4; // room for the frame that tells a code from the text "80"
        advances[c] = qint32(std::lround(w * Unit));
    }
    m_glyphs['\t'].clear();
    const qint32 tabStop = qint32(std::lround(8 * fm.horizontalAdvance(QLatin1Char(' ')) * Unit));
    const qsizetype topChar = m_model.rowStart(topRow());
    m_model.setLayout(advances, tabStop, std::max(viewport()->width() - 2 * m_margin, 8) * Unit);
    syncScrollBar();
    verticalScrollBar()->setValue(int(m_model.rowOf(topChar)));
    viewport()->update();
}

void Screen::updateWrapWidth()
{
    const qint64 width = qint64(std::max(viewport()->width() - 2 * m_margin, 8)) * Unit;
    if (width != m_model.wrapWidth()) {
        const qsizetype topChar = m_model.rowStart(topRow());
        m_model.setWrapWidth(width);
        syncScrollBar();
        verticalScrollBar()->setValue(int(m_model.rowOf(topChar)));
    } else {
        syncScrollBar();
    }
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

void Screen::paintEvent(QPaintEvent *e)
{
    QPainter p(viewport());
    p.setFont(m_drawFont);
    const int top = topRow();
    const int first = top + int(e->rect().top() / m_lineHeight);
    const int last = top + int(e->rect().bottom() / m_lineHeight);
    const qsizetype selStart = selectionStart();
    const qsizetype selEnd = selectionEnd();
    for (qsizetype row = first; row <= last && row < m_model.rowCount(); ++row)
        paintRow(p, row, (row - top) * m_lineHeight, selStart, selEnd);

    if (hasFocus() && m_caretShown) {
        const qsizetype row = m_model.rowOf(m_cursor);
        if (row >= top && row <= last) {
            const qreal x = m_margin + qreal(m_model.xOf(m_cursor)) / Unit;
            p.fillRect(QRectF(x, (row - top) * m_lineHeight, 1, m_lineHeight),
                       palette().color(QPalette::Text));
        }
    }
}

// Draws one row: plain characters in runs, control codes as dim symbols, tabs as space.
void Screen::paintRow(QPainter &p, qsizetype row, qreal y, qsizetype selStart, qsizetype selEnd)
{
    const char *t = m_model.bytes().constData();
    const qsizetype start = m_model.rowStart(row);
    const qsizetype end = m_model.rowContentEnd(row);
    const QPalette &pal = palette();

    if (selStart < selEnd && selStart <= end && selEnd > start) {
        qint64 x = 0, x0 = -1, x1 = -1;
        for (qsizetype i = start; i <= end; ++i) {
            if (i == std::max(selStart, start))
                x0 = x;
            if (i == std::min(selEnd, end))
                x1 = x;
            if (i < end)
                x += m_model.advance(uchar(t[i]), x);
        }
        // A selected line break shows as a blank's width of selection.
        if (selEnd > end && (row + 1 < m_model.rowCount() && m_model.rowStartsLine(row + 1)))
            x1 += m_model.advance(' ', 0);
        if (x0 >= 0 && x1 > x0)
            p.fillRect(QRectF(m_margin + qreal(x0) / Unit, y, qreal(x1 - x0) / Unit, m_lineHeight),
                       pal.color(QPalette::Highlight));
    }

    const qreal baseline = y + m_ascent;
    QColor dim = pal.color(QPalette::Text);
    dim.setAlpha(110);
    QColor dimSelected = pal.color(QPalette::HighlightedText);
    dimSelected.setAlpha(150);
    QString run;
    qint64 runX = 0;
    bool runSelected = false;
    const auto flush = [this, &p, &run, &runX, &runSelected, &pal, baseline]() {
        if (run.isEmpty())
            return;
        p.setPen(pal.color(runSelected ? QPalette::HighlightedText : QPalette::Text));
        p.drawText(QPointF(m_margin + qreal(runX) / Unit, baseline), run);
        run.clear();
    };
    qint64 x = 0;
    for (qsizetype i = start; i < end; ++i) {
        const uchar c = uchar(t[i]);
        const qint32 a = m_model.advance(c, x);
        const bool selected = i >= selStart && i < selEnd;
        if (m_symbol[c] || c == '\t') {
            flush();
            if (c != '\t') {
                const qreal left = m_margin + qreal(x) / Unit;
                p.setPen(selected ? dimSelected : dim);
                if (c >= 128) {
                    p.drawRect(QRectF(left + 0.5, y + 1.5, qreal(a) / Unit - 1, m_lineHeight - 3));
                    p.drawText(QPointF(left + 2, baseline), m_glyphs[c]);
                } else {
                    p.drawText(QPointF(left, baseline), m_glyphs[c]);
                }
            }
        } else {
            if (!run.isEmpty() && selected != runSelected)
                flush();
            if (run.isEmpty()) {
                runX = x;
                runSelected = selected;
            }
            run.append(QChar(c));
        }
        x += a;
    }
    flush();
}
