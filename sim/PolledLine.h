// A whole RS-485 line: a polling master (a controller stand-in), the
// simulated modules and listener endpoints, all on one half-duplex line.
//
// The master sends its polls in turn, one every period, never while it still
// waits for an answer and only once the line has been quiet for its pause. What goes on the line
// reaches everyone else on it: a request reaches every module and every
// listener, an answer reaches the master and every listener.
//
// Timing: a character takes 11 bits at the line speed. A transmission is
// written to the listeners in one go as it starts, and the line then stays
// busy for its length in characters; the next one starts no sooner than a
// silence of 3.5 characters (at least 2 ms) later. A module answers that
// silence plus its own delay after the end of the request.
//
// Each listener endpoint is a pseudo-terminal of its own. What a listener
// writes reaches nobody: it is read, counted (listenerBytes) and dropped.
//
// Faults (FaultRule) spoil every N-th transmission of the master or of one
// module: the spoilt one goes out in place of the frame. A module hears only
// a transmission that is a frame of at most 256 bytes with a right CRC; the
// master takes as an answer only such a frame from the polled address with
// the polled function (or its exception).
//
// All public members are thread-safe: the line runs on a thread of its own.
#pragma once

#include "SimModule.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sim {

// One request of the master's round: a read (function 3) of `count`
// registers, or a write (function 16) of `values` when they are given.
struct Poll {
    uint8_t address = 1;
    uint16_t first = 0;
    uint16_t count = 1;
    std::vector<uint16_t> values{};
};

enum class Fault {
    Noise,  // a few bytes (2..7) that form no frame
    Joined, // the frame twice, without silence between the two
    Cut,    // only the first half of the frame
    Long,   // a frame of 300 bytes (more than any Modbus frame) with a right CRC
    Babble, // garbage for babbleMs without a pause
    BadCrc, // the frame with the high byte of its CRC inverted
};
constexpr int FaultKinds = 6;

// Name of a fault kind as options and the status file spell it ("noise",
// "joined", "cut", "long", "babble", "crc").
const char* FaultName(Fault kind);

struct FaultRule {
    Fault kind = Fault::Noise;
    int every = 1;   // every N-th transmission of the source
    int address = 0; // the source: 0 the master, else the module at this address
};

struct PolledLineOptions {
    int baud = 19200;
    int parity = 2; // 0 none, 1 odd, 2 even
    std::vector<Poll> polls;
    int periodMs = 20;
    int timeoutMs = 100; // the master's wait for an answer after its request ends
    int pauseMs = 10;    // the master's pause once the line has gone quiet, before its request
    int listeners = 1;
    std::vector<FaultRule> faults{};
    int babbleMs = 100;
    std::string statusPath{}; // written every 200 ms and when the line stops
    unsigned seed = 1;        // of the noise, babble and padding bytes
};

// The master's own account, and what went on the line besides.
struct LineCounts {
    long requests = 0;   // transmissions in the master's turns, spoilt ones too
    long replies = 0;    // answers taken (exceptions included)
    long exceptions = 0; // of them, exception answers
    long timeouts = 0;   // requests without an answer in time
    long badReplies = 0; // transmissions heard while waiting that were no answer
    long listenerBytes = 0;
    long faults[FaultKinds] = {};
};

// The counts as "key value" lines: requests, replies, exceptions, timeouts,
// bad_replies, listener_bytes, then fault_<name> for each kind.
std::string StatusText(const LineCounts& counts);

class PolledLine {
  public:
    // Throws std::invalid_argument for impossible options and as SimModule does.
    PolledLine(const std::vector<Options>& modules, const PolledLineOptions& options);
    ~PolledLine(); // stops the line, writes the status file, closes the endpoints
    PolledLine(const PolledLine&) = delete;
    PolledLine& operator=(const PolledLine&) = delete;

    std::size_t size() const;
    SimModule& module(std::size_t i);

    // The listener endpoints, e.g. "/dev/pts/7".
    std::vector<std::string> listenerPaths() const;
    // Listener `i` also reachable through a symbolic link (removed on destruction).
    bool linkAt(std::size_t i, const std::string& path);

    // The master polls from now on (its first request one period later).
    void start();

    // Stops the master and the line for good and writes the status file;
    // the counts are final from then on.
    void stop();

    LineCounts counts() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace sim
