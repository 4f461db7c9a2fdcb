// The line as the library sees it: the serial port, or the connection to a
// gateway on the network, with every byte that goes out or comes in passing
// here, where the capture (Capture.h) records it with its time. The link,
// the search and the bus scan use nothing else.
//
// The link speaks RTU frames whatever the line. Through a transparent serial
// server (rtu-tcp:) they go over the connection as they are. Through a
// Modbus TCP gateway (tcp:) each request goes out as an MBAP frame (a
// transaction number one up on the one before, protocol 0, the length, the
// module's address as the unit) without its CRC, and an MBAP reply is handed
// to the link as the RTU frame it stands for, its CRC put on. A reply that
// does not belong to the latest request (another transaction number, another
// protocol) or whose length disagrees with its bytes is thrown away as a
// stray frame, and the wait goes on.
#pragma once

#include "Framer.h"
#include "NetSocket.h"
#include "SerialPort.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace comm {

class Line : public ByteSource {
  public:
    enum class Kind { Serial, ModbusTcp, RtuTcp };

    // As SerialPort::open for a device, or NetSocket::open for a network
    // port's one spelling (PortName.h), connecting within `connectTimeout`;
    // EINVAL for a network name spelt otherwise. The capture notes the
    // line's settings.
    int open(const std::string& device, int32_t baud, int32_t parity,
             std::chrono::milliseconds connectTimeout = DefaultConnectTimeout);
    void close();
    bool isOpen() const;
    Kind kind() const { return kind_; }
    bool isNetwork() const { return kind_ != Kind::Serial; }
    // A network connection the other side has closed since (looked at without
    // waiting); never for a serial port.
    bool peerClosed();

    // Sends one RTU frame (CRC included). False when the port failed.
    bool send(const uint8_t* bytes, int length);
    // As SerialPort::read.
    int read(uint8_t* bytes, int max, std::chrono::microseconds timeout) override;
    // Reads what waits without waiting, so that nothing is thrown away
    // unseen, and then throws away what the driver still holds back.
    void flush();

    static constexpr std::chrono::milliseconds DefaultConnectTimeout{3000};

    // The MBAP header's length.
    static constexpr int MbapHeaderBytes = 7;

  private:
    int readRaw(uint8_t* bytes, int max, std::chrono::microseconds timeout);
    // One MBAP reply read and checked; its RTU frame into ready_.
    int readMbap(std::chrono::microseconds timeout);
    // Throws away what waits at the connection; -1 when it failed.
    int drain();

    Kind kind_ = Kind::Serial;
    SerialPort port_;
    NetSocket socket_;
    uint16_t transaction_ = 0; // of the latest MBAP request
    uint8_t unit_ = 0;
    std::vector<uint8_t> ready_; // RTU bytes of a reply taken, not yet read
    std::size_t readyAt_ = 0;
};

// Whether the PDU of an MBAP frame, `length` bytes from its function code,
// is as long as its function and its byte count say (functions 3 and 16 and
// exceptions; others are taken at their word).
bool pduLengthFits(const uint8_t* pdu, int length);

} // namespace comm
