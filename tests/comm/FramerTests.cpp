// The frame rules on their own: the CRC against published check values, a
// reply read from scripted pieces (cut, merged, garbled, too long), and what
// a whole frame says as the answer to a request. Runs on Windows too.
#include "Framer.h"
#include "Rtu.h"
#include "comm_mb.h"

#include <chrono>
#include <cstring>
#include <deque>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using std::chrono::microseconds;

Bytes crcd(Bytes b) {
    const auto n = b.size();
    b.resize(n + 2);
    rtu::putCrc(b.data(), n);
    return b;
}

TEST(Crc, PublishedCheckValues) {
    struct Case {
        const char* what;
        Bytes bytes;
        uint16_t crc;
    };
    const std::string check = "123456789";
    const Case cases[] = {
        // The catalogue's check value of CRC-16/MODBUS.
        {"123456789", Bytes(check.begin(), check.end()), 0x4B37},
        {"nothing: the initial value", {}, 0xFFFF},
        // The examples of the serial line guide, CRC sent low byte first:
        // 11 03 00 6B 00 03 76 87 and 01 03 00 00 00 01 84 0A.
        {"read of 3 registers from 107 at 17", {0x11, 0x03, 0x00, 0x6B, 0x00, 0x03}, 0x8776},
        {"read of register 0 at 1", {0x01, 0x03, 0x00, 0x00, 0x00, 0x01}, 0x0A84},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(rtu::crc16(c.bytes.data(), c.bytes.size()), c.crc) << c.what;
        Bytes framed = c.bytes;
        framed.resize(framed.size() + 2);
        rtu::putCrc(framed.data(), c.bytes.size());
        EXPECT_EQ(framed[framed.size() - 2], c.crc & 0xFF) << c.what;
        EXPECT_EQ(framed[framed.size() - 1], c.crc >> 8) << c.what;
        if (!c.bytes.empty()) {
            EXPECT_TRUE(rtu::crcFits(framed.data(), framed.size())) << c.what;
            framed.back() ^= 0x01;
            EXPECT_FALSE(rtu::crcFits(framed.data(), framed.size())) << c.what;
        }
    }
}

TEST(CharTime, ElevenBitsACharacter) {
    EXPECT_EQ(rtu::charsUs(1, 19200), 572);
    EXPECT_EQ(rtu::charsUs(8, 115200), 763);
    EXPECT_EQ(rtu::charsUs(1, 2400), 4583);
    EXPECT_EQ(rtu::charsUs(3, 0), 0);
}

// Bytes as the port hands them over: pieces, a pause (a read that times out)
// or a failure between them. A read never takes more than asked, so what a
// reader leaves stays for the next one.
class Script : public comm::ByteSource {
  public:
    struct Step {
        enum Kind { Piece, Pause, Fail } kind;
        Bytes bytes;
    };
    explicit Script(std::vector<Step> steps) : steps_(steps.begin(), steps.end()) {}

    int read(uint8_t* out, int max, microseconds timeout) override {
        timeouts.push_back(timeout);
        if (steps_.empty())
            return 0;
        Step& s = steps_.front();
        if (s.kind == Step::Pause) {
            steps_.pop_front();
            return 0;
        }
        if (s.kind == Step::Fail)
            return -1;
        const int n = std::min<int>(max, static_cast<int>(s.bytes.size()));
        std::memcpy(out, s.bytes.data(), static_cast<std::size_t>(n));
        s.bytes.erase(s.bytes.begin(), s.bytes.begin() + n);
        if (s.bytes.empty())
            steps_.pop_front();
        return n;
    }
    std::size_t left() const {
        std::size_t n = 0;
        for (const Step& s : steps_)
            n += s.bytes.size();
        return n;
    }
    std::vector<microseconds> timeouts;

  private:
    std::deque<Step> steps_;
};

Script::Step piece(Bytes b) {
    return {Script::Step::Piece, std::move(b)};
}
const Script::Step pause{Script::Step::Pause, {}};
const Script::Step failure{Script::Step::Fail, {}};

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes split(const Bytes& b, std::size_t from, std::size_t to) {
    return Bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(to));
}

TEST(Framer, ReadsExactlyOneReply) {
    const Bytes read3 = crcd({0x01, 0x03, 0x06, 0x00, 0x01, 0x00, 0x02, 0x00, 0x03});
    const Bytes echo = crcd({0x01, 0x10, 0x01, 0x00, 0x00, 0x02});
    const Bytes exception = crcd({0x01, 0x83, 0x02});
    const Bytes unknown = crcd({0x01, 0x41, 0x07});
    Bytes longest = {0x01, 0x03, 251};
    longest.resize(3 + 251, 0x5A);
    longest = crcd(longest);

    using Step = Script::Step;
    struct Case {
        const char* what;
        std::vector<Step> steps;
        comm::Got got;
        int length;       // bytes of the frame read
        std::size_t left; // bytes the reader left at the port
    };
    const Case cases[] = {
        {"a read's reply in one piece", {piece(read3)}, comm::Got::Frame, 11, 0},
        {"the same byte by byte",
         {piece({read3[0]}), piece({read3[1]}), piece({read3[2]}), piece(split(read3, 3, 11))},
         comm::Got::Frame,
         11,
         0},
        {"a write's echo", {piece(echo)}, comm::Got::Frame, 8, 0},
        {"an exception", {piece(exception)}, comm::Got::Frame, 5, 0},
        {"a function no rule knows: five bytes", {piece(unknown)}, comm::Got::Frame, 5, 0},
        {"the longest frame", {piece(longest)}, comm::Got::Frame, 256, 0},
        {"nothing", {}, comm::Got::Nothing, 0, 0},
        {"a pause before anything", {pause, piece(read3)}, comm::Got::Nothing, 0, 11},
        {"cut short after the byte count",
         {piece(split(read3, 0, 3)), pause, piece(split(read3, 3, 11))},
         comm::Got::Cut,
         3,
         8},
        {"cut short in the data", {piece(split(read3, 0, 7))}, comm::Got::Cut, 7, 0},
        {"only an address", {piece({0x01})}, comm::Got::Cut, 1, 0},
        {"two replies merged: the first is read, the second stays",
         {piece(read3 + exception)},
         comm::Got::Frame,
         11,
         5},
        {"an exception merged with garbage",
         {piece(exception + Bytes{0xFF, 0x00, 0x13})},
         comm::Got::Frame,
         5,
         3},
        {"a byte count no frame carries",
         {piece(Bytes{0x01, 0x03, 252} + Bytes(254, 0x00))},
         comm::Got::TooLong,
         3,
         254},
        {"garbage that claims 255 bytes",
         {piece(Bytes{0x55, 0x04, 0xFF, 0x55, 0x55})},
         comm::Got::TooLong,
         3,
         2},
        {"the port fails halfway", {piece(split(read3, 0, 4)), failure}, comm::Got::Failed, 4, 0},
        {"the port fails at once", {failure}, comm::Got::Failed, 0, 0},
    };
    for (const Case& c : cases) {
        Script script(c.steps);
        uint8_t frame[rtu::MaxFrameBytes];
        int length = -1;
        const auto got =
            comm::readReply(script, frame, length, microseconds(250'000), microseconds(21'000));
        EXPECT_EQ(static_cast<int>(got), static_cast<int>(c.got)) << c.what;
        EXPECT_EQ(length, c.length) << c.what;
        EXPECT_EQ(script.left(), c.left) << c.what;
        ASSERT_FALSE(script.timeouts.empty()) << c.what;
        // The first wait is the response time-out, every later one the gap.
        EXPECT_EQ(script.timeouts.front(), microseconds(250'000)) << c.what;
        for (std::size_t i = 1; i < script.timeouts.size(); ++i)
            EXPECT_EQ(script.timeouts[i], microseconds(21'000)) << c.what;
        if (c.got == comm::Got::Frame) {
            EXPECT_TRUE(rtu::crcFits(frame, static_cast<std::size_t>(length))) << c.what;
        }
    }
}

TEST(Framer, WhatAReplySays) {
    const Bytes read3 = crcd({0x07, 0x03, 0x04, 0x00, 0x00, 0x02}); // 2 registers from 1024
    const Bytes write2 = crcd({0x07, 0x10, 0x01, 0x00, 0x00, 0x02, 0x04, 0x12, 0x34, 0x56, 0x78});
    struct Case {
        const char* what;
        const Bytes& request;
        Bytes reply;
        int32_t code;
    };
    const Bytes badCrc = [] {
        Bytes b = crcd({0x07, 0x03, 0x04, 0x11, 0x22, 0x33, 0x44});
        b[3] ^= 0x40;
        return b;
    }();
    const Bytes foreignBadCrc = [] {
        Bytes b = crcd({0x08, 0x03, 0x04, 0x11, 0x22, 0x33, 0x44});
        b.back() ^= 0x01;
        return b;
    }();
    const Case cases[] = {
        {"the answer", read3, crcd({0x07, 0x03, 0x04, 0x11, 0x22, 0x33, 0x44}), COMM_OK},
        {"another slave's answer", read3, crcd({0x08, 0x03, 0x04, 0x11, 0x22, 0x33, 0x44}),
         COMM_WRONG_SLAVE},
        {"another slave's, damaged", read3, foreignBadCrc, COMM_WRONG_SLAVE},
        {"an answer as a broadcast", read3, crcd({0x00, 0x03, 0x04, 0x11, 0x22, 0x33, 0x44}),
         COMM_WRONG_SLAVE},
        {"a damaged answer", read3, badCrc, COMM_BAD_CRC},
        {"exception 2", read3, crcd({0x07, 0x83, 0x02}), 2},
        {"exception 11", read3, crcd({0x07, 0x83, 0x0B}), 11},
        {"exception 0", read3, crcd({0x07, 0x83, 0x00}), COMM_BAD_REPLY},
        {"exception 12", read3, crcd({0x07, 0x83, 0x0C}), COMM_BAD_REPLY},
        {"an exception to another function", read3, crcd({0x07, 0x90, 0x02}), COMM_BAD_REPLY},
        {"another function", read3, crcd({0x07, 0x04, 0x04, 0x11, 0x22, 0x33, 0x44}),
         COMM_BAD_REPLY},
        {"one register too few", read3, crcd({0x07, 0x03, 0x02, 0x11, 0x22}), COMM_BAD_REPLY},
        {"the write's echo", write2, crcd({0x07, 0x10, 0x01, 0x00, 0x00, 0x02}), COMM_OK},
        {"an echo of another count", write2, crcd({0x07, 0x10, 0x01, 0x00, 0x00, 0x01}),
         COMM_BAD_REPLY},
        {"a read's answer to a write", write2, crcd({0x07, 0x03, 0x04, 0x11, 0x22, 0x33, 0x44}),
         COMM_BAD_REPLY},
        {"exception 3 to the write", write2, crcd({0x07, 0x90, 0x03}), 3},
    };
    for (const Case& c : cases) {
        uint16_t data[2] = {0xAAAA, 0xAAAA};
        EXPECT_EQ(comm::judgeReply(c.request.data(), c.reply.data(),
                                   static_cast<int>(c.reply.size()), data),
                  c.code)
            << c.what;
        if (c.code == COMM_OK && c.request[1] == 3) {
            EXPECT_EQ(data[0], 0x1122) << c.what;
            EXPECT_EQ(data[1], 0x3344) << c.what;
        } else {
            EXPECT_EQ(data[0], 0xAAAA) << c.what << ": nothing is stored";
        }
    }
}

} // namespace
