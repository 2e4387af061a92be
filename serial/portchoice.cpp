#include "serial/portchoice.h"

#include "base/failure.h"

#include <algorithm>
#include <iterator>

namespace PortChoice {

QString portEntry(int number)
{
    return QStringLiteral("COM") + QString::number(number);
}

qint16 portNumberOfEntry(const QString &entry)
{
    if (!entry.startsWith(u"COM"))
        return 0;
    bool ok = false;
    const int number = entry.mid(3).toInt(&ok);
    return ok && number > 0 && number <= 0x7fff ? qint16(number) : qint16(0);
}

namespace {

// What the list shows, and the rate the settings string carries.
struct BaudRate
{
    const char *entry;
    const char *field;
};
constexpr BaudRate BaudRates[] = {{"110", "110"},     {"300", "300"},       {"600", "600"},
                                  {"1200", "1200"},   {"2400", "2400"},     {"4800", "4800"},
                                  {"9600", "9600"},   {"19.2k", "19200"},   {"38.4k", "38400"},
                                  {"57.6k", "57600"}, {"115.2k", "115200"}, {"128k", "128000"}};
constexpr int BaudCount = int(std::size(BaudRates));

} // namespace

const QStringList &baudEntries()
{
    static const QStringList entries = [] {
        QStringList list;
        for (const BaudRate &rate : BaudRates)
            list << QLatin1StringView(rate.entry);
        return list;
    }();
    return entries;
}

const QStringList &parityEntries()
{
    static const QStringList entries{QStringLiteral("NO PARITY"), QStringLiteral("ODD PARITY"),
                                     QStringLiteral("EVEN PARITY")};
    return entries;
}

QString baudField(int position, const QList<qint32> &extraRates)
{
    if (position >= 0 && position < BaudCount)
        return QLatin1StringView(BaudRates[position].field);
    if (position >= BaudCount && position - BaudCount < extraRates.size())
        return QString::number(extraRates[position - BaudCount]);
    return {};
}

QString parityLetter(int position)
{
    static const QStringList letters{QStringLiteral("n"), QStringLiteral("o"), QStringLiteral("e")};
    return position >= 0 && position < letters.size() ? letters[position] : QString();
}

QString settingsString(int baudPosition, int parityPosition, const QList<qint32> &extraRates)
{
    return baudField(baudPosition, extraRates) + u',' + parityLetter(parityPosition) +
           QStringLiteral(",8,2");
}

QList<qint32> extraBaudRates(const QStringList &values)
{
    QList<qint32> rates;
    for (const QString &value : values) {
        // Digits only: toLongLong alone would take "+9600", " 9600" and "0x2580".
        const bool digits =
            !value.isEmpty() && std::all_of(value.cbegin(), value.cend(),
                                            [](QChar c) { return c >= u'0' && c <= u'9'; });
        bool ok = false;
        const qint64 rate = digits ? value.toLongLong(&ok) : 0;
        if (!ok || rate < LowestExtraBaud || rate > HighestExtraBaud)
            throw Failure(QStringLiteral("--baud %1: the rate must be a whole number from %2 to %3")
                              .arg(value)
                              .arg(LowestExtraBaud)
                              .arg(HighestExtraBaud));
        rates << qint32(rate);
    }
    return rates;
}

} // namespace PortChoice
