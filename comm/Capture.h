// What went over the line: every frame the library sends or receives, kept
// in a bounded ring for read_frames (comm_mb.h).
//
// The bytes are taken where the library's line (Line.h) hands them to the
// port and gets them from it, so every exchange is seen, whichever code made
// it. The link adds what only it knows: which exchange and attempt a request
// belongs to, and what became of its reply.
#pragma once

#include "comm_mb.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

namespace comm {

class Capture {
  public:
    using Clock = std::chrono::steady_clock;

    // The one ring of the library.
    static Capture& instance();

    // Whether this build records the line (a build for comparisons may
    // leave it out).
    static bool supported();

    // ---- What the link tells

    // The line the following frames go over (`mbap`: a Modbus TCP gateway,
    // the frames with their MBAP header), and whether the search sends them.
    void setLine(int32_t baud, int32_t parity, bool mbap = false);
    void setSearch(bool on);
    // The next request is attempt `attempt` (1 begins a new exchange).
    void beginAttempt(int attempt);
    // The attempt ended with `code`: the bytes since its request are its reply.
    void endAttempt(int32_t code);
    // The wait for owed replies: each reply thrown away, then the end.
    void beginWait();
    void heardLate(int32_t code);
    void endWait();

    // ---- What the line sees

    void sent(const uint8_t* bytes, int length, bool taken, Clock::time_point start,
              Clock::time_point end);
    void received(const uint8_t* bytes, int length);
    // A frame read whole and thrown away at once (a network reply that
    // belongs to no request, or whose length disagrees with its bytes): a
    // stray record of its own, with `code`.
    void discarded(const uint8_t* bytes, int length, int32_t code);
    // Bytes read while the port is flushed, then the flush itself.
    void flushed();

    // read_frames.
    int32_t read(uint64_t after, comm_frame* out, int32_t capacity, int32_t* count, uint64_t* lost);

  private:
    Capture();
    void record(comm_frame& f);
    void closePending(uint8_t kind, int32_t code);
    comm_frame blank(uint8_t kind, Clock::time_point start) const;

    std::mutex mutex_;
    std::vector<comm_frame> ring_;
    uint64_t next_ = 1;

    int32_t baud_ = 0;
    uint8_t parity_ = 0;
    uint8_t flags_ = 0; // COMM_FRAME_SEARCH, COMM_FRAME_MBAP
    uint32_t exchanges_ = 0;
    uint32_t exchange_ = 0;
    uint8_t attempt_ = 0;
    Clock::time_point requestStart_{};
    Clock::time_point requestEnd_{}; // on the line, reckoned from the speed
    Clock::time_point waitStart_{};
    bool pendingOpen_ = false;
    comm_frame pending_{};
};

} // namespace comm
