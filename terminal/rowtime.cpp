#include "terminal/rowtime.h"

#include <QDateTime>

QString rowTimeText(qint64 ms, qint64 previousMs)
{
    if (ms <= 0)
        return {};
    QString text =
        QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    if (previousMs > 0) {
        // An edit may put a row before one that came later: the time since is then negative.
        const qint64 since = ms - previousMs;
        const qint64 magnitude = since < 0 ? -since : since;
        text += QStringLiteral(" (%1%2.%3 s)")
                    .arg(since < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                    .arg(magnitude / 1000)
                    .arg(magnitude % 1000, 3, 10, QLatin1Char('0'));
    }
    return text;
}
