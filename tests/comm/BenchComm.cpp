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

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <modbus.h>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

using Clock = std::chrono::steady_clock;

static double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Poll times in milliseconds, sorted.
struct Times {
    std::vector<double> ms;
    int failures = 0;
    double median() {
        std::sort(ms.begin(), ms.end());
        return ms.empty() ? 0 : ms[ms.size() / 2];
    }
    double mean() const {
        return ms.empty() ? 0 : std::accumulate(ms.begin(), ms.end(), 0.0) / ms.size();
    }
};

// Reads of three registers on one simulated module at `baud`, even parity,
// in rounds that take turns: the library, then bare libmodbus on the same
// pty, so that both meet the same machine. Between its rounds the library
// gives the port up (init_comm with a parity it refuses closes the link).
bool pollBoth(int baud, int rounds, int perRound, Times& library, Times& bare) {
    sim::SimModule module(sim::Options{.baud = baud, .parity = 2});
    const std::string path = module.devicePath();
    uint16_t words[3] = {};
    for (int round = 0; round < rounds; ++round) {
        if (init_comm(path.c_str(), baud, 2) != COMM_OK)
            return false;
        for (int i = 0; i < perRound; ++i) {
            const auto start = Clock::now();
            library.failures += invoke_modb(1, 3, 1024, 3, words) != COMM_OK ? 1 : 0;
            library.ms.push_back(msSince(start));
        }
        init_comm(path.c_str(), baud, 9); // closes the link

        modbus_t* ctx = modbus_new_rtu(path.c_str(), baud, 'E', 8, 1);
        if (ctx == nullptr)
            return false;
        if (modbus_connect(ctx) != 0) {
            modbus_free(ctx);
            return false;
        }
        modbus_set_slave(ctx, 1);
        modbus_set_response_timeout(ctx, 0, 250'000);
        for (int i = 0; i < perRound; ++i) {
            const auto start = Clock::now();
            bare.failures += modbus_read_registers(ctx, 1024, 3, words) != 3 ? 1 : 0;
            bare.ms.push_back(msSince(start));
        }
        modbus_close(ctx);
        modbus_free(ctx);
    }
    return true;
}

int main() {
    for (int baud : {2400, 19200, 115200}) {
        Times library, bare;
        if (!pollBoth(baud, 10, baud == 2400 ? 10 : 40, library, bare)) {
            std::fprintf(stderr, "cannot open a simulated module at %d bit/s\n", baud);
            return 1;
        }
        const double lib = library.median(), ref = bare.median();
        std::printf("read of 3 registers at %6d bit/s: library %.3f ms median (mean %.3f, %d of "
                    "%zu failed), bare libmodbus on the same pty %.3f ms (mean %.3f, %d failed): "
                    "%.2fx\n",
                    baud, lib, library.mean(), library.failures, library.ms.size(), ref,
                    bare.mean(), bare.failures, lib / ref);
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
    {
        // Late replies, up to 1 s late, from a module that answers in order:
        // registers of values of their own read in turn with the tool's
        // three attempts; a value of another register is a misrouted read.
        const std::pair<uint16_t, uint16_t> registers[] = {
            {768, 17}, {0, 0x082A}, {769, 0x0203}, {1, 0x68EF}, {256, 0x60EF}, {258, 192}};
        int reads = 0, answered = 0, misrouted = 0;
        const auto start = Clock::now();
        for (const int delay : {300, 600, 950}) {
            sim::SimModule slow(sim::Options{.calibrationDate = 0x60EF});
            slow.answerInOrder(true);
            if (init_comm(slow.devicePath().c_str(), 19200, 2) != COMM_OK) {
                return 1;
            }
            for (int spell = 0; spell < 4; ++spell) {
                slow.delayNext(delay, 2 + spell % 2);
                for (const auto& [reg, expected] : registers) {
                    uint16_t value = 0xFFFF;
                    int32_t rc = COMM_NO_REPLY;
                    for (int attempt = 0; attempt < 3 && rc != COMM_OK; ++attempt) {
                        rc = invoke_modb(1, 3, reg, 1, &value);
                    }
                    ++reads;
                    if (rc == COMM_OK) {
                        ++answered;
                        misrouted += value != expected ? 1 : 0;
                    }
                }
            }
        }
        std::printf("late replies (300, 600 and 950 ms late, in order): %d reads, %d answered, "
                    "%d misrouted, %.1f s\n",
                    reads, answered, misrouted, msSince(start) / 1000);
    }

    sim::SimModule module(sim::Options{.address = 5}); // deaf to address 1
    int32_t baud = 0;
    uint8_t parity = 0;
    const auto start = Clock::now();
    const int32_t rc = EnumParameters(module.devicePath().c_str(), 17, 0x082A, 1, &baud, &parity);
    std::printf("search with no module answering: %.0f ms (result %d)\n", msSince(start), rc);
    return 0;
}
