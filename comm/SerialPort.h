// The serial port the library talks through: opened for this process alone
// at exactly the line settings asked for, and read with a time-out. Linux
// and Windows each have a file of their own.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace comm {

class SerialPort {
  public:
    SerialPort() = default;
    ~SerialPort() { close(); }
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens `device` at `baud` bit/s with 8 data bits and `parity` (0 none
    // with two stop bits, 1 odd, 2 even, one stop bit each), closing what was
    // open before. Returns 0, or an errno value telling why not: ENOENT (no
    // such device), EACCES (no permission), EBUSY (held by another program),
    // ENOTTY (not a serial port), EINVAL (the driver refuses the speed or
    // reports other settings than asked for), or what else the system said.
    //
    // Linux: the port is claimed with an advisory lock (flock) that another
    // opener honouring it, a second copy of this tool included, cannot get,
    // and then closed to further opens (TIOCEXCL; root is not refused by the
    // system, the lock still holds a second copy of the tool off). Any speed
    // the driver makes goes (termios2, BOTHER); a speed it rounds by up to 2 %
    // (well inside what a UART tolerates) counts as set. Windows opens a COM
    // port for one handle at a time by itself; the speed goes to the driver
    // as it is, and the line is read back.
    int open(const std::string& device, int32_t baud, int32_t parity);
    // Puts the line back as it was found and gives the port up.
    void close();
    bool isOpen() const;

    // Waits up to `timeout` for bytes and reads those that have come, `max`
    // at most. Returns how many (> 0), 0 when none came in time, -1 when the
    // port failed (the device went away). A zero time-out takes what is there.
    int read(uint8_t* bytes, int max, std::chrono::microseconds timeout);
    // Hands `length` bytes to the driver. False when the port failed.
    bool write(const uint8_t* bytes, int length);
    // Throws away what the driver holds of the line's input.
    void discard();

  private:
#if defined(_WIN32)
    void* handle_ = nullptr; // HANDLE; null when closed
    unsigned long readTimeoutMs_ = 0;
    bool timeoutsSet_ = false;
    unsigned char savedLine_[64] = {}; // the DCB found at open
#else
    int fd_ = -1;
    unsigned char savedLine_[64] = {}; // struct termios2 found at open
#endif
};

} // namespace comm
