// The notation: the table-driven rendering of received bytes equals the rule applied to each
// byte, whatever the mnemonics; with the program's own mnemonics the result holds only codes 32
// to 127 and rendering it again changes nothing. The local echo of a typed code follows the rule.
#include "tests/fuzz/fuzzcheck.h"

#include "terminal/notation.h"

namespace {

ControlNameTable standardNames()
{
    ControlNameTable names;
    for (qsizetype k = 0; k < qsizetype(names.size()); ++k)
        names[k] = controlMnemonics()[k];
    return names;
}

QByteArray renderedByRule(const ControlNameTable &names, QByteArrayView bytes)
{
    QByteArray out;
    for (const char c : bytes)
        out += renderedCode(names, qint16(uchar(c)));
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const ControlNameTable standard = standardNames();
    static const NotationTable standardTable(standard);
    if (size == 0)
        return 0;
    const QByteArrayView bytes(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    // The program's mnemonics.
    const QByteArray rendered = standardTable.rendered(bytes);
    FUZZ_CHECK(rendered == renderedByRule(standard, bytes));
    for (const char c : rendered)
        FUZZ_CHECK(uchar(c) >= 32 && uchar(c) <= 127);
    FUZZ_CHECK(standardTable.rendered(rendered) == rendered);
    QByteArray behind("kept");
    standardTable.appendRendered(bytes, behind);
    FUZZ_CHECK(behind == "kept" + rendered);

    // Mnemonics cut from the input itself, some longer than the table's slots.
    if (data[0] & 1) {
        ControlNameTable names;
        qsizetype at = 0;
        for (qsizetype k = 0; k < qsizetype(names.size()) && at < bytes.size(); ++k) {
            const qsizetype length =
                std::min<qsizetype>(uchar(bytes[at]) % 13, bytes.size() - at - 1);
            names[k] = QString::fromLatin1(bytes.sliced(at + 1, length));
            at += 1 + length;
        }
        const NotationTable table(names);
        FUZZ_CHECK(table.isFor(names));
        FUZZ_CHECK(table.rendered(bytes) == renderedByRule(names, bytes));
    }

    // The echo of one typed code, the code taken as a signed 16-bit number.
    if (bytes.size() >= 2) {
        const auto code = qint16(quint16(uchar(bytes[0])) << 8 | uchar(bytes[1]));
        const QByteArray on = echoText(standard, code, true);
        const QByteArray off = echoText(standard, code, false);
        if (code == 13) {
            FUZZ_CHECK(on == "[CR]\r\n" && off == "\r\n");
        } else {
            FUZZ_CHECK(on == renderedCode(standard, code));
            FUZZ_CHECK(off.isEmpty() == (code < 32 || code > 126));
        }
        if (code < 0)
            FUZZ_CHECK(on == "[[??]]");
    }
    return 0;
}
