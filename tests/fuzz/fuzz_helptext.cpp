// The help text reader: the file's lines end at CR or CR LF (a LF alone stays in its line, also
// when a CR LF is split across reads), they come back joined with CR LF, and the yield runs once
// per line.
#include "tests/fuzz/filefixture.h"
#include "tests/fuzz/fuzzcheck.h"

#include "help/helptext.h"

#include <QList>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const FuzzFile file(data, size);
    const QByteArray &content = file.content();

    QList<QByteArray> expected;
    QByteArray line;
    for (qsizetype i = 0; i < content.size(); ++i) {
        if (content[i] == '\r') {
            expected.append(line);
            line.clear();
            if (i + 1 < content.size() && content[i + 1] == '\n')
                ++i;
        } else {
            line += content[i];
        }
    }
    if (!line.isEmpty())
        expected.append(line);

    int yields = 0;
    const std::optional<QString> text = readHelpText(file.path(), [&yields] { ++yields; });
    FUZZ_CHECK(text.has_value());
    FUZZ_CHECK(*text == QString::fromLatin1(expected.join("\r\n")));
    FUZZ_CHECK(yields == expected.size());
    return 0;
}
