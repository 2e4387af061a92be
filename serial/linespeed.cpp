// The line speed read back with termios2, which carries any rate in bits per second. Kept in a
// file of its own: the kernel's termios2 header clashes with the C library's <termios.h>.
#include "serial/deviceguard.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

qint64 deviceguard::lineSpeed(int fd)
{
    struct termios2 tio
    {
    };
    if (::ioctl(fd, TCGETS2, &tio) != 0)
        return 0;
    return qint64(tio.c_ospeed);
}
