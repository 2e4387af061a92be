// The Telnet decoder on any byte stream: fed whole or cut anywhere, it gives the same data and
// the same events, no subnegotiation grows past its limit, and escaped data comes back exact.
#include "tests/fuzz/fuzzcheck.h"

#include "serial/telnetcodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const QByteArrayView wire(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    QByteArray whole;
    QList<telnet::Event> wholeEvents;
    const bool binary = data[0] & 1;
    telnet::Decoder first;
    first.setBinary(binary);
    first.feed(wire, whole, wholeEvents);
    FUZZ_CHECK(whole.size() <= wire.size());
    for (const telnet::Event &event : std::as_const(wholeEvents))
        FUZZ_CHECK(event.payload.size() < telnet::MaxSubnegotiation);

    // Cut into pieces of the first byte's size.
    const qsizetype piece = qsizetype(data[0] >> 1) + 1;
    telnet::Decoder decoder;
    decoder.setBinary(binary);
    QByteArray pieces;
    QList<telnet::Event> pieceEvents;
    for (qsizetype at = 0; at < wire.size(); at += piece)
        decoder.feed(wire.sliced(at, qMin(piece, wire.size() - at)), pieces, pieceEvents);
    FUZZ_CHECK(pieces == whole);
    FUZZ_CHECK(pieceEvents == wholeEvents);

    QByteArray back;
    QList<telnet::Event> none;
    telnet::Decoder roundTrip;
    roundTrip.setBinary(true);
    roundTrip.feed(telnet::escape(wire), back, none);
    FUZZ_CHECK(back == wire);
    FUZZ_CHECK(none.isEmpty());
    return 0;
}
