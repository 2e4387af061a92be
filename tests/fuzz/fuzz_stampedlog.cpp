// The text log with arrival times reads back to the bytes it was given, in order and in their
// directions, as plain ASCII lines whose times never fall, however the pieces come and go.
#include "tests/fuzz/fuzzcheck.h"

#include "terminal/stampedlog.h"

#include <QDateTime>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const qint64 base = QDateTime(QDate(2026, 12, 8), QTime(10, 0)).toMSecsSinceEpoch();
    // Each piece: a head byte (bit 0 sent, bit 1 an idle check first, the rest its length), the
    // milliseconds since the last piece over four, then its bytes.
    StampedForm form;
    QByteArray text;
    QByteArray all;
    QByteArray sent;
    qint64 ms = base;
    for (std::size_t at = 0; at + 2 <= size;) {
        const std::uint8_t head = data[at];
        ms += qint64(data[at + 1]) * 4;
        at += 2;
        const auto length = qsizetype(std::min<std::size_t>(head >> 2, size - at));
        const QByteArrayView bytes(reinterpret_cast<const char *>(data + at), length);
        at += std::size_t(length);
        if (head & 2)
            form.endIdleLine(ms, text);
        const LogDirection direction = (head & 1) ? LogDirection::Sent : LogDirection::Received;
        form.append(direction, ms, bytes, text);
        all += bytes;
        if (direction == LogDirection::Sent)
            sent += bytes;
    }
    form.endLine(text);

    for (const char c : text)
        FUZZ_CHECK(c == '\n' || (c >= 32 && c < 127));
    QList<StampedLine> lines;
    FUZZ_CHECK(readStampedLog(text, lines));
    QByteArray readAll;
    QByteArray readSent;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        FUZZ_CHECK(!lines[i].bytes.isEmpty());
        FUZZ_CHECK(lines[i].msSinceEpoch >= base && lines[i].msSinceEpoch <= ms);
        FUZZ_CHECK(i == 0 || lines[i].msSinceEpoch >= lines[i - 1].msSinceEpoch);
        // An LF is only ever a line's last byte.
        FUZZ_CHECK(!lines[i].bytes.chopped(1).contains('\n'));
        readAll += lines[i].bytes;
        if (lines[i].direction == LogDirection::Sent)
            readSent += lines[i].bytes;
    }
    FUZZ_CHECK(readAll == all);
    FUZZ_CHECK(readSent == sent);
    return 0;
}
