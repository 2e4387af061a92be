#pragma once

#include "terminal/slidingbuffer.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <algorithm>
#include <array>
#include <vector>

// The screen's text: the exact bytes (one Latin-1 character each) and their visual rows.
// A row ends at a line break (CR LF, a lone LF or a lone CR) or where word wrap cuts a line.
// Each row keeps the time its first byte came, in ms since the epoch (0: not known): new bytes
// bring their time; a row laid out anew takes the time of the row its first byte was in before.
// Widths are in fixed point, 1/64 of a pixel, so that laying a row out again always gives
// the same cuts.
class ScreenModel
{
public:
    using Advances = std::array<qint32, 256>;
    static constexpr qint32 Unit = 64;
    // A width that never wraps.
    static constexpr qint64 NoWrap = qint64(1) << 60;

    // The most memory the text and its row index may take unless told otherwise: 1 GiB.
    static constexpr qint64 DefaultLimit = qint64(1024) * 1024 * 1024;
    // What each row costs beside its characters: its start and its time.
    static constexpr qint64 RowCost = 2 * sizeof(qint64);

    ScreenModel();

    // Beyond the limit, the oldest whole rows go in steps of trimStep(); a trim costs what it
    // drops, not what stays.
    void setLimit(qint64 bytes);
    qint64 limit() const { return m_limit; }
    qint64 trimStep() const { return std::min<qint64>(m_limit / 4, 16 * 1024 * 1024); }
    // Memory the text and its row index take now.
    qint64 footprint() const { return m_text.size() + RowCost * m_rows.size(); }
    // Whether the text and its rows are in reserved address space (else in plain heap buffers,
    // whose trims move what stays).
    bool reserved() const { return m_text.reserved() && m_rows.reserved() && m_times.reserved(); }

    // Per-character advances, tab stop distance and the width to wrap at; lays everything out.
    void setLayout(const Advances &advances, qint32 tabStop, qint64 wrapWidth);
    void setWrapWidth(qint64 wrapWidth);
    qint64 wrapWidth() const { return m_wrapWidth; }

    // Valid until the next change.
    QByteArrayView bytes() const { return {m_text.data(), m_text.size()}; }
    qsizetype length() const { return m_text.size(); }
    // These return how many of the oldest bytes went to keep within the limit (usually 0);
    // every position held by a caller moves back by that much. The bytes came at time.
    qsizetype setBytes(QByteArrayView bytes, qint64 time = 0);
    qsizetype append(QByteArrayView piece, qint64 time = 0);
    qsizetype insert(qsizetype pos, QByteArrayView piece, qint64 time = 0);
    void clear();
    void remove(qsizetype pos, qsizetype count);

    qsizetype rowCount() const { return m_rows.size(); }
    qsizetype rowStart(qsizetype row) const { return (m_rows[row] & OffsetMask) - m_origin; }
    // When the row's first byte came (for the empty last row: the bytes that made it).
    qint64 rowTime(qsizetype row) const { return m_times[row]; }
    // Whether the row begins a line (the first row, or the row after a line break).
    bool rowStartsLine(qsizetype row) const { return m_rows[row] & LineFlag; }
    // Where the row's characters end: before its line break, or where the next row begins.
    qsizetype rowContentEnd(qsizetype row) const;
    // The row a caret at pos is shown in.
    qsizetype rowOf(qsizetype pos) const;
    // Lines, counting the one after a final line break.
    qsizetype lineCount() const { return m_lineCount; }

    // Advance of byte c drawn at x within its row (tabs depend on x).
    qint32 advance(uchar c, qint64 x) const
    {
        if (c == '\t' && m_tabStop > 0)
            return m_tabStop - qint32(x % m_tabStop);
        return m_advances[c];
    }
    // Distance from the start of its row to the caret at pos.
    qint64 xOf(qsizetype pos) const;
    // The caret position in row nearest to x.
    qsizetype posAt(qsizetype row, qint64 x) const;

    // Whether pos lies between the CR and the LF of one line break.
    bool insideBreak(qsizetype pos) const;

private:
    static constexpr qint64 LineFlag = qint64(1) << 62;
    static constexpr qint64 OffsetMask = LineFlag - 1;

    // A change of the text: bytes [start, end) are new and came at time; the bytes after them
    // moved by delta.
    struct Edit
    {
        qsizetype start = 0;
        qsizetype end = 0;
        qsizetype delta = 0;
        qint64 time = 0;
    };

    void layoutAll(qint64 time);
    void layoutAgain();
    qsizetype trimTo(qint64 target);
    qsizetype trimIfOver(qint64 coming);
    void dropFront(qsizetype rows, qsizetype bytes);
    void relayout(qsizetype firstRow, const Edit &edit);
    void notePiece(qsizetype from, qint64 time);
    qint64 pieceTime(qint64 at) const;
    bool holds(QByteArrayView piece) const
    {
        return !piece.isEmpty() && piece.data() >= m_text.data() &&
               piece.data() < m_text.data() + m_text.size();
    }

    SlidingBuffer m_text;
    // One entry per row: its start offset plus m_origin, with LineFlag when it begins a line.
    // The origin grows by what a trim drops, so that the rows that stay keep their entries.
    SlidingArray<qint64> m_rows;
    SlidingArray<qint64> m_times; // one per row
    // The pieces that made the last row, oldest first: where each began (plus the origin) and
    // when it came (0: not known). A wrap that cuts the last row anew takes its times from here.
    struct Piece
    {
        qint64 at = 0;
        qint64 time = 0;
    };
    std::vector<Piece> m_pieces;
    qint64 m_origin = 0;
    qsizetype m_lineCount = 1;
    Advances m_advances{};
    qint32 m_tabStop = 0;
    qint64 m_wrapWidth = NoWrap;
    qint64 m_limit = DefaultLimit;
};

// The screen limit in bytes from QUORLINE_SCREEN_LIMIT's value in MiB. Unset or empty gives the
// default; anything but a whole number from 1 up gives the default and a warning; more than half
// of physicalBytes (when known, above 0) is lowered to that half, with a warning.
qint64 screenLimitFrom(const QByteArray &value, qint64 physicalBytes, QString *warning);
// The same from this process's environment and machine; a warning goes to standard error.
qint64 screenLimitFromEnvironment();
