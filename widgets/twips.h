#pragma once

#include <QFont>
#include <QWidget>

// Window layouts are given in twips (1/1440 inch): pixels at the widget's logical resolution.
inline int twipsToPixels(const QWidget *widget, int twips)
{
    return qRound(twips * widget->logicalDpiX() / 1440.0);
}

// The stand-in for the window's "MS Sans Serif", at a size in points.
QFont standInFont(qreal points, bool bold = false);
// The windows' default font, for the controls that name none: the stand-in at 8.25 points.
QFont windowFont();
