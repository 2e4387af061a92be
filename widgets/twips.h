#pragma once

#include <QFont>
#include <QWidget>

// Window layouts are given in twips (1/1440 inch): pixels at the widget's logical resolution.
inline int twipsToPixels(const QWidget *widget, int twips)
{
    return qRound(twips * widget->logicalDpiX() / 1440.0);
}

// The stand-in for the window's "MS Sans Serif": the system's sans-serif takes its place.
QFont standInFont(qreal points, bool bold = false);
