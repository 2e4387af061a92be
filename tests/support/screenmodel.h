#pragma once

// A screen model laid out on a simple grid, for tests of rows and wrapping.

#include "terminal/screenmodel.h"

// Every character one pixel wide, tab stops every four pixels, rows widthPx wide.
inline ScreenModel narrowModel(qint64 widthPx)
{
    ScreenModel m;
    ScreenModel::Advances adv;
    adv.fill(ScreenModel::Unit);
    m.setLayout(adv, 4 * ScreenModel::Unit, widthPx * ScreenModel::Unit);
    return m;
}
