// The serial Modbus RTU master behind the library's entry points: one open
// port with its line settings, and single request/reply exchanges on it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

struct _modbus;

namespace comm {

// Line speeds init_comm accepts, in bit/s. 1200 is not offered by the tool's
// speed list, but a search result or a hand-edited settings file may bring it.
bool isSupportedSpeed(int32_t baud);

// Parity index as the tool passes it: 0 none (two stop bits), 1 odd, 2 even
// (one stop bit each).
bool isSupportedParity(int32_t parity);

// Time-outs of one exchange on an RTU line.
//
// Every character is 11 bits on the line whatever the parity (start, 8 data,
// parity or a second stop bit, stop), so one character takes 11 / baud s.
//
// The response time-out runs from the moment the request is handed to the
// port driver until the first byte of the reply arrives. write() returns as
// soon as the request sits in the driver's buffer, so the time-out must cover
// sending the request itself (its length plus the 3.5-character silence that
// closes an RTU frame), the module's turnaround, and the latency of USB
// adapters and the driver (an FTDI adapter holds received bytes up to 16 ms):
//
//     response = (request bytes + 3.5) * char time + 100 ms
//
// The 100 ms hold about 50 ms of module turnaround plus twice the adapter
// latency and some slack for a busy PC.
//
// The byte time-out is the longest allowed pause between two pieces of one
// reply. The module sends its reply in one go, so the pause is a few character
// times, but an adapter delivers bytes in bursts, hence the fixed part:
//
//     byte = 3 * char time + 20 ms
//
// Resulting numbers:
//     2400 bit/s:   char 4.58 ms; read request (8 bytes) 153 ms, write of 4
//                   registers (17 bytes) 194 ms; byte 34 ms
//     115200 bit/s: char 0.095 ms; read 101 ms, write 102 ms; byte 20.3 ms
//
// A module that is gone costs one response time-out per call, so the tool's
// three attempts freeze its window for 0.3 s (115200) to 0.6 s (2400).
struct Timeouts {
    std::chrono::microseconds response;
    std::chrono::microseconds byte;
};
Timeouts timeoutsFor(int32_t baud, int requestBytes);

// Length in bytes of the RTU request for `function` (3 or 16) and `count`.
int requestBytes(uint8_t function, uint16_t count);

// Maps the errno libmodbus leaves after a failed exchange to a result code of
// comm_mb.h.
int32_t codeForModbusErrno(int error);

class Link {
  public:
    Link() = default;
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // Opens `device` (a device path) at `baud` and `parity`, closing whatever
    // was open before. Returns COMM_OK only when the line is verified to run at
    // exactly these settings; COMM_BAD_PARAMETER for an unsupported speed or
    // parity; COMM_OPEN_FAILED when the device cannot be opened or set.
    int32_t open(const std::string& device, int32_t baud, int32_t parity);
    void close();
    bool isOpen() const { return ctx_ != nullptr; }
    int32_t baud() const { return baud_; }

    // One exchange: function 3 reads `count` registers from `first` into
    // `data`, function 16 writes them from `data`. Arguments are checked in
    // this order: function (COMM_BAD_FUNCTION), buffer and count
    // (COMM_BAD_BUFFER), address 1..247 (COMM_BAD_PARAMETER), then the port
    // (COMM_NOT_OPEN). Stale input is dropped before the request goes out.
    int32_t exchange(uint8_t address, uint8_t function, uint16_t first, uint16_t count,
                     uint16_t* data);

  private:
    _modbus* ctx_ = nullptr;
    int32_t baud_ = 0;
};

} // namespace comm
