#pragma once

#include <QByteArrayView>
#include <QString>

// Writes bytes to the file at path as one whole: either the file holds exactly them afterwards,
// or it is left as it was and a Failure says why. Only a regular file that may be written is
// replaced; a directory, a FIFO, a device or a read-only file is refused before anything is
// written.
void saveBytesAs(const QString &path, QByteArrayView bytes);
