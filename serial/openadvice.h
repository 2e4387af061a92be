#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Why a device did not open, in words that say what to do about it.
namespace OpenAdvice {

struct Holder
{
    qint64 pid = 0;
    QString program;
};

// What the system tells us about a device that refused to open.
struct Facts
{
    QString path;
    bool permissionDenied = false; // this process may not read and write it
    QString group;                 // the group that owns the device
    bool listedInGroup = false;    // the group file names this user in that group
    bool sessionHasGroup = false;  // the running process has that group
    QList<Holder> holders;         // other processes that have the device open
};

// The description after "Error opening port. "; systemText is the open's own reason.
QString describe(const Facts &facts, const QString &systemText);

// The facts, read from the device and the group file; the holders from /proc when the open
// failed as a busy device does (many programs hold /dev/null, and that means nothing).
Facts gather(const QString &path, bool busy);

// The other processes that have the device open, from /proc/*/fd.
QList<Holder> holdersOf(const QString &path);

// brltty takes many USB serial adapters (CH340, CP210x) for braille displays, and their tty goes
// a second after it comes. The advice to add to an open's refusal while it runs or after such
// devices (fleeting, "/dev/ttyUSB0") went, else empty.
QString brlttyAdvice(bool brlttyRunning, const QStringList &fleeting);
// Whether a process named brltty runs, from /proc/*/comm.
bool brlttyRunning();

} // namespace OpenAdvice
