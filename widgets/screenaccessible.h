#pragma once

#include <QByteArrayView>
#include <QtGlobal>

class Screen;

// Makes the screen known to screen readers: role editable text, its text, caret and selection.
void installScreenAccessibility();
// Tell an active screen reader what arrived and where the caret went; free when none listens.
void announceInsert(Screen *screen, qsizetype pos, QByteArrayView piece);
void announceCaret(Screen *screen);
