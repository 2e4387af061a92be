#include "serial/portchoice.h"

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

QString baudField(int position)
{
    return position >= 0 && position < BaudCount ? QLatin1StringView(BaudRates[position].field)
                                                 : QString();
}

QString parityLetter(int position)
{
    static const QStringList letters{QStringLiteral("n"), QStringLiteral("o"), QStringLiteral("e")};
    return position >= 0 && position < letters.size() ? letters[position] : QString();
}

QString settingsString(int baudPosition, int parityPosition)
{
    return baudField(baudPosition) + u',' + parityLetter(parityPosition) + QStringLiteral(",8,2");
}

} // namespace PortChoice
