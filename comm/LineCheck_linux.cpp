// Linux: the termios2 interface sets any speed (BOTHER) and reports the one
// the driver really uses. <asm/termbits.h> clashes with <termios.h>, so this
// file includes nothing that pulls the latter in.
#include "LineCheck.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace comm {

namespace {

bool closeTo(speed_t actual, int32_t wanted) {
    const long diff = static_cast<long>(actual) - wanted;
    return (diff < 0 ? -diff : diff) * 50 <= wanted; // within 2 %
}

} // namespace

bool setAndCheckLine(int fd, int32_t baud, int32_t parity) {
    if (fd < 0 || baud <= 0) {
        return false;
    }
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) {
        return false;
    }
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = static_cast<speed_t>(baud);
    tio.c_ospeed = static_cast<speed_t>(baud);
    if (ioctl(fd, TCSETS2, &tio) != 0) {
        return false;
    }

    struct termios2 back {};
    if (ioctl(fd, TCGETS2, &back) != 0) {
        return false;
    }
    if (!closeTo(back.c_ospeed, baud) || !closeTo(back.c_ispeed, baud)) {
        return false;
    }
    const tcflag_t wanted = CS8 | (parity == 0 ? CSTOPB : PARENB | (parity == 1 ? PARODD : 0));
    return (back.c_cflag & (CSIZE | CSTOPB | PARENB | PARODD)) == wanted;
}

} // namespace comm
