// Prints the mean time of one poll (a read of three registers) against the
// simulated module at a few speeds, through the library and through bare
// libmodbus on the same kind of line (the reference the library is held to),
// how long the window freezes when no module answers, and how long a search
// takes then. Not a test: the numbers depend
// on the machine. Run with the library's default settings (no [Link] entry in
// comm_mb.ini beside it).
#include "Link.h"
#include "SimModule.h"
#include "comm_mb.h"

#include <chrono>
#include <cstdio>
#include <modbus.h>

using Clock = std::chrono::steady_clock;

static double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The mean time of `polls` reads of three registers through bare libmodbus
// against a fresh simulated module at `baud`, even parity; negative when the
// line cannot be opened.
static double bareLibmodbusPoll(int baud, int polls, int& failures) {
    sim::SimModule module(sim::Options{.baud = baud, .parity = 2});
    modbus_t* ctx = modbus_new_rtu(module.devicePath().c_str(), baud, 'E', 8, 1);
    if (ctx == nullptr || modbus_connect(ctx) != 0) {
        if (ctx != nullptr)
            modbus_free(ctx);
        return -1;
    }
    modbus_set_slave(ctx, 1);
    modbus_set_response_timeout(ctx, 0, 250'000);
    uint16_t words[3] = {};
    failures = 0;
    const auto start = Clock::now();
    for (int i = 0; i < polls; ++i)
        failures += modbus_read_registers(ctx, 1024, 3, words) != 3 ? 1 : 0;
    const double took = msSince(start);
    modbus_close(ctx);
    modbus_free(ctx);
    return took / polls;
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
        int bareFailures = 0;
        const double bare = bareLibmodbusPoll(baud, polls, bareFailures);
        std::printf("    bare libmodbus on the same line: %.3f ms mean (%d failed); the library "
                    "takes %.3fx\n",
                    bare, bareFailures, took / polls / bare);
        // A pty passes bytes at once; a real line also needs the request
        // (8 bytes), the reply (11 bytes) and two frame gaps on the wire.
        std::printf("    a real line adds %.1f ms of transmission\n",
                    (8 + 11 + 7) * 11000.0 / baud);
    }

    for (int baud : {19200, 115200}) {
        // What the tool's window waits for a module that is not there: one
        // register operation, three calls of the library.
        sim::SimModule deaf(sim::Options{.address = 5, .baud = baud}); // deaf to address 1
        if (init_comm(deaf.devicePath().c_str(), baud, 2) != COMM_OK) {
            return 1;
        }
        uint16_t words[3] = {};
        const auto start = Clock::now();
        int32_t rc = COMM_OK;
        for (int attempt = 0; attempt < 3; ++attempt) {
            rc = invoke_modb(1, 3, 1024, 3, words);
        }
        std::printf("one failing exchange (three attempts) at %d bit/s: %.0f ms (result %d)\n",
                    baud, msSince(start), rc);
        // The next, different request first waits out the late replies.
        const auto next = Clock::now();
        rc = invoke_modb(1, 3, 768, 1, words);
        const double took = msSince(next);
        const double own = comm::timeoutsFor(baud, comm::requestBytes(3, 1)).response.count() / 1e3;
        std::printf("    the next different request after it: %.0f ms (result %d), of which its "
                    "own time-out %.0f ms, so %.0f ms waiting for late replies\n",
                    took, rc, own, took - own);
    }
    sim::SimModule module(sim::Options{.address = 5}); // deaf to address 1
    int32_t baud = 0;
    uint8_t parity = 0;
    const auto start = Clock::now();
    const int32_t rc = EnumParameters(module.devicePath().c_str(), 17, 0x082A, 1, &baud, &parity);
    std::printf("search with no module answering: %.0f ms (result %d)\n", msSince(start), rc);
    return 0;
}
