#include "filesend/progresstext.h"

#include "base/failure.h"

#include <limits>

QString percentText(qint64 value, qint64 maximum)
{
    if (maximum == 0)
        throw Failure(QStringLiteral("Division by zero"));
    return u' ' + QString::number(value * 100 / maximum) + u'%';
}

int barUnits(qint64 lines, qint64 maximum)
{
    constexpr qint64 largest = std::numeric_limits<int>::max();
    int shift = 0;
    while ((maximum >> shift) > largest)
        ++shift;
    return int(lines >> shift);
}
