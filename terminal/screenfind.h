#pragma once

#include <QByteArrayView>

// Where needle next occurs in haystack: forward, the first match starting at from or later;
// backward, the last match starting at from or earlier. -1 when there is none, or when needle is
// empty. Without matchCase, Latin-1 letters match in either case.
qsizetype findBytes(QByteArrayView haystack, QByteArrayView needle, qsizetype from, bool backward,
                    bool matchCase);

// Where Find Next (or Previous) starts. lastMatch is the previous match's place in today's text,
// -1 when there is none or the text was rewritten since; when it was trimmed away or lies past
// the end the search starts from the selection instead: forward from its end, backward from
// before its start.
qsizetype findFrom(qint64 lastMatch, qsizetype textSize, qsizetype selectionStart,
                   qsizetype selectionEnd, bool backward);

struct FoundAt
{
    qsizetype at = -1;    // -1: nowhere
    bool wrapped = false; // found only after starting again from the other end
};

// findBytes from `from`, and when nothing is found there, once more from the other end.
FoundAt findWrapping(QByteArrayView haystack, QByteArrayView needle, qsizetype from, bool backward,
                     bool matchCase);
