#pragma once

#include <QByteArrayView>

// Where needle next occurs in haystack: forward, the first match starting at from or later;
// backward, the last match starting at from or earlier. -1 when there is none, or when needle is
// empty. Without matchCase, Latin-1 letters match in either case.
qsizetype findBytes(QByteArrayView haystack, QByteArrayView needle, qsizetype from, bool backward,
                    bool matchCase);
