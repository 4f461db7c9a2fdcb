// Cutting what a listener hears into frames. The bytes come in pieces, each
// with the time its read returned; the line's silence (3.5 characters, at
// least 1.75 ms) ends a frame, and so does the length a frame's function
// allows, since USB adapters hand on several frames in one piece. Nothing in
// here waits or reads: the listener (Listen.h) feeds it and tells it when the
// line has gone quiet.
#pragma once

#include "comm_mb.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace comm {

// The silence that ends a frame at `baud` bit/s, in microseconds.
int64_t silenceUs(int32_t baud);

// The lengths a frame may have by its first bytes, as a request or as a reply
// of its function (functions 1-6, 15 and 16, and exceptions); none for other
// functions, whose frames only silence ends. Lengths that need bytes not yet
// there are left out; `complete` says whether all are in.
struct FrameLengths {
    int length[2] = {0, 0};
    int count = 0;
    bool complete = true;
};
FrameLengths frameLengths(const uint8_t* bytes, int have);

class Cutter {
  public:
    // Every cut frame goes to `out`, in order, numbered from 1.
    using Sink = std::function<void(const comm_heard&)>;
    Cutter(int32_t baud, int32_t parity, Sink out);

    // `n` bytes whose read returned at `at_us` (steady clock) / `wall_us`.
    void feed(const uint8_t* bytes, int n, int64_t at_us, int64_t wall_us);
    // The line has been quiet since the last piece: what is held is cut.
    void silence();
    // Bytes held for a frame not yet whole.
    int held() const { return static_cast<int>(bytes_.size()); }
    // How long the listener lets the line be quiet before it calls
    // silence(): the silence, or, while the bytes held are the start of a
    // frame whose length is known, BurstPatienceUs, since an adapter may
    // hand on one frame in pieces that far apart.
    int64_t patienceUs() const;
    static constexpr int64_t BurstPatienceUs = 20000;

  private:
    void cut(bool quiet);
    void emit(int length, int32_t code);
    // The length of a whole frame with a right CRC at `from` by its
    // function's rules (0: none yet).
    int wholeAt(std::size_t from) const;
    int32_t judge(int length) const;

    int32_t baud_;
    int32_t parity_;
    Sink out_;
    // The bytes held and when each came; at most COMM_FRAME_BYTES and one
    // piece.
    std::vector<uint8_t> bytes_;
    std::vector<int64_t> times_;
    std::size_t quietAt_ = 0; // where silence came among the bytes held (0: nowhere)
    int64_t lastAt_ = -1;     // when the last piece came
    int64_t wallAt_ = 0;      // wall clock minus steady clock
    int64_t lastEnd_ = -1;    // of the frame before
    uint64_t number_ = 0;
    bool joined_ = false;   // the next frame follows the one before without silence
    bool skipping_ = false; // past the first COMM_FRAME_BYTES of a run without a frame
    uint32_t skipped_ = 0;  // bytes thrown away since
    comm_heard long_{};     // the overlong run, sent once silence ends it
};

} // namespace comm
