// Several simulated modules on one RS-485 line: one pseudo-terminal that the
// tool opens as its serial port, and every module listening on it.
//
// The line frames what the master sends (a request is whole once its length
// has come, or after a pause of LineGap; a frame with a wrong CRC reaches no
// module) and hands each request to every module. Each module answers as on
// a line of its own: only at its address, only when the line runs at its own
// speed and parity. Answers that go out at the same time (same delay) collide:
// the master receives what Collide makes of them, never one of them intact.
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

class SimLine {
  public:
    // One module per entry. Throws as SimModule does.
    explicit SimLine(const std::vector<Options>& modules);
    ~SimLine(); // stops the line and closes the pseudo-terminal
    SimLine(const SimLine&) = delete;
    SimLine& operator=(const SimLine&) = delete;

    // The slave side of the pseudo-terminal, e.g. "/dev/pts/7".
    std::string devicePath() const;
    // Also reachable through a symbolic link at `path` (removed on destruction).
    bool linkAt(const std::string& path);

    std::size_t size() const;
    // The modules in the order given; each keeps its registers, faults and
    // log of requests as a module on a line of its own does.
    SimModule& module(std::size_t i);

    // How often answers have collided since the start.
    int collisions() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// What the master receives when two modules answer at once: the second one a
// character later, and on the line a 0 bit of either wins (an idle line is
// all 1s). Never a frame with a right CRC.
std::vector<uint8_t> Collide(const std::vector<uint8_t>& first, const std::vector<uint8_t>& second);

} // namespace sim
