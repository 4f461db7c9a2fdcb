// Linux: an advisory lock and TIOCEXCL keep a port to one opener; the
// termios2 interface sets any speed (BOTHER) and reports the one the driver
// really uses. <asm/termbits.h> clashes with <termios.h>, so this file
// includes nothing that pulls the latter in.
#include "SerialPort.h"

#include <asm/termbits.h>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

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

int claimPort(const std::string& device) {
    // Non-blocking, so that a modem line without carrier does not hang here;
    // libmodbus opens its own descriptor for the exchanges.
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) {
        ::close(fd);
        errno = ENOTTY;
        return -1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

void makeExclusive(int claim) {
    if (claim >= 0) {
        ioctl(claim, TIOCEXCL);
    }
}

void releasePort(int claim) {
    if (claim < 0) {
        return;
    }
    // The flag belongs to the terminal, not to a descriptor: it would outlive
    // this link while anything else (a simulated module) keeps it open.
    ioctl(claim, TIOCNXCL);
    ::close(claim); // drops the lock
}

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
