// Reads a pty's line settings through termios2, which reports any speed
// (<asm/termbits.h> cannot share a file with <termios.h>).
#include "Pty.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace commtest {

LineState probeLine(const std::string& device) {
    LineState s;
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return s;
    }
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) == 0) {
        s.ispeed = tio.c_ispeed;
        s.ospeed = tio.c_ospeed;
        s.cs8 = (tio.c_cflag & CSIZE) == CS8;
        s.parity = (tio.c_cflag & PARENB) != 0;
        s.odd = (tio.c_cflag & PARODD) != 0;
        s.twoStopBits = (tio.c_cflag & CSTOPB) != 0;
    }
    close(fd);
    return s;
}

} // namespace commtest
