// The frames on the line as the tool keeps them for the monitor: taken from
// the communication library's optional read_frames after every register
// operation's call and while the monitor is shown, from the program's start
// on, in a store of the last Capacity records.
//
// It also gives the link statistics the time of each call's exchange alone,
// apart from the wait for replies still owed that came before it.
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

#include "comm_mb.h"

// One record, or a mark where the library's ring lost records before the
// tool read them (kind 0, lost > 0).
struct FrameRecord {
    comm_frame frame{};
    uint64_t lost = 0;
};

// What the records tell of the latest library call.
struct CallTiming {
    bool exchangeKnown = false;
    double exchangeMs = 0; // from the request going out to the end of its answer
    bool waitKnown = false;
    double waitMs = 0; // the wait for owed replies before the request went out
};

class FrameLog {
  public:
    static constexpr std::size_t Capacity = 10000;

    // The one store of the program.
    static FrameLog& global();

    // Binds the library's read_frames; null for a library without it. Asks
    // the library once whether it can see the line.
    void bind(read_frames_fn reader);
    bool available() const { return reader_ != nullptr && working_; }
    // Why not, in one sentence for the technician; empty when available.
    QString unavailableReason() const;

    // Takes in what the library recorded since the last pull; returns how
    // many records came.
    std::size_t pull();
    // pull() right after a library call, and what its records tell of it.
    CallTiming afterCall();

    // The records kept, oldest first.
    std::size_t size() const { return size_; }
    const FrameRecord& at(std::size_t i) const;
    // Records ever taken in, marks included: what the view has seen is a
    // count of these.
    uint64_t taken() const { return taken_; }

  private:
    void keep(const FrameRecord& r);

    read_frames_fn reader_ = nullptr;
    bool working_ = false;
    uint64_t after_ = 0; // the number of the last record read
    std::vector<FrameRecord> ring_;
    std::size_t size_ = 0;
    uint64_t taken_ = 0;
};
