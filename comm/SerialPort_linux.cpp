// Linux: the termios2 interface sets any speed (BOTHER) and reports the one
// the driver really uses. <asm/termbits.h> clashes with <termios.h>, so this
// file includes nothing that pulls the latter in.
#include "LineCheck.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace comm {

namespace {

bool closeTo(speed_t actual, int32_t wanted) {
    const long diff = static_cast<long>(actual) - wanted;
    return (diff < 0 ? -diff : diff) * 50 <= wanted; // within 2 %
}

// Pseudo-terminal slaves (/dev/pts/N, majors 136 to 143) keep no parity: the
// kernel clears PARENB on every change (PARODD and CSTOPB stay).
bool isPseudoTerminal(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
        return false;
    }
    const unsigned m = major(st.st_rdev);
    return m >= 136 && m <= 143;
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
    tcflag_t mask = CSIZE | CSTOPB | PARENB | PARODD;
    if (isPseudoTerminal(fd)) {
        mask &= ~PARENB;
    }
    const tcflag_t wanted = CS8 | (parity == 0 ? CSTOPB : PARENB | (parity == 1 ? PARODD : 0));
    return (back.c_cflag & mask) == (wanted & mask);
}

} // namespace comm
