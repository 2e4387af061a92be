#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <array>

// The text log with arrival times. Each line is
//   YYYY-MM-DD HH:MM:SS.mmm < bytes
// the local time of the line's first byte, '<' received or '>' sent, and the bytes in the
// notation: [CR] [LF] for control codes, [E9] for codes above 127, printable ASCII as itself.
// Three codes differ from the screen's notation so that the text reads back to the exact bytes:
// '[' is [5B], DEL is [7F] (the file stays printable ASCII), and form feed is [0C], since [FF]
// is byte 255.

enum class LogDirection : char { Received = '<', Sent = '>' };

// A received or sent line ends after an LF byte, when this long passes without a byte, or when
// the direction changes.
constexpr qint64 StampedLineGapMs = 200;

// Turns bytes, each piece stamped with its time, into the log's text. No clock and no file: the
// caller says when the bytes came and where the text goes.
class StampedForm
{
public:
    StampedForm();

    // Appends the text of bytes that came at msSinceEpoch (local time is shown) to out.
    void append(LogDirection direction, qint64 msSinceEpoch, QByteArrayView bytes, QByteArray &out);
    // Ends the open line if nothing came for the gap by nowMs, so that it reaches the file whole.
    void endIdleLine(qint64 nowMs, QByteArray &out);
    // Ends the open line, if any.
    void endLine(QByteArray &out);
    bool lineOpen() const { return m_open; }

private:
    // "YYYY-MM-DD HH:MM:SS", then ".mmm < ".
    static constexpr qsizetype StampSecondSize = 19;
    static constexpr qsizetype HeadSize = StampSecondSize + 7;

    // Each byte's text in a slot of its own, as the screen's notation table keeps them.
    static constexpr int SlotSize = 8;
    std::array<std::array<char, SlotSize>, 256> m_slots{};
    std::array<int, 256> m_lengths{};

    bool m_open = false;
    LogDirection m_direction = LogDirection::Received;
    qint64 m_lastMs = 0;
    // The date and time up to the second, made anew only when the second changes.
    qint64 m_stampSecond = -1;
    QByteArray m_stamp;
};

// One line read back from the text log.
struct StampedLine
{
    qint64 msSinceEpoch = 0;
    LogDirection direction = LogDirection::Received;
    QByteArray bytes;
};

// Reads a text log back into its lines; false at the first line that is not in the form (its
// number, from 0, in badLine). A last line without its newline is read as well.
bool readStampedLog(QByteArrayView text, QList<StampedLine> &lines, qsizetype *badLine = nullptr);
