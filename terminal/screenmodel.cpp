#include "terminal/screenmodel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <vector>

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
    m_text.setExpected(m_limit);
    m_rows.setExpected(m_limit);
    m_times.setExpected(m_limit);
    m_rows.append(LineFlag);
    m_times.append(0);
}

void ScreenModel::setLayout(const Advances &advances, qint32 tabStop, qint64 wrapWidth)
{
    // A zero advance would let one row take any number of characters.
    for (int c = 0; c < 256; ++c)
        m_advances[c] = std::max<qint32>(advances[c], 1);
    m_tabStop = std::max<qint32>(tabStop, 0);
    m_wrapWidth = wrapWidth > 0 ? wrapWidth : NoWrap;
    layoutAgain();
}

void ScreenModel::setWrapWidth(qint64 wrapWidth)
{
    if (wrapWidth <= 0)
        wrapWidth = NoWrap;
    if (wrapWidth == m_wrapWidth)
        return;
    m_wrapWidth = wrapWidth;
    layoutAgain();
}

void ScreenModel::setLimit(qint64 bytes)
{
    m_limit = bytes > 0 ? bytes : DefaultLimit;
    m_text.setExpected(m_limit);
    m_rows.setExpected(m_limit);
    m_times.setExpected(m_limit);
}

qsizetype ScreenModel::setBytes(QByteArrayView bytes, qint64 time)
{
    if (bytes.isEmpty()) {
        clear();
        return 0;
    }
    if (holds(bytes)) {
        const QByteArray copy = bytes.toByteArray();
        return setBytes(copy, time);
    }
    m_text.resize(0);
    m_text.append(bytes.data(), bytes.size());
    m_pieces.clear();
    layoutAll(time);
    return trimIfOver(0);
}

void ScreenModel::clear()
{
    // Give the memory back: a cleared screen may have held a long session.
    m_text.clear();
    m_rows.clear();
    m_times.clear();
    m_pieces.clear();
    layoutAll(0);
}

qsizetype ScreenModel::append(QByteArrayView piece, qint64 time)
{
    if (piece.isEmpty())
        return 0;
    if (holds(piece))
        return insert(m_text.size(), piece, time);
    // Trimming first keeps the text within the memory the limit allows.
    const qsizetype dropped = trimIfOver(piece.size());
    const qsizetype len = m_text.size();
    // Appending changes no character already held, so every row but the last stays as it is;
    // only a final CR may still join an LF that arrives now.
    qsizetype firstRow = m_rows.size() - 1;
    if (firstRow > 0 && rowStart(firstRow) == len && m_text.data()[len - 1] == '\r')
        --firstRow;
    const std::vector<qint64> tail(m_rows.cbegin() + firstRow + 1, m_rows.cend());
    const std::vector<qint64> tailTimes(m_times.cbegin() + firstRow, m_times.cend());
    const qsizetype lines = m_lineCount;
    m_text.append(piece.data(), piece.size());
    try {
        relayout(firstRow, {len, len + piece.size(), piece.size(), time});
    } catch (...) {
        // Out of memory for the rows: the screen stays as it was, so that it can go on.
        m_text.resize(len);
        m_rows.resize(firstRow + 1);
        m_times.resize(firstRow);
        for (const qint64 e : tail)
            m_rows.append(e);
        for (const qint64 t : tailTimes)
            m_times.append(t);
        m_lineCount = lines;
        throw;
    }
    notePiece(len, time);
    return dropped + trimIfOver(0);
}

qsizetype ScreenModel::insert(qsizetype pos, QByteArrayView piece, qint64 time)
{
    if (piece.isEmpty())
        return 0;
    const qsizetype len = m_text.size();
    pos = std::clamp<qsizetype>(pos, 0, len);
    if (holds(piece)) {
        const QByteArray copy = piece.toByteArray();
        return insert(pos, copy, time);
    }
    // The row before the one holding the edit may take back a word, so it is laid out again too.
    const qsizetype firstRow = std::max<qsizetype>(rowOf(std::max<qsizetype>(pos - 1, 0)) - 1, 0);
    m_text.insert(pos, piece.data(), piece.size());
    relayout(firstRow, {pos, pos + piece.size(), piece.size(), time});
    notePiece(pos, time);
    if (pos < len)
        notePiece(pos + piece.size(), 0); // the bytes after it moved
    return trimIfOver(0);
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
    relayout(firstRow, {pos, pos, -count, 0});
    if (pos < m_text.size())
        notePiece(pos, 0); // the bytes after the cut moved
    // A large cut leaves pages behind the end.
    m_text.releaseSpare(trimStep());
}

qsizetype ScreenModel::rowContentEnd(qsizetype row) const
{
    if (row + 1 >= m_rows.size())
        return m_text.size();
    const qsizetype next = rowStart(row + 1);
    if (!rowStartsLine(row + 1))
        return next;
    const char *t = m_text.data();
    if (t[next - 1] == '\n' && next - 2 >= rowStart(row) && t[next - 2] == '\r')
        return next - 2;
    return next - 1;
}

qsizetype ScreenModel::rowOf(qsizetype pos) const
{
    const auto it = std::upper_bound(m_rows.cbegin(), m_rows.cend(), qint64(pos) + m_origin,
                                     [](qint64 p, qint64 e) { return p < (e & OffsetMask); });
    return std::max<qsizetype>(it - m_rows.cbegin() - 1, 0);
}

qint64 ScreenModel::xOf(qsizetype pos) const
{
    const qsizetype row = rowOf(pos);
    const qsizetype end = std::min(pos, rowContentEnd(row));
    qint64 x = 0;
    const char *t = m_text.data();
    for (qsizetype i = rowStart(row); i < end; ++i)
        x += advance(uchar(t[i]), x);
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
    const char *t = m_text.data();
    for (qsizetype i = start; i < limit; ++i) {
        const qint32 a = advance(uchar(t[i]), cx);
        if (x < cx + a / 2)
            return i;
        cx += a;
    }
    return limit;
}

bool ScreenModel::insideBreak(qsizetype pos) const
{
    const char *t = m_text.data();
    return pos > 0 && pos < m_text.size() && t[pos - 1] == '\r' && t[pos] == '\n';
}

// Lays out a new text, all of which came at time.
void ScreenModel::layoutAll(qint64 time)
{
    // The pages of the old rows serve the new ones.
    m_rows.resize(0);
    m_times.resize(0);
    m_origin = 0;
    m_rows.append(LineFlag);
    m_times.append(time);
    m_lineCount = 1;
    relayout(0, {0, m_text.size(), m_text.size(), time});
    m_rows.releaseSpare(trimStep());
    m_times.releaseSpare(trimStep());
}

// Lays the same text out again (a new width or font), each row keeping a time from the old ones.
void ScreenModel::layoutAgain()
{
    relayout(0, {m_text.size(), m_text.size(), 0, 0});
    m_rows.releaseSpare(trimStep());
    m_times.releaseSpare(trimStep());
}

// Lays rows out again from firstRow on. Past the edit's end, a row start that matches an old
// one (shifted by delta) means all later rows are unchanged, so they are kept with their times.
void ScreenModel::relayout(qsizetype firstRow, const Edit &edit)
{
    const std::vector<qint64> old(m_rows.cbegin() + firstRow + 1, m_rows.cend());
    const std::vector<qint64> oldTimes(m_times.cbegin() + firstRow + 1, m_times.cend());
    for (const qint64 e : old)
        m_lineCount -= (e & LineFlag) ? 1 : 0;
    m_rows.resize(firstRow + 1);
    m_times.resize(firstRow + 1);

    const char *t = m_text.data();
    const qsizetype len = m_text.size();
    const qint64 width = m_wrapWidth;
    const qint32 *advances = m_advances.data();
    const qint64 origin = m_origin;
    const qsizetype editEnd = edit.end;
    const qsizetype delta = edit.delta;
    // A row whose first byte is new takes the edit's time, as does an empty last row that new
    // bytes made; any other the time of the old row that held its first byte.
    const qint64 firstTime = m_times[firstRow];
    std::size_t holder = 0;
    const auto timeAt = [this, &edit, &old, &oldTimes, &holder, len, origin,
                         firstTime](qsizetype at) {
        if (at >= edit.start && (at < edit.end || (at == len && edit.delta > 0)))
            return edit.time;
        const qint64 oldAt = (at < edit.start ? at : at - edit.delta) + origin;
        if (const qint64 piece = pieceTime(oldAt))
            return piece;
        while (holder < old.size() && (old[holder] & OffsetMask) <= oldAt)
            ++holder;
        return holder == 0 ? firstTime : oldTimes[holder - 1];
    };
    qsizetype s = rowStart(firstRow);
    if (s >= edit.start)
        m_times[firstRow] = timeAt(s);
    auto searchFrom = old.cbegin();
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
        const qint64 entry = (next + origin) | (line ? LineFlag : 0);
        if (next > editEnd) {
            const qint64 oldStart = next - delta + origin;
            const auto it =
                std::lower_bound(searchFrom, old.cend(), oldStart,
                                 [](qint64 e, qint64 value) { return (e & OffsetMask) < value; });
            if (it != old.cend() && *it == (oldStart | (line ? LineFlag : 0))) {
                for (auto k = it; k != old.cend(); ++k) {
                    m_rows.append(*k + delta);
                    m_times.append(oldTimes[std::size_t(k - old.cbegin())]);
                    m_lineCount += (*k & LineFlag) ? 1 : 0;
                }
                return;
            }
            searchFrom = it;
        }
        m_rows.append(entry);
        m_times.append(timeAt(next));
        m_lineCount += line ? 1 : 0;
        s = next;
    }
}

// Bytes from `from` on came at time. Pieces before the last row's start go: the row's own time
// stands for them. Only the newest are kept, enough for a row of single bytes.
void ScreenModel::notePiece(qsizetype from, qint64 time)
{
    const qint64 at = from + m_origin;
    const qint64 rowAt = (m_rows[m_rows.size() - 1] & OffsetMask);
    std::erase_if(m_pieces, [at, rowAt](const Piece &p) { return p.at >= at || p.at < rowAt; });
    if (m_pieces.size() >= 256)
        m_pieces.erase(m_pieces.begin(), m_pieces.begin() + 128);
    m_pieces.push_back({std::max(at, rowAt), time});
}

// When the byte at (plus the origin) came, as far as the last row's pieces tell; else 0.
qint64 ScreenModel::pieceTime(qint64 at) const
{
    const auto it = std::upper_bound(m_pieces.cbegin(), m_pieces.cend(), at,
                                     [](qint64 value, const Piece &p) { return value < p.at; });
    return it == m_pieces.cbegin() ? 0 : (it - 1)->time;
}

// Trims when the footprint with coming more bytes would pass the limit.
qsizetype ScreenModel::trimIfOver(qint64 coming)
{
    if (footprint() + coming <= m_limit)
        return 0;
    return trimTo(m_limit - trimStep() - std::min(coming, m_limit / 4));
}

// Drops the oldest rows until the footprint is at most target. What stays stays where it is,
// its rows as they were: only the origin of their offsets moves.
qsizetype ScreenModel::trimTo(qint64 target)
{
    const qsizetype len = m_text.size();
    const qsizetype count = m_rows.size();
    const auto costFrom = [this, len, count](qsizetype row) {
        return qint64(len - rowStart(row)) + RowCost * (count - row);
    };
    // The first row from which on everything fits; the last row always stays.
    qsizetype lo = 1;
    qsizetype hi = count - 1;
    if (hi < lo || costFrom(hi) > target) {
        // The last row alone is longer than the limit (no wrap, no line break): cut inside it.
        // What stays of it still fits one row, so it stays one row.
        qsizetype cut = std::max<qsizetype>(len - std::max<qint64>(target - RowCost, 0), 0);
        if (insideBreak(cut))
            ++cut;
        if (cut <= 0)
            return 0;
        dropFront(count - 1, cut);
        m_rows[0] = m_origin | LineFlag;
        m_lineCount = 1;
        return cut;
    }
    while (lo < hi) {
        const qsizetype mid = lo + (hi - lo) / 2;
        if (costFrom(mid) <= target)
            hi = mid;
        else
            lo = mid + 1;
    }
    const qsizetype cut = rowStart(lo);
    const qint64 *rows = m_rows.data();
    for (qsizetype r = 1; r <= lo; ++r)
        m_lineCount -= (rows[r] & LineFlag) ? 1 : 0;
    dropFront(lo, cut);
    m_rows[0] |= LineFlag;
    return cut;
}

// The three keep, between them, at most one trim step of dropped memory to grow into again.
void ScreenModel::dropFront(qsizetype rows, qsizetype bytes)
{
    const qint64 allowance = std::max(trimStep(), 2 * m_text.blockSize());
    m_rows.dropFront(rows, allowance - m_text.spare() - m_times.spare());
    m_times.dropFront(rows, allowance - m_text.spare() - m_rows.spare());
    m_text.dropFront(bytes, allowance - m_rows.spare() - m_times.spare());
    m_origin += bytes;
}

qint64 screenLimitFrom(const QByteArray &value, qint64 physicalBytes, QString *warning)
{
    constexpr qint64 MiB = 1024 * 1024;
    const QByteArray text = value.trimmed();
    qint64 limit = ScreenModel::DefaultLimit;
    QString problem;
    if (!text.isEmpty()) {
        bool ok = false;
        const qint64 mib = text.toLongLong(&ok);
        if (!ok || mib < 1)
            problem = QStringLiteral("QUORLINE_SCREEN_LIMIT \"%1\" is not a whole number of MiB "
                                     "from 1 up; the screen keeps %2 MiB")
                          .arg(QString::fromLatin1(value))
                          .arg(limit / MiB);
        else
            limit = std::min<qint64>(mib, (qint64(1) << 40)) * MiB;
    }
    if (physicalBytes > 0 && limit > physicalBytes / 2) {
        limit = std::max<qint64>(physicalBytes / 2 / MiB, 1) * MiB;
        problem = QStringLiteral("QUORLINE_SCREEN_LIMIT %1 MiB is more than half of this "
                                 "machine's memory; the screen keeps %2 MiB")
                      .arg(QString::fromLatin1(text.isEmpty() ? QByteArray("1024") : text))
                      .arg(limit / MiB);
    }
    if (warning)
        *warning = problem;
    return limit;
}

qint64 screenLimitFromEnvironment()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    const qint64 physical = pages > 0 && pageSize > 0 ? qint64(pages) * pageSize : 0;
    QString warning;
    const qint64 limit = screenLimitFrom(qgetenv("QUORLINE_SCREEN_LIMIT"), physical, &warning);
    if (!warning.isEmpty())
        std::fprintf(stderr, "quorline: %s\n", qPrintable(warning));
    return limit;
}
