#include "widgets/twips.h"

QFont standInFont(qreal points, bool bold)
{
    // Liberation Sans has Arial's metrics, close to the original's; the captions are sized for
    // it (fonts-liberation2). Where it is missing, the system's sans-serif takes its place.
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

QFont windowFont()
{
    return standInFont(8.25);
}
