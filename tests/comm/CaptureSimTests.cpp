// The frames the built library hands out against the simulated module, with
// each fault the module can be made to commit: they must be, byte for byte,
// what the module read and wrote, and the library must say what each was.
#include "SimModule.h"
#include "comm_mb.h"

#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<comm_frame> framesAfter(uint64_t after) {
    std::vector<comm_frame> all;
    std::vector<comm_frame> chunk(64);
    for (;;) {
        int32_t count = 0;
        uint64_t lost = 0;
        EXPECT_EQ(read_frames(after, chunk.data(), static_cast<int32_t>(chunk.size()),
                              sizeof(comm_frame), &count, &lost),
                  COMM_OK);
        EXPECT_EQ(lost, 0u);
        all.insert(all.end(), chunk.begin(), chunk.begin() + count);
        if (count == 0)
            return all;
        after = chunk[static_cast<std::size_t>(count - 1)].number;
    }
}

uint64_t lastNumber() {
    const auto all = framesAfter(0);
    return all.empty() ? 0 : all.back().number;
}

Bytes bytesOf(const comm_frame& f) {
    return Bytes(f.data, f.data + f.length);
}

// The tool's register read: up to three calls of the library.
int32_t readWithRetries(uint16_t reg, uint16_t count) {
    uint16_t words[4] = {};
    int32_t rc = COMM_NO_REPLY;
    for (int attempt = 0; attempt < 3 && rc != COMM_OK; ++attempt)
        rc = invoke_modb(1, 3, reg, count, words);
    return rc;
}

struct Fault {
    const char* name;
    std::function<void(sim::SimModule&)> inject;
    uint8_t kind; // a record of this kind and code must be among the frames
    int32_t code;
    uint16_t length; // and with so many bytes
};

class WithFault : public ::testing::TestWithParam<Fault> {};

} // namespace

TEST_P(WithFault, FramesAreWhatTheModuleReadAndWrote) {
    const Fault& fault = GetParam();
    sim::SimModule module;
    ASSERT_EQ(init_comm(module.devicePath().c_str(), 19200, 2), COMM_OK);
    const uint64_t before = lastNumber();
    fault.inject(module);
    EXPECT_EQ(readWithRetries(1024, 3), COMM_OK);
    // The next exchange takes up what the fault left on the line.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(readWithRetries(768, 1), COMM_OK);
    const std::vector<comm_frame> frames = framesAfter(before);

    std::vector<Bytes> requests;
    Bytes heard;
    bool named = false;
    for (const comm_frame& f : frames) {
        EXPECT_EQ(f.baud, 19200);
        EXPECT_EQ(f.parity, 2);
        if (f.kind == COMM_FRAME_REQUEST)
            requests.push_back(bytesOf(f));
        else
            heard.insert(heard.end(), f.data, f.data + f.length);
        named = named || (f.kind == fault.kind && f.code == fault.code && f.length == fault.length);
    }
    std::vector<Bytes> read;
    Bytes written;
    for (const sim::WireFrame& w : module.wire()) {
        if (w.fromModule)
            written.insert(written.end(), w.bytes.begin(), w.bytes.end());
        else
            read.push_back(w.bytes);
    }
    EXPECT_EQ(requests, read);
    EXPECT_EQ(heard, written);
    EXPECT_TRUE(named) << "no record of kind " << int(fault.kind) << ", code " << fault.code;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, WithFault,
    ::testing::Values(
        Fault{"clean", [](sim::SimModule&) {}, COMM_FRAME_REPLY, COMM_OK, 11},
        Fault{"bad_crc", [](sim::SimModule& m) { m.corruptCrcNext(1); }, COMM_FRAME_REPLY,
              COMM_BAD_CRC, 11},
        Fault{"foreign", [](sim::SimModule& m) { m.foreignNext(1); }, COMM_FRAME_REPLY,
              COMM_WRONG_SLAVE, 11},
        Fault{"cut", [](sim::SimModule& m) { m.cutNext(1); }, COMM_FRAME_REPLY, COMM_NO_REPLY, 5},
        Fault{"exception", [](sim::SimModule& m) { m.exceptionNext(2, 1); }, COMM_FRAME_REPLY, 2,
              5},
        Fault{"garbage", [](sim::SimModule& m) { m.garbageNext(1); }, COMM_FRAME_STRAY, COMM_OK, 3},
        Fault{"dropped", [](sim::SimModule& m) { m.dropNext(1); }, COMM_FRAME_SILENCE,
              COMM_NO_REPLY, 0},
        Fault{"late", [](sim::SimModule& m) { m.delayNext(500, 1); }, COMM_FRAME_LATE, COMM_OK,
              11}),
    [](const ::testing::TestParamInfo<Fault>& info) { return std::string(info.param.name); });

// A retried request keeps its exchange and counts its attempts; the reply
// says how long the module took from the end of the request.
TEST(Capture, AttemptsOfOneExchange) {
    sim::SimModule module;
    ASSERT_EQ(init_comm(module.devicePath().c_str(), 19200, 2), COMM_OK);
    const uint64_t before = lastNumber();
    module.corruptCrcNext(2);
    EXPECT_EQ(readWithRetries(1024, 3), COMM_OK);
    std::vector<std::pair<uint32_t, int>> requests;
    for (const comm_frame& f : framesAfter(before)) {
        if (f.kind == COMM_FRAME_REQUEST)
            requests.emplace_back(f.exchange, f.attempt);
        if (f.kind == COMM_FRAME_REPLY) {
            EXPECT_GE(f.reply_us, 0);
            EXPECT_LT(f.reply_us, 250'000);
        }
    }
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_NE(requests[0].first, 0u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(requests[static_cast<std::size_t>(i)], std::make_pair(requests[0].first, i + 1));
}

// The search's frames are marked, with the line of each try.
TEST(Capture, SearchFramesCarryTheirLine) {
    sim::SimModule module(sim::Options{.baud = 9600, .parity = 1});
    const uint64_t before = lastNumber();
    int32_t baud = 0;
    uint8_t parity = 0;
    ASSERT_EQ(EnumParameters(module.devicePath().c_str(), 17, 0x082A, 1, &baud, &parity), COMM_OK);
    bool foundLine = false;
    for (const comm_frame& f : framesAfter(before)) {
        EXPECT_EQ(f.flags & COMM_FRAME_SEARCH, COMM_FRAME_SEARCH);
        foundLine = foundLine || (f.kind == COMM_FRAME_REPLY && f.code == COMM_OK &&
                                  f.baud == 9600 && f.parity == 1);
    }
    EXPECT_TRUE(foundLine);
}
