// The screen's text model under random appends, inserts, deletes, clears, new widths and
// advances, and small limits (so that trims drop old rows and the small reservation its text and
// rows live in wraps round, or its mapping fails and the heap takes over), checked after every
// step: the text equals a plain reference string; rows start in
// order inside the text, each line break starts exactly one row and no row starts inside a break;
// a wrapped row holds at least one character; the incremental layout equals a fresh one; caret
// positions map to rows and back inside the text; each row holding a byte has a time no later
// than now.
#include "tests/fuzz/fuzzcheck.h"

#include "terminal/screenmodel.h"

namespace {

// Reads the input a byte or a piece at a time; zeros once it is used up.
class Input
{
public:
    Input(const std::uint8_t *data, std::size_t size) : m_data(data), m_size(size) {}
    bool empty() const { return m_at >= m_size; }
    uchar byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    QByteArray piece()
    {
        const std::size_t length =
            std::min<std::size_t>(byte() % 24, m_size - std::min(m_at, m_size));
        QByteArray p(reinterpret_cast<const char *>(m_data + m_at), qsizetype(length));
        m_at += length;
        return p;
    }

private:
    const std::uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

bool isBreak(char c)
{
    return c == '\r' || c == '\n';
}

qsizetype lineBreaks(QByteArrayView text)
{
    qsizetype count = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        if (isBreak(text[i]))
            ++count;
    }
    return count;
}

void checkModel(const ScreenModel &model, const QByteArray &reference,
                const ScreenModel::Advances &advances, qint32 tabStop, qint64 width)
{
    const QByteArrayView text = model.bytes();
    FUZZ_CHECK(text == reference);
    FUZZ_CHECK(model.length() == text.size());

    const qsizetype rows = model.rowCount();
    FUZZ_CHECK(rows >= 1);
    FUZZ_CHECK(model.rowStart(0) == 0 && model.rowStartsLine(0));
    qsizetype lineRows = 1;
    for (qsizetype r = 0; r < rows; ++r) {
        const qsizetype start = model.rowStart(r);
        const qsizetype end = model.rowContentEnd(r);
        FUZZ_CHECK(start >= 0 && start <= text.size());
        FUZZ_CHECK(end >= start && end <= text.size());
        if (r + 1 < rows) {
            const qsizetype next = model.rowStart(r + 1);
            FUZZ_CHECK(next > start);
            FUZZ_CHECK(end <= next);
            if (!model.rowStartsLine(r + 1))
                FUZZ_CHECK(end == next);
        }
        if (r > 0) {
            const bool afterBreak = isBreak(text[start - 1]);
            FUZZ_CHECK(model.rowStartsLine(r) == afterBreak);
            FUZZ_CHECK(!model.insideBreak(start));
            lineRows += model.rowStartsLine(r) ? 1 : 0;
        }
        for (qsizetype i = start; i < end; ++i)
            FUZZ_CHECK(!isBreak(text[i]));
    }
    FUZZ_CHECK(lineRows == lineBreaks(text) + 1);
    FUZZ_CHECK(model.lineCount() == lineRows);

    ScreenModel fresh;
    fresh.setLayout(advances, tabStop, width);
    fresh.setBytes(text);
    FUZZ_CHECK(fresh.rowCount() == rows);
    for (qsizetype r = 0; r < rows; ++r)
        FUZZ_CHECK(fresh.rowStart(r) == model.rowStart(r) &&
                   fresh.rowStartsLine(r) == model.rowStartsLine(r));
}

void checkTimes(const ScreenModel &model, qint64 now)
{
    for (qsizetype r = 0; r < model.rowCount(); ++r) {
        const bool empty = model.rowStart(r) == model.length();
        FUZZ_CHECK(model.rowTime(r) >= (empty ? 0 : 1) && model.rowTime(r) <= now);
    }
}

void checkCaret(const ScreenModel &model, qsizetype pos, qint64 x)
{
    const qsizetype row = model.rowOf(pos);
    FUZZ_CHECK(row >= 0 && row < model.rowCount());
    FUZZ_CHECK(model.rowStart(row) <= pos);
    FUZZ_CHECK(model.xOf(pos) >= 0);
    const qsizetype back = model.posAt(row, x);
    FUZZ_CHECK(back >= model.rowStart(row) && back <= model.rowContentEnd(row));
    FUZZ_CHECK(back >= 0 && back <= model.length());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Input in(data, size);
    ScreenModel model;
    QByteArray reference;
    ScreenModel::Advances advances;
    advances.fill(ScreenModel::Unit);
    qint32 tabStop = 0;
    qint64 width = ScreenModel::NoWrap;
    qint64 now = 0; // each change comes at a time of its own

    // What a trim dropped goes from the reference's front too. Adding bytes trims to the limit
    // (a lowered limit waits for the next bytes).
    const auto trimmed = [&reference, &model](qsizetype dropped, qsizetype added) {
        FUZZ_CHECK(dropped >= 0 && dropped <= reference.size());
        FUZZ_CHECK(added == 0 || model.footprint() <= model.limit());
        reference.remove(0, dropped);
    };
    SlidingBuffer::setTestMapFailure(false);
    SlidingBuffer::setTestReservation(0);
    for (int step = 0; step < 256 && !in.empty(); ++step) {
        const uchar op = in.byte();
        switch (op % 9) {
        case 0:
        case 1: {
            // Now and then a flood: the piece many times over, one append at a time.
            const QByteArray piece = in.piece();
            const int times = (op & 16) ? 1 + in.byte() : 1;
            for (int i = 0; i < times; ++i) {
                reference.append(piece);
                trimmed(model.append(piece, ++now), piece.size());
            }
            break;
        }
        case 2: {
            const qsizetype pos = qsizetype(in.byte()) - 8;
            const QByteArray piece = in.piece();
            reference.insert(std::clamp<qsizetype>(pos, 0, reference.size()), piece);
            trimmed(model.insert(pos, piece, ++now), piece.size());
            break;
        }
        case 3: {
            const qsizetype pos = qsizetype(in.byte()) - 8;
            const qsizetype count = qsizetype(in.byte() % 32);
            model.remove(pos, count);
            const qsizetype from = std::clamp<qsizetype>(pos, 0, reference.size());
            reference.remove(from, std::min(count, reference.size() - from));
            break;
        }
        case 4: {
            // A piece of the model's own text, added while the view still points into it.
            const qsizetype from = std::min<qsizetype>(in.byte(), model.length());
            const qsizetype length = std::min<qsizetype>(in.byte() % 16, model.length() - from);
            const QByteArrayView own = QByteArrayView(model.bytes()).sliced(from, length);
            const QByteArray copy = own.toByteArray();
            if (op & 16) {
                const qsizetype pos = in.byte();
                reference.insert(std::clamp<qsizetype>(pos, 0, reference.size()), copy);
                trimmed(model.insert(pos, own, ++now), copy.size());
            } else {
                reference.append(copy);
                trimmed(model.append(own, ++now), copy.size());
            }
            break;
        }
        case 5: {
            const uchar w = in.byte();
            width = w == 0 ? ScreenModel::NoWrap : qint64(w % 40) * ScreenModel::Unit / 2;
            model.setWrapWidth(width);
            if (width <= 0)
                width = ScreenModel::NoWrap;
            break;
        }
        case 6: {
            const uchar shape = in.byte();
            for (int c = 0; c < 256; ++c)
                advances[c] =
                    (shape & 1) ? ScreenModel::Unit * (1 + (c * shape) % 3) : ScreenModel::Unit;
            tabStop = (shape >> 1) % 5 * ScreenModel::Unit;
            model.setLayout(advances, tabStop, width);
            break;
        }
        case 7:
            if (op & 16) {
                model.clear();
                reference.clear();
            } else {
                reference = in.piece();
                trimmed(model.setBytes(reference, ++now), reference.size());
            }
            break;
        default: {
            // A limit of some hundred bytes, a reservation of a few blocks (which the next new
            // model takes), now and then every mapping call failing from here on.
            const uchar how = in.byte();
            model.setLimit(64 + qint64(how % 16) * 64);
            SlidingBuffer::setTestReservation((how & 16) ? 4 * 4096 : 0);
            if ((how & 0xe0) == 0xe0)
                SlidingBuffer::setTestMapFailure(true);
            if (how & 16) {
                ScreenModel renewed;
                renewed.setLayout(advances, tabStop, width);
                renewed.setLimit(model.limit());
                const qsizetype dropped = renewed.setBytes(reference, ++now);
                model = std::move(renewed);
                trimmed(dropped, reference.size());
            }
            break;
        }
        }
        checkModel(model, reference, advances, tabStop, width);
        checkTimes(model, now);
        checkCaret(model, std::min<qsizetype>(in.byte(), model.length()), qint64(in.byte()) * 16);
    }
    return 0;
}
