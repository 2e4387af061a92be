#include "filesend/linereader.h"

#include "base/failure.h"

#include <QFileInfo>

#include <cstring>

#include <linux/magic.h>
#include <sys/vfs.h>

namespace {

constexpr qint64 ChunkSize = 64 * 1024;
// Often enough for received data and typing to go on, seldom enough to cost nothing.
constexpr qint64 YieldEveryMs = 10;

// File systems whose files claim to be regular but are made up as they are read: some never end,
// some block until the kernel has something to say.
bool onPseudoFileSystem(const QString &fileName)
{
    struct statfs fs = {};
    if (statfs(QFile::encodeName(fileName).constData(), &fs) != 0)
        return false;
    switch (fs.f_type) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case TRACEFS_MAGIC:
    case DEBUGFS_MAGIC:
        return true;
    default:
        return false;
    }
}

} // namespace

LineReader::LineReader(const QString &fileName, Yield yield)
    : m_file(fileName), m_yield(std::move(yield))
{
    const QFileInfo info(fileName);
    if (!info.exists())
        throw Failure(QStringLiteral("%1 does not exist").arg(fileName));
    if (!info.isFile())
        throw Failure(QStringLiteral("%1 is not a regular file").arg(fileName));
    if (onPseudoFileSystem(fileName))
        throw Failure(QStringLiteral("%1 is a file of the kernel, not a text file").arg(fileName));
    if (!m_file.open(QIODevice::ReadOnly))
        throw Failure(QStringLiteral("%1: %2").arg(fileName, m_file.errorString()));
}

// Makes unread bytes available; false at the end of the file. A file that grows while it is
// read goes on to its new end.
bool LineReader::fill()
{
    if (m_pos < m_buffer.size())
        return true;
    if (m_yield && (!m_sinceYield.isValid() || m_sinceYield.hasExpired(YieldEveryMs))) {
        if (!m_yield())
            throw Failure(QStringLiteral("reading %1 was stopped").arg(m_file.fileName()));
        m_sinceYield.start();
    }
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
        // The first LF, then the first CR before it: memchr scans far faster than a byte loop.
        const auto *lf = static_cast<const char *>(std::memchr(begin, '\n', end - begin));
        const char *stop = lf ? lf : end;
        const auto *cr = static_cast<const char *>(std::memchr(begin, '\r', stop - begin));
        const char *p = cr ? cr : stop;
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

qint64 CountLines(const QString &fileName, const LineReader::Yield &yield)
{
    LineReader file(fileName, yield);
    qint64 count = 0;
    while (!file.atEnd()) {
        file.skipLine();
        ++count;
    }
    file.close();
    return count;
}
