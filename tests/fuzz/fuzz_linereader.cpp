// The send's line reader: the lines of any file are the bytes between line ends (LF, CR LF or a
// lone CR, a CR LF split across reads included), the last line needing none; counting the
// lines gives as many as reading them.
#include "tests/fuzz/filefixture.h"
#include "tests/fuzz/fuzzcheck.h"

#include "filesend/linereader.h"

#include <QList>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const FuzzFile file(data, size);
    const QByteArray &content = file.content();

    QList<QByteArray> expected;
    QByteArray line;
    for (qsizetype i = 0; i < content.size(); ++i) {
        const char c = content[i];
        if (c == '\r' || c == '\n') {
            expected.append(line);
            line.clear();
            if (c == '\r' && i + 1 < content.size() && content[i + 1] == '\n')
                ++i;
        } else {
            line += c;
        }
    }
    if (!line.isEmpty())
        expected.append(line);

    QList<QByteArray> lines;
    LineReader reader(file.path());
    while (!reader.atEnd())
        lines.append(reader.readLine());
    reader.close();
    FUZZ_CHECK(lines == expected);
    FUZZ_CHECK(CountLines(file.path()) == expected.size());
    return 0;
}
