#pragma once

#include <QString>

// What hovering over a screen row shows: the local time its first byte came,
// "2026-12-08 13:55:01.123", and how long after the row before it, " (+1.204 s)". Times are ms
// since the epoch; 0 is not known: no text, or no time since the row before.
QString rowTimeText(qint64 ms, qint64 previousMs);
