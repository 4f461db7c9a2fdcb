// Prints the mean time of one poll (a read of three registers) against the
// simulated module at a few speeds, and how long a search takes when no module
// answers. Not a test: the numbers depend on the machine.
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
    int32_t baud = 0;
    uint8_t parity = 0;
    const auto start = Clock::now();
    const int32_t rc = EnumParameters(module.devicePath().c_str(), 17, 0x082A, 1, &baud, &parity);
    std::printf("search with no module answering: %.0f ms (result %d)\n", msSince(start), rc);
    return 0;
}
