// Prints the mean time of one poll (a read of three registers) against the
// simulated module at a few speeds, how long the window freezes when no module
// answers, and how long a search takes then. Not a test: the numbers depend
// on the machine. Run with the library's default settings (no [Link] entry in
// comm_mb.ini beside it).
#include "Link.h"
#include "SimModule.h"
#include "comm_mb.h"

#include <chrono>
#include <cstdio>

using Clock = std::chrono::steady_clock;

static double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int main() {
    constexpr int Polls = 200;
    for (int baud : {2400, 19200, 115200}) {
        sim::SimModule module(sim::Options{.baud = baud, .parity = 2});
        if (init_comm(module.devicePath().c_str(), baud, 2) != COMM_OK) {
            std::fprintf(stderr, "cannot open %s\n", module.devicePath().c_str());
            return 1;
        }
        uint16_t words[3] = {};
        const int polls = baud == 2400 ? Polls / 4 : Polls;
        int failures = 0;
        const auto start = Clock::now();
        for (int i = 0; i < polls; ++i) {
            failures += invoke_modb(1, 3, 1024, 3, words) != COMM_OK ? 1 : 0;
        }
        const double took = msSince(start);
        std::printf("read of 3 registers at %6d bit/s: %.3f ms mean over %d (%d failed, %zu seen "
                    "by the module)\n",
                    baud, took / polls, polls, failures, module.requests().size());
        // A pty passes bytes at once; a real line also needs the request
        // (8 bytes), the reply (11 bytes) and two frame gaps on the wire.
        std::printf("    a real line adds %.1f ms of transmission\n",
                    (8 + 11 + 7) * 11000.0 / baud);
    }

    sim::SimModule module(sim::Options{.address = 5}); // deaf to address 1
    {
        // What the tool's window waits for a module that is not there: one
        // register operation, three calls of the library.
        if (init_comm(module.devicePath().c_str(), 19200, 2) != COMM_OK) {
            return 1;
        }
        uint16_t words[3] = {};
        const auto start = Clock::now();
        int32_t rc = COMM_OK;
        for (int attempt = 0; attempt < 3; ++attempt) {
            rc = invoke_modb(1, 3, 1024, 3, words);
        }
        std::printf("one failing exchange (three attempts) at 19200 bit/s: %.0f ms (result %d)\n",
                    msSince(start), rc);
        // The next, different request first waits out the late replies.
        const auto next = Clock::now();
        rc = invoke_modb(1, 3, 768, 1, words);
        const double took = msSince(next);
        const double own =
            comm::timeoutsFor(19200, comm::requestBytes(3, 1)).response.count() / 1e3;
        std::printf("    the next different request after it: %.0f ms (result %d), of which its "
                    "own time-out %.0f ms, so %.0f ms waiting for late replies\n",
                    took, rc, own, took - own);
    }
    int32_t baud = 0;
    uint8_t parity = 0;
    const auto start = Clock::now();
    const int32_t rc = EnumParameters(module.devicePath().c_str(), 17, 0x082A, 1, &baud, &parity);
    std::printf("search with no module answering: %.0f ms (result %d)\n", msSince(start), rc);
    return 0;
}
