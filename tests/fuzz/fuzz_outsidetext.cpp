// Texts other programs and the user hand us: a lock file's content and the screen limit's
// environment value. Neither may crash, and each answer stays within its rules.
#include "tests/fuzz/fuzzcheck.h"

#include "serial/portlock.h"
#include "terminal/screenmodel.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    // A lock names a real process number or none.
    const auto pid = portlock::lockPid(bytes);
    FUZZ_CHECK(!pid || *pid > 0);
    if (pid && size != 4)
        FUZZ_CHECK(bytes.contains(QByteArray::number(qint64(*pid))));

    // A limit is always usable: at least one MiB, and within half of a known memory size.
    const qint64 physical = qint64(1) << 34;
    QString warning;
    const qint64 limit = screenLimitFrom(bytes, physical, &warning);
    FUZZ_CHECK(limit >= (qint64(1) << 20));
    FUZZ_CHECK(limit <= physical / 2);
    return 0;
}
