// Listening to a line without sending: a port of its own, read by a thread
// of its own and cut into frames (Cutter.h), the frames waiting in a ring
// until they are taken. Nothing is ever written to the port.
#pragma once

#include "NetSocket.h"
#include "SerialPort.h"
#include "comm_mb.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace comm {

class Listener {
  public:
    // The longest wait of one read: how soon the thread sees it is to stop.
    static constexpr int ReadSliceMs = 50;

    Listener() = default;
    ~Listener() { stop(); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // listen_start on a device path: COMM_OK, COMM_BAD_PARAMETER or
    // COMM_OPEN_FAILED (with the errno in openError()). Frames still waiting
    // from before are forgotten.
    int32_t start(const std::string& device, int32_t baud, int32_t parity);
    int openError() const { return openError_; }
    // listen_read, its arguments checked.
    int32_t read(comm_heard* frames, int32_t capacity, int32_t waitMs, int32_t* count,
                 uint64_t* lost);
    // listen_stop.
    void stop();
    bool listening() const { return running_; }

  private:
    void run(int32_t baud, int32_t parity);
    void keep(const comm_heard& h);

    int readLine(uint8_t* bytes, int max, std::chrono::microseconds timeout);

    // The line: a serial port, or a transparent serial server's connection
    // (rtu-tcp:), which hands on everything heard on its line. The thread's
    // alone while it runs.
    SerialPort port_;
    NetSocket socket_;
    bool network_ = false;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> running_{false};
    int openError_ = 0;

    std::mutex mutex_; // of what follows
    std::condition_variable came_;
    std::vector<comm_heard> ring_; // COMM_LISTEN_RING once listening first starts
    std::size_t first_ = 0, size_ = 0;
    uint64_t lost_ = 0;
};

} // namespace comm
