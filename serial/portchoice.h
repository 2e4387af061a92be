#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// What the three lists of the terminal window offer, and the settings string their choice makes.
namespace PortChoice {

inline constexpr int FirstPort = 1;
inline constexpr int LastPort = 10;
inline constexpr int DefaultBaudPosition = 6;
inline constexpr int DefaultParityPosition = 0;

// "COM3" for port 3.
QString portEntry(int number);
// The number an entry names, 0 for anything that is not "COM" and a number.
qint16 portNumberOfEntry(const QString &entry);

inline constexpr qint32 LowestExtraBaud = 50;
inline constexpr qint32 HighestExtraBaud = 20000000;

const QStringList &baudEntries();
const QStringList &parityEntries();
// Empty for a position with no entry (nothing selected). Rates given with --baud follow the
// fixed entries, from position baudEntries().size() on.
QString baudField(int position, const QList<qint32> &extraRates = {});
QString parityLetter(int position);
// "9600,n,8,2": always 8 data bits and 2 stop bits.
QString settingsString(int baudPosition, int parityPosition, const QList<qint32> &extraRates = {});
// The values of --baud as rates, in the order given; throws Failure naming the first bad one.
QList<qint32> extraBaudRates(const QStringList &values);

} // namespace PortChoice
