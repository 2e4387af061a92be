#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// Reads a file line by line as raw bytes. A line ends at LF, CR LF or a lone CR; the ending is
// not part of the line, and the last line needs none. Every failure throws Failure.
class LineReader
{
public:
    // Opens a regular file for reading; anything else (a directory, a device, a pipe) is refused,
    // since reading it could block or never end.
    explicit LineReader(const QString &fileName);

    bool atEnd();
    QByteArray readLine();
    // Skips the next line without keeping its bytes.
    void skipLine();
    void close() { m_file.close(); }

private:
    bool fill();
    QByteArray takeLine(bool keep);

    QFile m_file;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
};

// The number of lines in the file, as the send will read them.
qint64 CountLines(const QString &fileName);
