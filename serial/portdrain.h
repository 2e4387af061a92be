#pragma once

#include <QtGlobal>

class QSerialPort;

// Before a port closes, what is queued for it goes out: the control's buffer is written and
// the kernel's queue waited for, bounded by what the line speed needs plus a margin, so that a
// device that takes nothing cannot hang the window. Events are processed while waiting, except
// user input. Returns the bytes that had to be dropped, 0 when everything left.
qint64 drainBeforeClose(QSerialPort &port, qint64 bitsPerSecond, int bitsPerByte);

// How long a drain of `bytes` may take at the given speed, in milliseconds.
qint64 drainBoundMs(qint64 bytes, qint64 bitsPerSecond, int bitsPerByte);
