// The LF CR conversion of the raw display: every LF directly followed by CR becomes CR LF,
// scanning from the start and going on behind each replaced pair; nothing else changes.
#include "tests/fuzz/fuzzcheck.h"

#include "terminal/notation.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray original(reinterpret_cast<const char *>(data), qsizetype(size));
    QByteArray converted = original;
    convertLineEnds(converted);

    // The rule, one byte at a time.
    QByteArray expected = original;
    for (qsizetype i = 0; i + 1 < expected.size();) {
        if (expected[i] == '\n' && expected[i + 1] == '\r') {
            expected[i] = '\r';
            expected[i + 1] = '\n';
            i += 2;
        } else {
            ++i;
        }
    }
    FUZZ_CHECK(converted == expected);
    FUZZ_CHECK(converted.size() == original.size());
    return 0;
}
