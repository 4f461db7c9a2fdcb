// The line as the library sees it: the serial port, with every byte that
// goes out or comes in passing here, where the capture (Capture.h) records it
// with its time. The link, the search and the bus scan use nothing else.
#pragma once

#include "Framer.h"
#include "SerialPort.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace comm {

class Line : public ByteSource {
  public:
    // As SerialPort::open; the capture notes the line's settings.
    int open(const std::string& device, int32_t baud, int32_t parity);
    void close() { port_.close(); }
    bool isOpen() const { return port_.isOpen(); }

    // Sends one frame. False when the port failed.
    bool send(const uint8_t* bytes, int length);
    // As SerialPort::read.
    int read(uint8_t* bytes, int max, std::chrono::microseconds timeout) override;
    // Reads what waits without waiting, so that nothing is thrown away
    // unseen, and then throws away what the driver still holds back.
    void flush();

  private:
    SerialPort port_;
};

} // namespace comm
