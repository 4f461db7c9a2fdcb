#include "LineSettings.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace sim {

bool ReadLineSettings(int fd, LineSettings& out) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return false;
    out.baud = t.c_ospeed;
    if (t.c_cflag & CSTOPB)
        out.parity = 0;
    else if (t.c_cflag & PARODD)
        out.parity = 1;
    else
        out.parity = 2;
    return true;
}

bool SetRawLine(int fd, unsigned baud, int parity) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return false;
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= CS8 | CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
    if (parity == 0)
        t.c_cflag |= CSTOPB;
    else if (parity == 1)
        t.c_cflag |= PARENB | PARODD;
    else
        t.c_cflag |= PARENB;
    t.c_ospeed = baud;
    t.c_ispeed = baud;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return ioctl(fd, TCSETS2, &t) == 0;
}

} // namespace sim
