#pragma once

#include <QtGlobal>

// Line speeds beyond the system's fixed speed codes. QSerialPort is given standard rates only:
// its own way with other rates may leave the device on a divisor it never undoes.
namespace customspeed {

// Whether the system has a fixed speed code (B9600 and the like) for the rate.
bool isStandard(qint64 rate);

// Sets both directions of the open line to the rate, in bits per second (termios2 with
// BOTHER); false with errno set when the device refuses. Read the speed back: a device may
// round what it was given.
bool apply(int fd, qint64 rate);

} // namespace customspeed
