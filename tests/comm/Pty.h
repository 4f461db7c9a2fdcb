// A bare pseudo-terminal for the library tests: the library opens the slave
// side like a serial port; the test talks on the master side through a
// scripted responder, which can send what no well-behaved module sends.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace commtest {

using Bytes = std::vector<uint8_t>;

// `frame` with its CRC (rtu::crc16) appended.
Bytes withCrc(Bytes frame);

// What the slave side of a pty is set to, as the kernel reports it.
struct LineState {
    unsigned ispeed = 0;
    unsigned ospeed = 0;
    bool cs8 = false;
    bool parity = false;
    bool odd = false;
    bool twoStopBits = false;
};
LineState probeLine(const std::string& device);

class Pty {
  public:
    // Answers every request with what `reply` returns (nothing: stay silent).
    using Responder = std::function<Bytes(const Bytes& request)>;

    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& path() const { return path_; }
    void respond(Responder responder);
    // Requests received so far, one per frame.
    std::vector<Bytes> requests() const;

  private:
    void run();

    int master_ = -1;
    int slave_ = -1;
    std::string path_;
    mutable std::mutex mutex_;
    Responder responder_;
    std::vector<Bytes> requests_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace commtest
