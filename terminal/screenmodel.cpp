#include "terminal/screenmodel.h"

#include <algorithm>

namespace {

// What a byte does to layout; tabs and line breaks take the slow path.
enum class Kind : uchar { Plain, Blank, Tab, Break };

constexpr std::array<Kind, 256> makeKindTable()
{
    std::array<Kind, 256> table{};
    table[' '] = Kind::Blank;
    table['\t'] = Kind::Tab;
    table['\r'] = Kind::Break;
    table['\n'] = Kind::Break;
    return table;
}

constexpr std::array<Kind, 256> kinds = makeKindTable();

} // namespace

ScreenModel::ScreenModel()
{
    m_advances.fill(Unit);
    m_rows.append(LineFlag);
}

void ScreenModel::setLayout(const Advances &advances, qint32 tabStop, qint64 wrapWidth)
{
    // A zero advance would let one row take any number of characters.
    for (int c = 0; c < 256; ++c)
        m_advances[c] = std::max<qint32>(advances[c], 1);
    m_tabStop = std::max<qint32>(tabStop, 0);
    m_wrapWidth = wrapWidth > 0 ? wrapWidth : NoWrap;
    layoutAll();
}

void ScreenModel::setWrapWidth(qint64 wrapWidth)
{
    if (wrapWidth <= 0)
        wrapWidth = NoWrap;
    if (wrapWidth == m_wrapWidth)
        return;
    m_wrapWidth = wrapWidth;
    layoutAll();
}

void ScreenModel::setBytes(const QByteArray &bytes)
{
    if (bytes.isEmpty()) {
        clear();
        return;
    }
    m_text = bytes;
    layoutAll();
}

void ScreenModel::clear()
{
    // Give the memory back: a cleared screen may have held a long session.
    m_text = QByteArray();
    m_rows = QList<qint64>();
    layoutAll();
}

void ScreenModel::append(QByteArrayView piece)
{
    const qsizetype len = m_text.size();
    if (piece.isEmpty())
        return;
    if (piece.data() >= m_text.constData() && piece.data() < m_text.constData() + len) {
        insert(len, piece);
        return;
    }
    // Appending changes no character already held, so every row but the last stays as it is;
    // only a final CR may still join an LF that arrives now.
    qsizetype firstRow = m_rows.size() - 1;
    if (firstRow > 0 && rowStart(firstRow) == len && m_text[len - 1] == '\r')
        --firstRow;
    m_text.append(piece);
    relayout(firstRow, len + piece.size(), piece.size());
}

void ScreenModel::insert(qsizetype pos, QByteArrayView piece)
{
    if (piece.isEmpty())
        return;
    const qsizetype len = m_text.size();
    pos = std::clamp<qsizetype>(pos, 0, len);
    if (piece.data() >= m_text.constData() && piece.data() < m_text.constData() + len) {
        const QByteArray copy = piece.toByteArray();
        insert(pos, copy);
        return;
    }
    // The row before the one holding the edit may take back a word, so it is laid out again too.
    const qsizetype firstRow = std::max<qsizetype>(rowOf(std::max<qsizetype>(pos - 1, 0)) - 1, 0);
    if (pos == len)
        m_text.append(piece);
    else
        m_text.insert(pos, piece);
    relayout(firstRow, pos + piece.size(), piece.size());
}

void ScreenModel::remove(qsizetype pos, qsizetype count)
{
    const qsizetype len = m_text.size();
    pos = std::clamp<qsizetype>(pos, 0, len);
    count = std::min(count, len - pos);
    if (count <= 0)
        return;
    const qsizetype firstRow = std::max<qsizetype>(rowOf(std::max<qsizetype>(pos - 1, 0)) - 1, 0);
    m_text.remove(pos, count);
    relayout(firstRow, pos, -count);
}

qsizetype ScreenModel::rowContentEnd(qsizetype row) const
{
    if (row + 1 >= m_rows.size())
        return m_text.size();
    const qsizetype next = rowStart(row + 1);
    if (!rowStartsLine(row + 1))
        return next;
    if (m_text[next - 1] == '\n' && next - 2 >= rowStart(row) && m_text[next - 2] == '\r')
        return next - 2;
    return next - 1;
}

qsizetype ScreenModel::rowOf(qsizetype pos) const
{
    const auto it = std::upper_bound(m_rows.cbegin(), m_rows.cend(), pos,
                                     [](qsizetype p, qint64 e) { return p < (e & OffsetMask); });
    return std::max<qsizetype>(it - m_rows.cbegin() - 1, 0);
}

qint64 ScreenModel::xOf(qsizetype pos) const
{
    const qsizetype row = rowOf(pos);
    const qsizetype end = std::min(pos, rowContentEnd(row));
    qint64 x = 0;
    for (qsizetype i = rowStart(row); i < end; ++i)
        x += advance(uchar(m_text[i]), x);
    return x;
}

qsizetype ScreenModel::posAt(qsizetype row, qint64 x) const
{
    row = std::clamp<qsizetype>(row, 0, m_rows.size() - 1);
    const qsizetype start = rowStart(row);
    qsizetype limit = rowContentEnd(row);
    // A caret after the last character of a wrapped row would show on the next row.
    if (row + 1 < m_rows.size() && !rowStartsLine(row + 1))
        limit = std::max(start, limit - 1);
    qint64 cx = 0;
    for (qsizetype i = start; i < limit; ++i) {
        const qint32 a = advance(uchar(m_text[i]), cx);
        if (x < cx + a / 2)
            return i;
        cx += a;
    }
    return limit;
}

bool ScreenModel::insideBreak(qsizetype pos) const
{
    return pos > 0 && pos < m_text.size() && m_text[pos - 1] == '\r' && m_text[pos] == '\n';
}

void ScreenModel::layoutAll()
{
    m_rows.clear();
    m_rows.append(LineFlag);
    m_lineCount = 1;
    relayout(0, m_text.size(), 0);
    m_rows.squeeze();
}

// Lays rows out again from firstRow on. Past editEnd, a row start that matches an old one
// (shifted by delta) means all later rows are unchanged, so they are kept.
void ScreenModel::relayout(qsizetype firstRow, qsizetype editEnd, qsizetype delta)
{
    const QList<qint64> old = m_rows.mid(firstRow + 1);
    for (const qint64 e : old)
        m_lineCount -= (e & LineFlag) ? 1 : 0;
    m_rows.resize(firstRow + 1);

    const char *t = m_text.constData();
    const qsizetype len = m_text.size();
    const qint64 width = m_wrapWidth;
    const qint32 *advances = m_advances.data();
    auto searchFrom = old.cbegin();
    qsizetype s = rowStart(firstRow);
    for (;;) {
        qint64 x = 0;
        qsizetype lastBlank = -1;
        qsizetype next = -1;
        bool line = false;
        for (qsizetype i = s; i < len; ++i) {
            const uchar c = uchar(t[i]);
            const Kind kind = kinds[c];
            qint32 a = advances[c];
            if (kind > Kind::Blank) [[unlikely]] {
                if (kind == Kind::Tab) {
                    a = advance(c, x);
                } else {
                    next = (c == '\r' && i + 1 < len && t[i + 1] == '\n') ? i + 2 : i + 1;
                    line = true;
                    break;
                }
            }
            if (x + a > width && i > s) [[unlikely]] {
                // One blank may hang past the edge; otherwise cut after the last blank, or here.
                next = kind != Kind::Plain ? i + 1 : (lastBlank >= s ? lastBlank + 1 : i);
                break;
            }
            lastBlank = kind != Kind::Plain ? i : lastBlank;
            x += a;
        }
        if (next < 0)
            return;
        const qint64 entry = next | (line ? LineFlag : 0);
        if (next > editEnd) {
            const qint64 oldStart = next - delta;
            const auto it =
                std::lower_bound(searchFrom, old.cend(), oldStart,
                                 [](qint64 e, qint64 value) { return (e & OffsetMask) < value; });
            if (it != old.cend() && *it == (oldStart | (line ? LineFlag : 0))) {
                m_rows.reserve(m_rows.size() + (old.cend() - it));
                for (auto k = it; k != old.cend(); ++k) {
                    m_rows.append(*k + delta);
                    m_lineCount += (*k & LineFlag) ? 1 : 0;
                }
                return;
            }
            searchFrom = it;
        }
        m_rows.append(entry);
        m_lineCount += line ? 1 : 0;
        s = next;
    }
}
