// A TCP connection to a gateway, read with a time-out as the serial port is:
// POSIX sockets on Linux, Winsock on Windows.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace comm {

class NetSocket {
  public:
    NetSocket() = default;
    ~NetSocket() { close(); }
    NetSocket(const NetSocket&) = delete;
    NetSocket& operator=(const NetSocket&) = delete;

    // Connects to `host` (a name or a dotted address) at `port`, within
    // `timeout`, closing what was open before. Returns 0, or an errno value:
    // ENOENT (the name does not resolve), ECONNREFUSED, ETIMEDOUT,
    // EHOSTUNREACH, ENETUNREACH, or what else the system said.
    int open(const std::string& host, uint16_t port, std::chrono::milliseconds timeout);
    void close();
    bool isOpen() const;

    // As SerialPort::read; the other side closing the connection is a
    // failure (-1).
    int read(uint8_t* bytes, int max, std::chrono::microseconds timeout);
    // Sends all `length` bytes. False when the connection failed.
    bool write(const uint8_t* bytes, int length);
    // Whether the other side has closed the connection or it has failed,
    // looked at without waiting and without taking a byte.
    bool peerClosed();

  private:
#if defined(_WIN32)
    uintptr_t socket_ = ~uintptr_t{0}; // SOCKET; INVALID_SOCKET when closed
#else
    int fd_ = -1;
#endif
};

} // namespace comm
