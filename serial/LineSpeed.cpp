#include "LineSpeed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace {

// The classic codes, so that programs reading the line the old way see the rate.
tcflag_t SpeedCode(unsigned bitsPerSecond)
{
    switch (bitsPerSecond) {
    case 600:
        return B600;
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return BOTHER; // 14400, 56000, 128000: given in c_ospeed
    }
}

} // namespace

bool SetLineSpeed(int handle, unsigned bitsPerSecond)
{
    struct termios2 line {};
    if (ioctl(handle, TCGETS2, &line) != 0)
        return false;
    line.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT)); // input speed follows the output speed
    line.c_cflag |= SpeedCode(bitsPerSecond);
    line.c_ispeed = bitsPerSecond;
    line.c_ospeed = bitsPerSecond;
    return ioctl(handle, TCSETS2, &line) == 0;
}
