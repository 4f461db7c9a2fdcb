// Not a test: prints what listening costs and how well it hears. The
// simulator, a process of its own, puts a controller polling every 10 ms at
// 115200 bit/s on a line with two modules; this program listens through the
// built library as the monitor does (a look every 100 ms) for --seconds
// (120 unless told), then compares what it heard with the controller's own
// counts: frames lost or merged, and its own share of one core.
//
//   bench_listen [--seconds N] [--baud BPS] [--period MS]
#include "comm_mb.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::map<std::string, long> parseCounts(const std::string& text) {
    std::map<std::string, long> counts;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = std::min(text.find('\n', start), text.size());
        const std::string line = text.substr(start, end - start);
        const auto space = line.find(' ');
        if (space != std::string::npos)
            counts[line.substr(0, space)] = std::atol(line.c_str() + space + 1);
        start = end + 1;
    }
    return counts;
}

} // namespace

int main(int argc, char** argv) {
    int seconds = 120, baud = 115200, period = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--seconds"))
            seconds = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--baud"))
            baud = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--period"))
            period = std::atoi(argv[i + 1]);
    }
    const std::string baudText = std::to_string(baud), periodText = std::to_string(period);
    const std::vector<std::string> args = {
        QS_SIM_EXE, "--baud",    baudText,   "--parity",       "even",     "--module", "3",
        "--module", "7",         "--master", "3:1024:3,7:0:2", "--period", periodText, "--pause",
        "1",        "--timeout", "50",       "--listeners",    "1"};
    int out[2];
    if (pipe(out) != 0)
        return 1;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        std::vector<char*> argv2;
        for (const std::string& a : args)
            argv2.push_back(const_cast<char*>(a.c_str()));
        argv2.push_back(nullptr);
        execv(QS_SIM_EXE, argv2.data());
        _exit(127);
    }
    close(out[1]);
    FILE* simOut = fdopen(out[0], "r");
    char line[512];
    if (!fgets(line, sizeof line, simOut)) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }
    line[std::strcspn(line, "\n")] = 0;
    if (listen_start(line, baud, 2) != COMM_OK) {
        std::fprintf(stderr, "listen_start failed: %s\n", std::strerror(errno));
        return 1;
    }

    const double cpu0 = cpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    long frames = 0, spoilt = 0, joined = 0, requests = 0, replies = 0;
    uint64_t lost = 0;
    std::vector<comm_heard> chunk(512);
    const auto end = t0 + std::chrono::seconds(seconds);
    bool stopped = false;
    for (;;) {
        if (!stopped && std::chrono::steady_clock::now() >= end) {
            kill(pid, SIGTERM); // the controller stops; its counts follow
            stopped = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        int32_t count = 0;
        uint64_t dropped = 0;
        int32_t rc;
        do {
            rc = listen_read(chunk.data(), static_cast<int32_t>(chunk.size()), sizeof(comm_heard),
                             0, &count, &dropped);
            lost += dropped;
            for (int i = 0; i < count; ++i) {
                const comm_heard& h = chunk[static_cast<std::size_t>(i)];
                if (h.code == COMM_HEARD_FAILED)
                    continue;
                ++frames;
                if (h.code != COMM_HEARD_FRAME)
                    ++spoilt;
                if (h.flags & COMM_HEARD_JOINED)
                    ++joined;
                if (h.code == COMM_HEARD_FRAME && h.length == 8)
                    ++requests; // the round reads: 8-byte requests, longer replies
                else if (h.code == COMM_HEARD_FRAME)
                    ++replies;
            }
        } while (rc == COMM_OK && count == static_cast<int32_t>(chunk.size()));
        if (rc == COMM_NOT_OPEN)
            break; // the simulator has gone
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = cpuSeconds() - cpu0;
    listen_stop();
    std::string rest;
    while (fgets(line, sizeof line, simOut))
        rest += line;
    int status = 0;
    waitpid(pid, &status, 0);
    const auto counts = parseCounts(rest);

    std::printf("listening at %d bit/s to a controller polling every %d ms, %.0f s\n", baud, period,
                wall);
    std::printf("  controller: requests %ld, replies %ld, timeouts %ld, listener bytes %ld\n",
                counts.count("requests") ? counts.at("requests") : -1,
                counts.count("replies") ? counts.at("replies") : -1,
                counts.count("timeouts") ? counts.at("timeouts") : -1,
                counts.count("listener_bytes") ? counts.at("listener_bytes") : -1);
    std::printf("  heard:      requests %ld, replies %ld, frames %ld\n", requests, replies, frames);
    // Two frames taken for one would show as a spoilt frame and one frame
    // fewer; frames that came in one read and were cut apart by their
    // lengths are counted on their own.
    std::printf("  lost or merged (requests + replies - heard): %ld; spoilt %ld; dropped by the "
                "ring %llu\n  cut apart by length, no silence seen before them: %ld\n",
                (counts.count("requests") ? counts.at("requests") + counts.at("replies") : 0) -
                    requests - replies,
                spoilt, static_cast<unsigned long long>(lost), joined);
    std::printf("  this process's CPU: %.2f s in %.0f s = %.2f %% of one core\n", cpu, wall,
                100.0 * cpu / wall);
    return 0;
}
