#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QString>

#include <functional>

// Reads a file line by line as raw bytes. A line ends at LF, CR LF or a lone CR; the ending is
// not part of the line, and the last line needs none. Every failure throws Failure.
class LineReader
{
public:
    // Runs between pieces of a long read, so that a large or slow file does not hold up the
    // caller; false stops the read with a Failure.
    using Yield = std::function<bool()>;

    // Opens a regular file for reading; anything else (a directory, a device, a pipe, a file of
    // /proc, /sys, tracefs or debugfs) is refused, since reading it could block or never end.
    explicit LineReader(const QString &fileName, Yield yield = {});

    bool atEnd();
    QByteArray readLine();
    // Skips the next line without keeping its bytes.
    void skipLine();
    // The next at most max bytes of the current line, so that a line of any length can be
    // handled in pieces; lineEnded says whether the line ends right after them.
    QByteArray readPiece(qsizetype max, bool *lineEnded);
    void close() { m_file.close(); }

private:
    bool fill();
    bool take(QByteArray *kept, qsizetype max);
    void takeLineEnd();

    QFile m_file;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    Yield m_yield;
    QElapsedTimer m_sinceYield;
};

// The number of lines in the file, as the send will read them; yield as for LineReader.
qint64 CountLines(const QString &fileName, const LineReader::Yield &yield = {});

// How much of a line the send hands to the port at a time: about a tenth of a second at the
// port's rate (ten bits to a character), never less than 64 bytes.
qint64 sendPieceSize(qint64 baud);
