// Kept in a file of its own: the kernel's termios2 header clashes with the C library's
// <termios.h>.
#include "serial/customspeed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <iterator>

namespace customspeed {

bool isStandard(qint64 rate)
{
    static constexpr qint64 Standard[] = {
        50,     75,     110,     134,     150,     200,     300,     600,     1200,    1800,
        2400,   4800,   9600,    19200,   38400,   57600,   115200,  230400,  460800,  500000,
        576000, 921600, 1000000, 1152000, 1500000, 2000000, 2500000, 3000000, 3500000, 4000000};
    return std::binary_search(std::begin(Standard), std::end(Standard), rate);
}

bool apply(int fd, qint64 rate)
{
    struct termios2 tio
    {
    };
    if (::ioctl(fd, TCGETS2, &tio) != 0)
        return false;
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = speed_t(rate);
    tio.c_ospeed = speed_t(rate);
    return ::ioctl(fd, TCSETS2, &tio) == 0;
}

} // namespace customspeed
