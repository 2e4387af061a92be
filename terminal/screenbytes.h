#pragma once

#include <QByteArrayView>
#include <QString>

#include <utility>

// How the screen's editing sees a byte: Ctrl+Left and Ctrl+Right move by runs of one class, a
// double click selects one.
enum class ByteClass { Word, Blank, Break, Other };
ByteClass byteClass(uchar c);

// The start of the word before pos, over any blanks and line breaks between.
qsizetype wordLeft(QByteArrayView text, qsizetype pos);
// The start of the next word: past the rest of this one and the blanks and breaks after it.
qsizetype wordRight(QByteArrayView text, qsizetype pos);
// The run of one class around pos, as [from, to); empty at a line break and at the end.
std::pair<qsizetype, qsizetype> wordAt(QByteArrayView text, qsizetype pos);

// How the screen draws a byte: the codes below 32, DEL and 128..159 dim; 128..159 as their hex
// number in a frame (a control code no font has a picture for is framed too, by the screen).
bool isDimByte(uchar c);
bool isFramedByte(uchar c);
// What stands for the byte on screen: itself, or the control picture of a code below 32 or DEL.
QChar shownChar(uchar c);
// The upper-case two-digit hex number of a framed byte.
QString hexText(uchar c);
