#pragma once

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

const QStringList &baudEntries();
const QStringList &parityEntries();
// Empty for a position with no entry (nothing selected).
QString baudField(int position);
QString parityLetter(int position);
// "9600,n,8,2": always 8 data bits and 2 stop bits.
QString settingsString(int baudPosition, int parityPosition);

} // namespace PortChoice
