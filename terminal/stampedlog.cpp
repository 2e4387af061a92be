#include "terminal/stampedlog.h"

#include "terminal/notation.h"

#include <QDateTime>

#include <cstring>
#include <utility>

namespace {

QByteArray loggedCode(int code)
{
    if (code == 12 || code == '[' || code >= 127)
        return '[' + QByteArray::number(code, 16).toUpper().rightJustified(2, '0') + ']';
    if (code < 32)
        return '[' + controlMnemonics()[code].toLatin1() + ']';
    return QByteArray(1, char(code));
}

qint64 floorDiv(qint64 a, qint64 b)
{
    return a / b - (a % b < 0 ? 1 : 0);
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The byte of one bracketed name (without the brackets), or -1.
int codeOfName(QByteArrayView name)
{
    if (name.size() == 2 && hexValue(name[0]) >= 0 && hexValue(name[1]) >= 0)
        return hexValue(name[0]) * 16 + hexValue(name[1]);
    static const QList<QByteArray> mnemonics = [] {
        QList<QByteArray> names;
        for (const QString &name : controlMnemonics())
            names.append(name.toLatin1());
        return names;
    }();
    for (int code = 0; code < int(mnemonics.size()); ++code)
        if (code != 12 && name == mnemonics[code])
            return code;
    return -1;
}

// Digits at text[at..at+count), or -1.
int number(QByteArrayView text, qsizetype at, int count)
{
    int value = 0;
    for (int i = 0; i < count; ++i) {
        const char c = text[at + i];
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

constexpr qsizetype StampSize = 23; // YYYY-MM-DD HH:MM:SS.mmm

bool readStamp(QByteArrayView line, qint64 &ms)
{
    if (line.size() < StampSize)
        return false;
    static constexpr std::pair<int, char> Separators[] = {{4, '-'},  {7, '-'},  {10, ' '},
                                                          {13, ':'}, {16, ':'}, {19, '.'}};
    for (const auto &[at, separator] : Separators)
        if (line[at] != separator)
            return false;
    const QDate date(number(line, 0, 4), number(line, 5, 2), number(line, 8, 2));
    const QTime time(number(line, 11, 2), number(line, 14, 2), number(line, 17, 2),
                     number(line, 20, 3));
    if (!date.isValid() || !time.isValid())
        return false;
    ms = QDateTime(date, time).toMSecsSinceEpoch();
    return true;
}

bool readLine(QByteArrayView line, StampedLine &out)
{
    if (!readStamp(line, out.msSinceEpoch) || line.size() < StampSize + 3 ||
        line[StampSize] != ' ' || line[StampSize + 2] != ' ')
        return false;
    const char direction = line[StampSize + 1];
    if (direction != '<' && direction != '>')
        return false;
    out.direction = LogDirection(direction);
    out.bytes.clear();
    for (qsizetype i = StampSize + 3; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '[') {
            const qsizetype close = line.indexOf(']', i + 1);
            const int code = close < 0 ? -1 : codeOfName(line.sliced(i + 1, close - i - 1));
            if (code < 0)
                return false;
            out.bytes.append(char(code));
            i = close;
        } else if (uchar(c) >= 32 && uchar(c) < 127) {
            out.bytes.append(c);
        } else {
            return false;
        }
    }
    return true;
}

} // namespace

StampedForm::StampedForm()
{
    for (int c = 0; c < 256; ++c) {
        const QByteArray text = loggedCode(c);
        m_lengths[c] = int(text.size());
        std::memcpy(m_slots[c].data(), text.constData(), size_t(text.size()));
    }
}

void StampedForm::append(LogDirection direction, qint64 msSinceEpoch, QByteArrayView bytes,
                         QByteArray &out)
{
    if (bytes.isEmpty())
        return;
    if (m_open && (direction != m_direction || msSinceEpoch - m_lastMs >= StampedLineGapMs))
        endLine(out);
    m_direction = direction;
    m_lastMs = msSinceEpoch;
    const qint64 second = floorDiv(msSinceEpoch, 1000);
    if (second != m_stampSecond) {
        m_stampSecond = second;
        m_stamp = QDateTime::fromMSecsSinceEpoch(second * 1000)
                      .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                      .toLatin1();
        // A clock beyond the years 0 to 9999 still gives a line of the form.
        if (m_stamp.size() != StampSecondSize)
            m_stamp = "0000-00-00 00:00:00";
    }
    const int milli = int(msSinceEpoch - second * 1000);
    const char tail[HeadSize - StampSecondSize] = {'.',
                                                   char('0' + milli / 100),
                                                   char('0' + milli / 10 % 10),
                                                   char('0' + milli % 10),
                                                   ' ',
                                                   char(direction),
                                                   ' '};

    // Room for the worst case, filled by pointer in one pass; whole slots are copied and the end
    // steps by each text's length, the slack taking the last overrun. Whether a line is open is
    // kept in a local: the writes through a char pointer could alias the member.
    const char *const begin = bytes.data();
    const char *const end = begin + bytes.size();
    qsizetype lines = 1;
    for (const char *lf = begin;
         (lf = static_cast<const char *>(std::memchr(lf, '\n', size_t(end - lf)))); ++lf)
        ++lines;
    const qsizetype start = out.size();
    out.resize(start + bytes.size() * 5 + SlotSize + lines * (HeadSize + 1));
    char *q = out.data() + start;
    const char *const stamp = m_stamp.constData();
    bool open = m_open;
    for (const char *p = begin; p < end; ++p) {
        if (!open) {
            std::memcpy(q, stamp, StampSecondSize);
            std::memcpy(q + StampSecondSize, tail, sizeof tail);
            q += HeadSize;
            open = true;
        }
        const auto c = uchar(*p);
        std::memcpy(q, m_slots[c].data(), SlotSize);
        q += m_lengths[c];
        if (c == '\n') {
            *q++ = '\n';
            open = false;
        }
    }
    m_open = open;
    out.resize(q - out.constData());
}

void StampedForm::endIdleLine(qint64 nowMs, QByteArray &out)
{
    if (m_open && nowMs - m_lastMs >= StampedLineGapMs)
        endLine(out);
}

void StampedForm::endLine(QByteArray &out)
{
    if (!m_open)
        return;
    out.append('\n');
    m_open = false;
}

bool readStampedLog(QByteArrayView text, QList<StampedLine> &lines, qsizetype *badLine)
{
    lines.clear();
    qsizetype at = 0;
    while (at < text.size()) {
        qsizetype end = text.indexOf('\n', at);
        if (end < 0)
            end = text.size();
        StampedLine line;
        if (!readLine(text.sliced(at, end - at), line)) {
            if (badLine)
                *badLine = lines.size();
            return false;
        }
        lines.append(std::move(line));
        at = end + 1;
    }
    return true;
}
