// Prints the mean time of one poll (a read of three registers) through a
// Modbus TCP gateway on 127.0.0.1 (the simulated one), through the library
// and through bare libmodbus's TCP client on the same gateway, the same
// through a transparent serial server (the library alone), and what a
// request to a dead gateway (connection refused) costs. Not a test: the
// numbers depend on the machine. Run with the library's default settings.
#include "Gateway.h"
#include "comm_mb.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <modbus.h>
#include <numeric>
#include <string>
#include <vector>

using Clock = std::chrono::steady_clock;

static double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

namespace {

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

// Rounds that take turns, so that both meet the same machine: the library,
// then libmodbus, each on a connection of its own.
bool pollBoth(sim::Gateway& gateway, int rounds, int perRound, Times& library, Times& bare) {
    uint16_t words[3] = {};
    for (int round = 0; round < rounds; ++round) {
        if (init_comm(gateway.portName().c_str(), 19200, 2) != COMM_OK)
            return false;
        for (int i = 0; i < perRound; ++i) {
            const auto start = Clock::now();
            library.failures += invoke_modb(1, 3, 1024, 3, words) != COMM_OK ? 1 : 0;
            library.ms.push_back(msSince(start));
        }
        init_comm("", 19200, 2); // closes the link

        modbus_t* ctx = modbus_new_tcp("127.0.0.1", gateway.port());
        if (ctx == nullptr || modbus_connect(ctx) != 0) {
            if (ctx != nullptr)
                modbus_free(ctx);
            return false;
        }
        modbus_set_slave(ctx, 1);
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

} // namespace

int main() {
    {
        sim::Gateway gateway(sim::GatewayKind::ModbusTcp, {sim::Options{}});
        Times library, bare;
        if (!pollBoth(gateway, 10, 200, library, bare)) {
            std::fprintf(stderr, "cannot reach the simulated gateway\n");
            return 1;
        }
        std::printf("read of 3 registers through Modbus TCP on 127.0.0.1: library %.3f ms median "
                    "(mean %.3f, %d of %zu failed), bare libmodbus %.3f ms median (mean %.3f, %d "
                    "failed): %.2fx\n",
                    library.median(), library.mean(), library.failures, library.ms.size(),
                    bare.median(), bare.mean(), bare.failures, library.median() / bare.median());
    }
    {
        sim::Gateway gateway(sim::GatewayKind::RtuTcp, {sim::Options{}});
        Times library;
        uint16_t words[3] = {};
        if (init_comm(gateway.portName().c_str(), 19200, 2) != COMM_OK)
            return 1;
        for (int i = 0; i < 2000; ++i) {
            const auto start = Clock::now();
            library.failures += invoke_modb(1, 3, 1024, 3, words) != COMM_OK ? 1 : 0;
            library.ms.push_back(msSince(start));
        }
        init_comm("", 19200, 2);
        std::printf("read of 3 registers through a transparent server on 127.0.0.1: library "
                    "%.3f ms median (mean %.3f, %d of %zu failed)\n",
                    library.median(), library.mean(), library.failures, library.ms.size());
    }
    {
        // A dead gateway: the library's open, and a request made after the
        // gateway went away (the connection made again, refused).
        const std::string dead = "tcp:127.0.0.1:" + std::to_string(sim::UnusedPort());
        Times open;
        for (int i = 0; i < 100; ++i) {
            const auto start = Clock::now();
            open.failures += init_comm(dead.c_str(), 19200, 2) == COMM_OPEN_FAILED ? 0 : 1;
            open.ms.push_back(msSince(start));
        }
        std::printf("init_comm on a refused port: %.3f ms median (%d unexpected)\n", open.median(),
                    open.failures);
        Times request;
        {
            auto gateway = std::make_unique<sim::Gateway>(
                sim::GatewayKind::ModbusTcp, std::vector<sim::Options>{sim::Options{}});
            if (init_comm(gateway->portName().c_str(), 19200, 2) != COMM_OK)
                return 1;
            gateway.reset(); // gone: every later request is refused its connection
        }
        uint16_t words[3] = {};
        for (int i = 0; i < 100; ++i) {
            const auto start = Clock::now();
            request.failures += invoke_modb(1, 3, 1024, 3, words) == COMM_IO_ERROR ? 0 : 1;
            request.ms.push_back(msSince(start));
        }
        init_comm("", 19200, 2);
        std::printf("a request to a dead gateway (connection refused): %.3f ms median, %.3f ms "
                    "at most (%d unexpected); the connect time-out bounds it (2000 ms by "
                    "default)\n",
                    request.median(), *std::max_element(request.ms.begin(), request.ms.end()),
                    request.failures);
    }
    return 0;
}
