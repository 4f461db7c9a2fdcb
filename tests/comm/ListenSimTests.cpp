// Listening through the built library to the simulated line, where a
// controller stand-in polls two modules: what is heard against what the
// master asked and its own counts, replies paired with their requests, the
// silences, every fault the line can be made to carry heard as spoilt, and
// not one byte sent.
#include "PolledLine.h"
#include "Rtu.h"
#include "comm_mb.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

constexpr int Baud = 19200;
constexpr int64_t CharUs = 11 * 1000000 / Baud;

Bytes crcd(Bytes b) {
    const auto n = b.size();
    b.resize(n + 2);
    rtu::putCrc(b.data(), n);
    return b;
}

Bytes bytesOf(const comm_heard& h) {
    return Bytes(h.data, h.data + h.length);
}

std::vector<sim::Options> twoModules() {
    sim::Options a;
    a.address = 3;
    a.baud = Baud;
    sim::Options b = a;
    b.address = 7;
    b.serial = 0x0101;
    return {a, b};
}

sim::PolledLineOptions lineOptions() {
    sim::PolledLineOptions o;
    o.baud = Baud;
    o.parity = 2;
    o.polls = {{3, 1024, 3, {}}, {7, 0, 2, {}}, {7, 257, 1, {7}}};
    o.periodMs = 20;
    o.timeoutMs = 60;
    o.pauseMs = 5;
    o.listeners = 1;
    return o;
}

// Everything heard until listening ends or `enough` frames have come.
std::vector<comm_heard> takeAll(uint64_t* lostSum = nullptr) {
    std::vector<comm_heard> all;
    std::vector<comm_heard> chunk(256);
    for (int rounds = 0; rounds < 100; ++rounds) {
        int32_t count = 0;
        uint64_t lost = 0;
        const int32_t rc = listen_read(chunk.data(), static_cast<int32_t>(chunk.size()),
                                       sizeof(comm_heard), 50, &count, &lost);
        if (lostSum)
            *lostSum += lost;
        all.insert(all.end(), chunk.begin(), chunk.begin() + count);
        if (rc == COMM_NOT_OPEN || (rc == COMM_OK && count == 0))
            break;
        EXPECT_EQ(rc, COMM_OK);
    }
    return all;
}

bool spoilt(const comm_heard& h) {
    return h.code != COMM_HEARD_FRAME || (h.flags & COMM_HEARD_JOINED) != 0;
}

// The listener's view of a run: the line polled for `ms`, stopped, its counts.
struct Heard {
    std::vector<comm_heard> heard;
    sim::LineCounts counts;
};

Heard listenTo(const sim::PolledLineOptions& options, int ms) {
    Heard run;
    sim::PolledLine line(twoModules(), options);
    const std::string path = line.listenerPaths().at(0);
    EXPECT_EQ(listen_start(path.c_str(), options.baud, static_cast<uint8_t>(options.parity)),
              COMM_OK);
    line.start();
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    line.stop();
    std::this_thread::sleep_for(100ms); // the last frame's silence
    run.heard = takeAll();
    EXPECT_EQ(listen_stop(), COMM_OK);
    run.counts = line.counts();
    return run;
}

TEST(ListenSim, HearsTheMasterAndTheModulesByteForByte) {
    const auto options = lineOptions();
    const Heard run = listenTo(options, 1500);
    ASSERT_GT(run.counts.requests, 20);
    EXPECT_EQ(run.counts.listenerBytes, 0) << "the listener sent bytes";

    std::vector<Bytes> asked;
    for (const sim::Poll& p : options.polls) {
        Bytes b{p.address,
                static_cast<uint8_t>(p.values.empty() ? 3 : 16),
                static_cast<uint8_t>(p.first >> 8),
                static_cast<uint8_t>(p.first),
                static_cast<uint8_t>(p.count >> 8),
                static_cast<uint8_t>(p.count)};
        if (!p.values.empty()) {
            b.push_back(static_cast<uint8_t>(2 * p.values.size()));
            for (uint16_t v : p.values) {
                b.push_back(static_cast<uint8_t>(v >> 8));
                b.push_back(static_cast<uint8_t>(v));
            }
        }
        asked.push_back(crcd(b));
    }

    long requests = 0, replies = 0, exceptions = 0;
    const comm_heard* pending = nullptr;
    std::size_t pendingPoll = 0;
    for (const comm_heard& h : run.heard) {
        ASSERT_FALSE(spoilt(h)) << "code " << h.code << " frame " << h.number;
        const Bytes b = bytesOf(h);
        bool isRequest = false;
        for (std::size_t i = 0; i < asked.size(); ++i)
            if (b == asked[i]) {
                isRequest = true;
                // The master polls in turn.
                if (requests > 0) {
                    EXPECT_EQ(i, (pendingPoll + 1) % asked.size()) << "frame " << h.number;
                }
                pendingPoll = i;
            }
        if (isRequest) {
            ++requests;
            pending = &h;
            // The master waits for the line to be quiet for its pause.
            if (h.gap_us >= 0) {
                EXPECT_GE(h.gap_us, options.pauseMs * 1000 - 8 * CharUs - 2000) << h.number;
            }
            continue;
        }
        ASSERT_NE(pending, nullptr) << "a reply before any request, frame " << h.number;
        const Bytes& req = asked[pendingPoll];
        EXPECT_EQ(b[0], req[0]) << "reply from another address, frame " << h.number;
        if (b[1] & 0x80) {
            EXPECT_EQ(b[1], req[1] | 0x80) << h.number;
            ++exceptions;
        } else if (req[1] == 3) {
            EXPECT_EQ(b.size(), 5u + 2u * req[5]);
            EXPECT_EQ(b[2], 2 * req[5]);
        } else {
            EXPECT_EQ(b, crcd(Bytes(req.begin(), req.begin() + 6)));
        }
        if (b[0] == 7 && req[3] == 0 && b[1] == 3) { // the second module's serial number
            EXPECT_EQ((b[3] << 8) | b[4], 0x0101);
        }
        // Within the master's time-out of the request's end.
        EXPECT_GE(h.gap_us, 0);
        EXPECT_LE(h.time_us - pending->end_us, options.timeoutMs * 1000) << h.number;
        ++replies;
        pending = nullptr;
    }
    EXPECT_NEAR(requests, run.counts.requests, 1);
    EXPECT_NEAR(replies, run.counts.replies, 1);
    EXPECT_NEAR(exceptions, run.counts.exceptions, 1);
    EXPECT_EQ(run.counts.timeouts, 0);
}

TEST(ListenSim, EveryFaultHeardAsSpoilt) {
    struct Case {
        sim::Fault kind;
        int address; // 0 the master
    };
    const Case cases[] = {
        {sim::Fault::Noise, 0},  {sim::Fault::Joined, 0}, {sim::Fault::Cut, 0},
        {sim::Fault::Long, 3},   {sim::Fault::Babble, 7}, {sim::Fault::BadCrc, 3},
        {sim::Fault::Joined, 7}, {sim::Fault::Cut, 3},
    };
    for (const Case& c : cases) {
        auto options = lineOptions();
        options.faults = {{c.kind, 4, c.address}};
        options.babbleMs = 60;
        const Heard run = listenTo(options, 1200);
        const long faults = run.counts.faults[static_cast<int>(c.kind)];
        long spoiltFrames = 0;
        for (const comm_heard& h : run.heard)
            spoiltFrames += spoilt(h) ? 1 : 0;
        const std::string what =
            std::string(sim::FaultName(c.kind)) + " from " + std::to_string(c.address);
        EXPECT_GE(faults, 3) << what;
        EXPECT_GE(spoiltFrames, faults - 1) << what;
        EXPECT_LE(spoiltFrames, 2 * faults + 1) << what;
        EXPECT_EQ(run.counts.listenerBytes, 0) << what;
        // Nothing heard is longer than a frame.
        for (const comm_heard& h : run.heard)
            EXPECT_LE(h.length, COMM_FRAME_BYTES) << what;
    }
}

TEST(ListenSim, TheToolsOwnPortIsGivenUpForListening) {
    sim::PolledLine line(twoModules(), lineOptions());
    const std::string path = line.listenerPaths().at(0);
    ASSERT_EQ(init_comm(path.c_str(), Baud, 2), COMM_OK);
    ASSERT_EQ(listen_start(path.c_str(), Baud, 2), COMM_OK);
    uint16_t words[4] = {};
    EXPECT_EQ(invoke_modb(3, 3, 1024, 3, words), COMM_NOT_OPEN) << "the link still sends";
    line.start();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(listen_stop(), COMM_OK);
    line.stop();
    EXPECT_EQ(line.counts().listenerBytes, 0);
    EXPECT_FALSE(takeAll().empty());
    EXPECT_EQ(init_comm(path.c_str(), Baud, 2), COMM_OK) << "the port stays held";
    init_comm("", Baud, 2); // closes the link
}

TEST(ListenSim, TheAdapterPulledEndsListening) {
    auto line = std::make_unique<sim::PolledLine>(twoModules(), lineOptions());
    ASSERT_EQ(listen_start(line->listenerPaths().at(0).c_str(), Baud, 2), COMM_OK);
    line->start();
    std::this_thread::sleep_for(200ms);
    line.reset(); // the endpoint goes away
    const auto start = std::chrono::steady_clock::now();
    std::vector<comm_heard> heard;
    int32_t rc = COMM_OK;
    while (rc == COMM_OK && std::chrono::steady_clock::now() - start < 3s) {
        comm_heard chunk[64];
        int32_t count = 0;
        rc = listen_read(chunk, 64, sizeof(comm_heard), 100, &count, nullptr);
        heard.insert(heard.end(), chunk, chunk + count);
    }
    EXPECT_EQ(rc, COMM_NOT_OPEN) << "listening goes on after the port went away";
    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(heard.back().code, COMM_HEARD_FAILED);
    EXPECT_EQ(heard.back().length, 0);
    EXPECT_EQ(listen_stop(), COMM_OK);
}

TEST(ListenSim, Refusals) {
    struct Case {
        const char* what;
        const char* port;
        int32_t baud;
        uint8_t parity;
        int32_t rc;
        int error;
    };
    const Case cases[] = {
        {"no speed", "/dev/null", 0, 2, COMM_BAD_PARAMETER, EINVAL},
        {"a parity of 3", "/dev/null", 19200, 3, COMM_BAD_PARAMETER, EINVAL},
        {"no such device", "/dev/qs730-no-such-port", 19200, 2, COMM_OPEN_FAILED, ENOENT},
        {"not a serial port", "/dev/null", 19200, 2, COMM_OPEN_FAILED, ENOTTY},
    };
    for (const Case& c : cases) {
        errno = 0;
        EXPECT_EQ(listen_start(c.port, c.baud, c.parity), c.rc) << c.what;
        EXPECT_EQ(errno, c.error) << c.what;
        int32_t count = -1;
        comm_heard h;
        EXPECT_EQ(listen_read(&h, 1, sizeof h, 0, &count, nullptr), COMM_NOT_OPEN) << c.what;
        EXPECT_EQ(count, 0);
    }
    int32_t count = 0;
    comm_heard h;
    EXPECT_EQ(listen_read(nullptr, 1, sizeof h, 0, &count, nullptr), COMM_BAD_BUFFER);
    EXPECT_EQ(listen_read(&h, 1, sizeof h - 1, 0, &count, nullptr), COMM_BAD_BUFFER);
    EXPECT_EQ(listen_read(&h, 1, sizeof h, 1001, &count, nullptr), COMM_BAD_BUFFER);
    EXPECT_EQ(listen_read(&h, 1, sizeof h, 0, nullptr, nullptr), COMM_BAD_BUFFER);
    EXPECT_EQ(listen_stop(), COMM_OK);
}

} // namespace
