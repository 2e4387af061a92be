// How the screen draws its rows.
#include "widgets/screen.h"

#include "terminal/rowtime.h"
#include "terminal/screenbytes.h"

#include <QGlyphRun>
#include <QHelpEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextLayout>
#include <QToolTip>
#include <algorithm>
#include <cmath>

namespace {
constexpr qint32 Unit = ScreenModel::Unit;
} // namespace

// Glyphs of the rows in view, gathered by font and colour so that a whole paint takes a few
// draw calls and no text shaping.
struct Screen::GlyphBatch
{
    enum Colour { Plain, Selected, Dim, DimSelected, Colours };
    struct Bucket
    {
        QList<quint32> indexes;
        QList<QPointF> positions;
    };
    QList<Bucket> buckets; // font * Colours + colour
    QList<QRectF> frames[2];
};

// Finds the glyphs for text in the screen's font or a fallback; false when no font has them.
bool Screen::shapeGlyph(const QString &text, Glyph &g, qreal &width)
{
    QTextLayout layout(text, m_drawFont);
    layout.beginLayout();
    const QTextLine line = layout.createLine();
    layout.endLayout();
    const qreal pad = g.framed ? 2 : 0;
    width = line.naturalTextWidth() + 2 * pad;
    const QList<QGlyphRun> runs = layout.glyphRuns();
    if (runs.isEmpty() || runs.first().glyphIndexes().isEmpty())
        return false;
    const QGlyphRun &run = runs.first();
    qsizetype font = m_rawFonts.indexOf(run.rawFont());
    if (font < 0) {
        font = m_rawFonts.size();
        m_rawFonts.append(run.rawFont());
    }
    g.font = int(font);
    g.count = int(std::min<qsizetype>(run.glyphIndexes().size(), 2));
    for (int k = 0; k < g.count; ++k) {
        g.index[k] = run.glyphIndexes()[k];
        g.dx[k] = run.positions()[k].x() + pad;
    }
    return g.index[0] != 0;
}

void Screen::updateMetrics()
{
    QFont f = font();
    f.setKerning(false);
    m_drawFont = f;
    const QFontMetricsF fm(f);
    m_lineHeight = std::ceil(fm.lineSpacing());
    m_ascent = fm.ascent();
    m_rawFonts.clear();
    ScreenModel::Advances advances;
    for (int c = 0; c < 256; ++c) {
        const auto byte = uchar(c);
        Glyph g;
        g.dim = isDimByte(byte);
        g.framed = isFramedByte(byte);
        qreal width = 0;
        if (!shapeGlyph(g.framed ? hexText(byte) : QString(shownChar(byte)), g, width) && g.dim) {
            // No font here has the control picture: show the code in a frame instead.
            g.framed = true;
            shapeGlyph(hexText(byte), g, width);
        }
        if (c == '\t' || c == '\r' || c == '\n')
            g.count = 0;
        m_glyphs[c] = g;
        advances[c] = qint32(std::lround(width * Unit));
    }
    const qint32 tabStop = qint32(std::lround(8 * fm.horizontalAdvance(QLatin1Char(' ')) * Unit));
    relayoutKeepingTop(
        [this, &advances, tabStop] { m_model.setLayout(advances, tabStop, wrapWidth()); });
    viewport()->update();
    caretChange();
}

void Screen::paintEvent(QPaintEvent *e)
{
    QPainter p(viewport());
    const int top = topRow();
    // The rows under each exposed rectangle: an old caret at the top and new rows at the bottom
    // do not make every row between them painted.
    QList<std::pair<qsizetype, qsizetype>> spans;
    for (const QRect &r : e->region())
        spans.append(
            {top + qsizetype(r.top() / m_lineHeight), top + qsizetype(r.bottom() / m_lineHeight)});
    std::sort(spans.begin(), spans.end());
    const qsizetype selStart = selectionStart();
    const qsizetype selEnd = selectionEnd();
    GlyphBatch batch;
    batch.buckets.resize(m_rawFonts.size() * GlyphBatch::Colours);
    qsizetype next = 0; // the first row not yet painted
    for (const auto &[first, last] : spans) {
        for (qsizetype row = std::max(first, next); row <= last && row < m_model.rowCount(); ++row)
            paintRow(p, batch, row, qreal(row - top) * m_lineHeight, selStart, selEnd);
        next = std::max(next, last + 1);
    }

    // Selection backgrounds are painted by paintRow; glyphs and frames go on top.
    const QPalette &pal = palette();
    QColor colours[GlyphBatch::Colours] = {
        pal.color(QPalette::Text), pal.color(QPalette::HighlightedText), pal.color(QPalette::Text),
        pal.color(QPalette::HighlightedText)};
    colours[GlyphBatch::Dim].setAlpha(110);
    colours[GlyphBatch::DimSelected].setAlpha(150);
    for (qsizetype b = 0; b < batch.buckets.size(); ++b) {
        const GlyphBatch::Bucket &bucket = batch.buckets[b];
        if (bucket.indexes.isEmpty())
            continue;
        QGlyphRun run;
        run.setRawFont(m_rawFonts[b / GlyphBatch::Colours]);
        run.setGlyphIndexes(bucket.indexes);
        run.setPositions(bucket.positions);
        p.setPen(colours[b % GlyphBatch::Colours]);
        p.drawGlyphRun(QPointF(0, 0), run);
    }
    for (int selected = 0; selected < 2; ++selected) {
        if (batch.frames[selected].isEmpty())
            continue;
        p.setPen(colours[GlyphBatch::Dim + selected]);
        p.setBrush(Qt::NoBrush);
        p.drawRects(batch.frames[selected].constData(), int(batch.frames[selected].size()));
    }

    if (hasFocus() && m_caretShown && m_caretRow >= top) {
        p.fillRect(QRectF(m_caretX, qreal(m_caretRow - top) * m_lineHeight, 1, m_lineHeight),
                   pal.color(QPalette::Text));
    }
    if (!m_preedit.isEmpty()) {
        // What an input method is composing shows underlined at the caret; it is not text yet.
        const QRect caret = caretRect().translated(-viewport()->pos());
        QFont underlined = m_drawFont;
        underlined.setUnderline(true);
        p.setFont(underlined);
        p.setPen(pal.color(QPalette::Text));
        const QRect box(caret.left(), caret.top(), viewport()->width() - caret.left(),
                        caret.height());
        p.fillRect(QRect(box.topLeft(), QFontMetrics(underlined).size(0, m_preedit)),
                   pal.color(QPalette::Base));
        p.drawText(box, Qt::AlignLeft | Qt::AlignVCenter, m_preedit);
    }
}

// Paints the row's selection and gathers its glyphs; tabs and line breaks draw nothing.
void Screen::paintRow(QPainter &p, GlyphBatch &batch, qsizetype row, qreal y, qsizetype selStart,
                      qsizetype selEnd)
{
    const char *t = m_model.bytes().constData();
    const qsizetype start = m_model.rowStart(row);
    const qsizetype end = m_model.rowContentEnd(row);

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
        if (selEnd > end && row + 1 < m_model.rowCount() && m_model.rowStartsLine(row + 1))
            x1 += m_model.advance(' ', 0);
        if (x0 >= 0 && x1 > x0) {
            p.fillRect(QRectF(m_margin + qreal(x0) / Unit, y, qreal(x1 - x0) / Unit, m_lineHeight),
                       palette().color(QPalette::Highlight));
        }
    }

    const qreal baseline = y + m_ascent;
    qint64 x = 0;
    for (qsizetype i = start; i < end; ++i) {
        const uchar c = uchar(t[i]);
        const qint32 a = m_model.advance(c, x);
        const Glyph &g = m_glyphs[c];
        if (g.count > 0) {
            const int selected = i >= selStart && i < selEnd;
            const int colour = (g.dim ? GlyphBatch::Dim : GlyphBatch::Plain) + selected;
            GlyphBatch::Bucket &bucket = batch.buckets[g.font * GlyphBatch::Colours + colour];
            const qreal left = m_margin + qreal(x) / Unit;
            for (int k = 0; k < g.count; ++k) {
                bucket.indexes.append(g.index[k]);
                bucket.positions.append(QPointF(left + g.dx[k], baseline));
            }
            if (g.framed)
                batch.frames[selected].append(
                    QRectF(left + 0.5, y + 1.5, qreal(a) / Unit - 1, m_lineHeight - 3));
        }
        x += a;
    }
}

// Hovering over a row tells when its first byte came, and how long after the row before it.
bool Screen::viewportEvent(QEvent *e)
{
    if (e->type() != QEvent::ToolTip)
        return QAbstractScrollArea::viewportEvent(e);
    const auto *help = static_cast<QHelpEvent *>(e);
    const qsizetype row = topRow() + qsizetype(std::floor(help->pos().y() / m_lineHeight));
    // The empty last row has no byte yet.
    const bool held = row < m_model.rowCount() && m_model.rowStart(row) < m_model.length();
    const QString text =
        held ? rowTimeText(m_model.rowTime(row), row > 0 ? m_model.rowTime(row - 1) : 0)
             : QString();
    if (text.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(help->globalPos(), text, viewport(), rowsRect(row, row + 1));
    return true;
}
