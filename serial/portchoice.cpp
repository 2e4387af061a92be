#include "serial/portchoice.h"

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

const QStringList &baudEntries()
{
    static const QStringList entries{QStringLiteral("110"),   QStringLiteral("300"),
                                     QStringLiteral("600"),   QStringLiteral("1200"),
                                     QStringLiteral("2400"),  QStringLiteral("4800"),
                                     QStringLiteral("9600"),  QStringLiteral("19.2k"),
                                     QStringLiteral("38.4k"), QStringLiteral("57.6k"),
                                     QStringLiteral("115.2k"), QStringLiteral("128k")};
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
    static const QStringList fields{QStringLiteral("110"),    QStringLiteral("300"),
                                    QStringLiteral("600"),    QStringLiteral("1200"),
                                    QStringLiteral("2400"),   QStringLiteral("4800"),
                                    QStringLiteral("9600"),   QStringLiteral("19200"),
                                    QStringLiteral("38400"),  QStringLiteral("57600"),
                                    QStringLiteral("115200"), QStringLiteral("128000")};
    return position >= 0 && position < fields.size() ? fields[position] : QString();
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
