#include "filesend/linereader.h"

#include "base/failure.h"

#include <QFileInfo>

namespace {

constexpr qint64 ChunkSize = 64 * 1024;

} // namespace

LineReader::LineReader(const QString &fileName) : m_file(fileName)
{
    const QFileInfo info(fileName);
    if (!info.exists())
        throw Failure(QStringLiteral("%1 does not exist").arg(fileName));
    if (!info.isFile())
        throw Failure(QStringLiteral("%1 is not a regular file").arg(fileName));
    if (!m_file.open(QIODevice::ReadOnly))
        throw Failure(QStringLiteral("%1: %2").arg(fileName, m_file.errorString()));
}

// Makes unread bytes available; false at the end of the file. A file that grows while it is
// read goes on to its new end.
bool LineReader::fill()
{
    if (m_pos < m_buffer.size())
        return true;
    m_buffer.resize(ChunkSize);
    m_pos = 0;
    const qint64 got = m_file.read(m_buffer.data(), ChunkSize);
    if (got < 0) {
        m_buffer.clear();
        throw Failure(QStringLiteral("%1: %2").arg(m_file.fileName(), m_file.errorString()));
    }
    m_buffer.resize(got);
    return got > 0;
}

bool LineReader::atEnd()
{
    return !fill();
}

QByteArray LineReader::readLine()
{
    return takeLine(true);
}

void LineReader::skipLine()
{
    takeLine(false);
}

QByteArray LineReader::takeLine(bool keep)
{
    QByteArray line;
    while (fill()) {
        const char *begin = m_buffer.constData() + m_pos;
        const char *end = m_buffer.constData() + m_buffer.size();
        const char *p = begin;
        while (p != end && *p != '\n' && *p != '\r')
            ++p;
        if (keep)
            line.append(begin, p - begin);
        m_pos += p - begin;
        if (p == end)
            continue;
        ++m_pos;
        // A CR may be followed by the LF of the same line end, perhaps in the next chunk.
        if (*p == '\r' && fill() && m_buffer.at(m_pos) == '\n')
            ++m_pos;
        break;
    }
    return line;
}

qint64 CountLines(const QString &fileName)
{
    LineReader file(fileName);
    qint64 count = 0;
    while (!file.atEnd()) {
        file.skipLine();
        ++count;
    }
    file.close();
    return count;
}
