#include "filesend/linereader.h"

#include "base/failure.h"

#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <limits>

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
    QByteArray line;
    take(&line, std::numeric_limits<qsizetype>::max());
    return line;
}

void LineReader::skipLine()
{
    take(nullptr, std::numeric_limits<qsizetype>::max());
}

QByteArray LineReader::readPiece(qsizetype max, bool *lineEnded)
{
    QByteArray piece;
    *lineEnded = take(&piece, std::max<qsizetype>(max, 1));
    return piece;
}

// Takes up to max bytes of the current line into kept (none kept when it is null); true when
// the line has ended with them, its line end taken too.
bool LineReader::take(QByteArray *kept, qsizetype max)
{
    qsizetype taken = 0;
    while (taken < max) {
        if (!fill())
            return true; // the last line needs no end
        const char *begin = m_buffer.constData() + m_pos;
        const char *end = begin + std::min(m_buffer.size() - m_pos, max - taken);
        // The first LF, then the first CR before it: memchr scans far faster than a byte loop.
        const auto *lf = static_cast<const char *>(std::memchr(begin, '\n', end - begin));
        const char *stop = lf ? lf : end;
        const auto *cr = static_cast<const char *>(std::memchr(begin, '\r', stop - begin));
        const char *p = cr ? cr : stop;
        if (kept)
            kept->append(begin, p - begin);
        m_pos += p - begin;
        taken += p - begin;
        if (p != end) {
            takeLineEnd();
            return true;
        }
    }
    // A piece full to the byte: the line ends here if a line end or the file's end follows.
    if (!fill())
        return true;
    const char next = m_buffer.at(m_pos);
    if (next != '\n' && next != '\r')
        return false;
    takeLineEnd();
    return true;
}

// Takes the line end at the reading position: LF, CR, or CR LF.
void LineReader::takeLineEnd()
{
    const char first = m_buffer.at(m_pos++);
    // A CR may be followed by the LF of the same line end, perhaps in the next chunk.
    if (first == '\r' && fill() && m_buffer.at(m_pos) == '\n')
        ++m_pos;
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

qint64 sendPieceSize(qint64 baud)
{
    return std::max<qint64>(64, baud / 100);
}
