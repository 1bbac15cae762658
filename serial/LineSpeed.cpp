#include "LineSpeed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

bool SetLineSpeed(int handle, unsigned bitsPerSecond)
{
    struct termios2 line {};
    if (ioctl(handle, TCGETS2, &line) != 0)
        return false;
    line.c_cflag &= ~CBAUD;
    line.c_cflag |= BOTHER;
    line.c_cflag &= ~(CBAUD << IBSHIFT); // input speed follows the output speed
    line.c_ispeed = bitsPerSecond;
    line.c_ospeed = bitsPerSecond;
    return ioctl(handle, TCSETS2, &line) == 0;
}
