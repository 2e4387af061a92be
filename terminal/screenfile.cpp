#include "terminal/screenfile.h"

#include "base/failure.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

void saveBytesAs(const QString &path, QByteArrayView bytes)
{
    const QFileInfo info(path);
    const QString name = QDir::toNativeSeparators(path);
    if (path.isEmpty())
        throw Failure(QStringLiteral("No file name was given."));
    if (info.exists() && info.isDir())
        throw Failure(QStringLiteral("%1 is a folder.").arg(name));
    // A FIFO or a device would block or swallow the text: only regular files are written.
    if (info.exists() && !info.isFile())
        throw Failure(QStringLiteral("%1 is not a regular file.").arg(name));
    // The new file takes the old one's place by a rename, which a read-only file would not stop
    // (nor would it stop root, so the owner's write bit counts too).
    if (info.exists() && (!info.isWritable() || !(info.permissions() & QFile::WriteOwner)))
        throw Failure(QStringLiteral("%1 is read-only.").arg(name));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw Failure(QStringLiteral("%1 cannot be written: %2").arg(name, file.errorString()));
    qsizetype done = 0;
    while (done < bytes.size()) {
        const qint64 written = file.write(bytes.data() + done, bytes.size() - done);
        if (written <= 0) {
            const QString why = file.errorString();
            file.cancelWriting();
            throw Failure(QStringLiteral("%1 could not be written: %2").arg(name, why));
        }
        done += written;
    }
    if (!file.commit())
        throw Failure(QStringLiteral("%1 could not be written: %2").arg(name, file.errorString()));
}
