// Linux: an advisory lock and TIOCEXCL keep a port to one opener; the
// termios2 interface sets any speed (BOTHER) and reports the one the driver
// really uses. <asm/termbits.h> clashes with <termios.h>, so this file
// includes nothing that pulls the latter in.
#include "SerialPort.h"

#include <algorithm>
#include <asm/termbits.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

namespace comm {

namespace {

static_assert(sizeof(termios2) <= 64, "SerialPort::savedLine_ holds a termios2");

using std::chrono::microseconds;

bool closeTo(speed_t actual, int32_t wanted) {
    const long diff = static_cast<long>(actual) - wanted;
    return (diff < 0 ? -diff : diff) * 50 <= wanted; // within 2 %
}

// Pseudo-terminal slaves (/dev/pts/N, majors 136 to 143) keep no parity: the
// kernel clears PARENB on every change (PARODD and CSTOPB stay).
bool isPseudoTerminal(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const unsigned m = major(st.st_rdev);
    return m >= 136 && m <= 143;
}

// Raw 8-bit characters at exactly `baud`, read back.
bool setLine(int fd, int32_t baud, int32_t parity) {
    termios2 tio{};
    tio.c_cflag = CREAD | CLOCAL | CS8 | BOTHER | (BOTHER << IBSHIFT);
    if (parity == 0)
        tio.c_cflag |= CSTOPB; // no parity: a second stop bit
    else
        tio.c_cflag |= PARENB | (parity == 1 ? PARODD : 0);
    tio.c_iflag = parity == 0 ? 0 : INPCK;
    tio.c_ispeed = static_cast<speed_t>(baud);
    tio.c_ospeed = static_cast<speed_t>(baud);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (ioctl(fd, TCSETS2, &tio) != 0)
        return false;

    termios2 back{};
    if (ioctl(fd, TCGETS2, &back) != 0)
        return false;
    if (!closeTo(back.c_ospeed, baud) || !closeTo(back.c_ispeed, baud))
        return false;
    tcflag_t mask = CSIZE | CSTOPB | PARENB | PARODD;
    if (isPseudoTerminal(fd))
        mask &= ~PARENB;
    return (back.c_cflag & mask) == (tio.c_cflag & mask);
}

} // namespace

int SerialPort::open(const std::string& device, int32_t baud, int32_t parity) {
    close();
    if (baud <= 0)
        return EINVAL;
    // Non-blocking, so that a modem line without carrier does not hang here
    // and a read never waits beyond its time-out.
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    termios2 found{};
    if (ioctl(fd, TCGETS2, &found) != 0) {
        ::close(fd);
        return ENOTTY;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        return error;
    }
    if (!setLine(fd, baud, parity)) {
        ioctl(fd, TCSETS2, &found);
        ::close(fd);
        return EINVAL;
    }
    ioctl(fd, TIOCEXCL);
    std::memcpy(savedLine_, &found, sizeof found);
    fd_ = fd;
    return 0;
}

void SerialPort::close() {
    if (fd_ < 0)
        return;
    termios2 found{};
    std::memcpy(&found, savedLine_, sizeof found);
    ioctl(fd_, TCSETS2, &found);
    // The flag belongs to the terminal, not to a descriptor: it would outlive
    // this port while anything else (a simulated module) keeps it open.
    ioctl(fd_, TIOCNXCL);
    ::close(fd_); // drops the lock
    fd_ = -1;
}

bool SerialPort::isOpen() const {
    return fd_ >= 0;
}

int SerialPort::read(uint8_t* bytes, int max, microseconds timeout) {
    if (fd_ < 0)
        return -1;
    const auto nowNs = [] {
        timespec t{};
        clock_gettime(CLOCK_MONOTONIC, &t);
        return t.tv_sec * 1'000'000'000LL + t.tv_nsec;
    };
    const int64_t deadline = nowNs() + std::max<int64_t>(timeout.count(), 0) * 1000;
    // What has come already is taken without a wait: the rest of a frame
    // mostly has by the time its head is read.
    bool wait = false;
    bool ready = false; // poll said there was input, or a hang-up
    for (;;) {
        if (wait) {
            const int64_t left = deadline - nowNs();
            if (left <= 0)
                return 0;
            pollfd p{fd_, POLLIN, 0};
            const timespec span{static_cast<time_t>(left / 1'000'000'000),
                                static_cast<long>(left % 1'000'000'000)};
            const int rc = ppoll(&p, 1, &span, nullptr);
            if (rc == 0)
                return 0;
            if (rc < 0 && errno != EINTR)
                return -1;
            if (rc > 0 && (p.revents & POLLNVAL))
                return -1;
            ready = rc > 0;
            // Readable, hung up or failed: the read tells which.
        }
        const ssize_t n = ::read(fd_, bytes, static_cast<size_t>(max));
        if (n > 0)
            return static_cast<int>(n);
        // With VMIN and VTIME 0 a read of a terminal without input gives 0;
        // after poll said there was something, 0 is the end of the file (a
        // device hung up).
        if (n == 0 ? ready : errno != EAGAIN && errno != EINTR)
            return -1; // the device went away
        if (timeout.count() <= 0)
            return 0;
        wait = true;
    }
}

bool SerialPort::write(const uint8_t* bytes, int length) {
    if (fd_ < 0)
        return false;
    int done = 0;
    // A full output buffer is waited for up to a second.
    for (int waits = 0; done < length;) {
        const ssize_t n = ::write(fd_, bytes + done, static_cast<size_t>(length - done));
        if (n > 0) {
            done += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || errno != EAGAIN || ++waits > 100)
            return false;
        pollfd p{fd_, POLLOUT, 0};
        poll(&p, 1, 10);
    }
    return true;
}

void SerialPort::discard() {
    if (fd_ >= 0)
        ioctl(fd_, TCFLSH, TCIOFLUSH);
}

} // namespace comm
