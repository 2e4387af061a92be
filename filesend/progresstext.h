#pragma once

#include <QString>

// The percentage shown beside the bar once a line has gone: the whole percent of value in
// maximum, with a blank where a sign would stand, e.g. " 33%". A maximum of 0 gives no
// percentage and throws Failure.
QString percentText(qint64 value, qint64 maximum);

// The bar counts in int; a line count beyond that is shown scaled down to fit.
int barUnits(qint64 lines, qint64 maximum);
