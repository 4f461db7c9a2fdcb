// What a line listened to says: each frame heard as a request, the reply to
// the request before it, or neither; the reply's time; the meaning by the
// module's register table for whatever address; and per address the
// requests, replies, exceptions, requests left without an answer, spoilt
// frames and the slowest reply. No widgets.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <map>

#include "FrameMeaning.h"
#include "comm_mb.h"

struct HeardRow {
    enum class Role : uint8_t {
        Request, // a whole frame with a request's length (or a function of its own)
        Reply,   // the answer (or exception) to the request right before it
        Other,   // spoilt, a reply to nothing, the port's failure
    };
    comm_heard frame{};
    Role role = Role::Other;
    RequestShape request; // a reply's: of the request it answers
    int64_t replyUs = -1; // a reply's: from its request's last byte to its first
    int address = -1;     // whose it is counted for; -1 not known
    bool failed = false;  // not what a healthy exchange shows
};

struct AddressStats {
    long requests = 0;
    long replies = 0; // exceptions included
    long exceptions = 0;
    long unanswered = 0; // requests with no reply before the next frame
    long faults = 0;     // spoilt frames, exceptions and replies to nothing
    int64_t slowestUs = -1;
};

// Pairs the frames as they come and counts them per address.
class ListenPairing {
  public:
    static constexpr int UnknownAddress = -1;

    HeardRow take(const comm_heard& frame);
    // Forgets the request owed an answer (frames were lost after it).
    void forgetOwed() { pending_ = false; }
    void clear();

    // Per address, the unknown one (spoilt bytes with no request before
    // them and no address of a module) under UnknownAddress.
    const std::map<int, AddressStats>& stats() const { return stats_; }
    // One line per address, "адрес 3: запросов 60, ответов 59, ...".
    QStringList statsLines() const;

  private:
    bool pending_ = false;
    comm_heard request_{};
    RequestShape shape_;
    std::map<int, AddressStats> stats_; // at most 257 entries
};

// "адрес 3: чтение 1024-1026 (флаги, значение, флаги)",
// "адрес 3: значение 12003, флаги: нет", "CRC неверна", ...
FrameMeaning HeardMeaning(const HeardRow& row);

// The bytes in hex, as HexBytes.
QString HeardHex(const comm_heard& frame);
