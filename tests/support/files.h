#pragma once

// Test data on disk and in memory: a temporary folder that hands out files, and every byte value.

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

inline QByteArray readWhole(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void writeFile(const QString &path, const QByteArray &content)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
}

// A temporary folder, removed with everything in it when the fixture goes.
class TempFiles
{
public:
    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    QString path(const QString &name) const { return m_dir.filePath(name); }

    // A new file holding content, named after the prefix and a running number.
    QString file(const QByteArray &content, const QString &prefix = QStringLiteral("file"))
    {
        const QString name = path(QStringLiteral("%1%2.txt").arg(prefix).arg(++m_files));
        writeFile(name, content);
        return name;
    }

private:
    QTemporaryDir m_dir;
    int m_files = 0;
};

// The byte values 0 to 255 in order.
inline QByteArray all256()
{
    QByteArray bytes(256, Qt::Uninitialized);
    for (int c = 0; c < 256; ++c)
        bytes[c] = char(c);
    return bytes;
}
