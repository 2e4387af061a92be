#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// The fuzz input as the content of a real file. With the first byte's two low bits set, the rest
// is put behind just under 64 KiB of filler, so that it straddles the readers' chunk boundary.
class FuzzFile
{
public:
    FuzzFile(const std::uint8_t *data, std::size_t size)
    {
        // In memory when the system offers it: a disk file per run costs milliseconds.
        static QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                                     ? QStringLiteral("/dev/shm/quorline-fuzz-XXXXXX")
                                     : QDir::tempPath() + QStringLiteral("/quorline-fuzz-XXXXXX"));
        m_path = dir.filePath(QStringLiteral("input.txt"));
        if (size > 0) {
            if ((data[0] & 3) == 3)
                m_content = QByteArray(64 * 1024 - (data[0] >> 2) % 4, 'x');
            m_content.append(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
        }
        QFile file(m_path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(m_content) != m_content.size())
            std::abort();
    }

    const QString &path() const { return m_path; }
    const QByteArray &content() const { return m_content; }

private:
    QString m_path;
    QByteArray m_content;
};
