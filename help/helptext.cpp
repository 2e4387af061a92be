#include "help/helptext.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

QString helpMissingText()
{
    return QStringLiteral("Help.txt file not found");
}

QString helpFilePath(const QString &directory)
{
    return QDir(directory).filePath(QStringLiteral("help.txt"));
}

std::optional<QString> readHelpText(const QString &path, const std::function<void()> &yield)
{
    // Only a regular file: a pipe or a device could keep start-up waiting for ever.
    QFile file(path);
    if (!QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;

    QByteArray text;
    QByteArray line;
    bool anyLine = false;
    bool afterCr = false; // a LF directly after a CR belongs to that line end
    const auto endLine = [&text, &line, &anyLine, &yield] {
        if (anyLine)
            text += "\r\n";
        text += line;
        line.clear();
        anyLine = true;
        if (yield)
            yield();
    };

    char chunk[64 * 1024];
    for (;;) {
        const qint64 got = file.read(chunk, sizeof chunk);
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        for (qint64 i = 0; i < got; ++i) {
            const char c = chunk[i];
            if (c == '\n' && afterCr) {
                afterCr = false;
                continue;
            }
            afterCr = c == '\r';
            if (afterCr)
                endLine();
            else
                line += c;
        }
    }
    // The last line needs no line end; after a final line end there is no further line.
    if (!line.isEmpty())
        endLine();
    return QString::fromLatin1(text);
}
