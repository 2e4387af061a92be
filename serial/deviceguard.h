#pragma once

#include <QString>

#include <sys/types.h>

// Checks made on a device before and right after it is opened, so that a name in the
// environment can never make the program open its own terminal or a device that is not a
// serial line (opening one can have side effects: a watchdog arms on open).
namespace deviceguard {

// The device's real path, links resolved; throws Failure for a missing path or a link loop.
QString canonicalDevice(const QString &path);

// Throws Failure unless the device is a serial terminal other than the program's own
// terminal. Returns the device number, to compare with what is opened.
dev_t checkSerialDevice(const QString &canonical, const QString &shown);

// The device number of our controlling terminal (from /proc/self/stat), 0 when we have none.
dev_t controllingTerminal();

// Opens the device as a plain descriptor that changes none of its settings, before the port
// itself is opened: refused (Failure naming the holder) when another program holds the device
// in exclusive mode or with flock, when it is not the terminal that was checked, or when it
// cannot be opened. The descriptor holds our flock on the device until it is closed.
int openUnchanged(const QString &canonical, dev_t checked, const QString &shown);

// After the open: throws Failure unless fd is the terminal that was checked.
void checkOpened(int fd, dev_t checked, const QString &shown);

// Takes flock(LOCK_EX|LOCK_NB) on the open device; throws Failure naming the holder if busy.
void flockDevice(int fd, const QString &shown);

// The output speed the device runs at, in bits per second; 0 when it cannot be read.
qint64 lineSpeed(int fd);

// Whether a device that reports `actual` took the rate asked for: within 2%, the tolerance the
// kernel itself uses when it matches a rate to a standard one.
bool speedTaken(qint64 requested, qint64 actual);

} // namespace deviceguard
