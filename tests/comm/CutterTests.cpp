// The cutting of what a listener hears into frames, fed scripted pieces:
// frames alone and together, split by an adapter, cut short, garbled, joined
// without silence, garbage, runs longer than any frame. Runs on Windows too.
#include "Cutter.h"
#include "Rtu.h"
#include "comm_mb.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int32_t Baud = 19200;
constexpr int64_t Char = 11 * 1000000 / Baud; // 572 us

Bytes crcd(Bytes b) {
    const auto n = b.size();
    b.resize(n + 2);
    rtu::putCrc(b.data(), n);
    return b;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes part(const Bytes& b, std::size_t from, std::size_t n) {
    return Bytes(b.begin() + static_cast<long>(from),
                 b.begin() + static_cast<long>(std::min(from + n, b.size())));
}

const Bytes ReadReq = crcd({0x03, 0x03, 0x04, 0x00, 0x00, 0x03});
const Bytes ReadRep = crcd({0x03, 0x03, 0x06, 0x00, 0x00, 0x2E, 0xE3, 0x00, 0x00});
const Bytes Exception = crcd({0x03, 0x83, 0x02});
const Bytes WriteReq = crcd({0x01, 0x10, 0x07, 0x78, 0x00, 0x01, 0x02, 0x5A, 0xC3});
const Bytes WriteRep = crcd({0x01, 0x10, 0x07, 0x78, 0x00, 0x01});
const Bytes Coils = crcd({0x02, 0x01, 0x00, 0x10, 0x00, 0x0A});
const Bytes CoilsRep = crcd({0x02, 0x01, 0x02, 0x55, 0x01});
const Bytes Inputs = crcd({0x02, 0x02, 0x00, 0x00, 0x00, 0x08});
const Bytes InputsRep = crcd({0x02, 0x02, 0x01, 0x81});
const Bytes InReg = crcd({0x02, 0x04, 0x00, 0x00, 0x00, 0x01});
const Bytes InRegRep = crcd({0x02, 0x04, 0x02, 0x12, 0x34});
const Bytes Coil = crcd({0x02, 0x05, 0x00, 0x01, 0xFF, 0x00});
const Bytes Single = crcd({0x02, 0x06, 0x01, 0x08, 0x00, 0x02});
const Bytes MultiCoils = crcd({0x02, 0x0F, 0x00, 0x13, 0x00, 0x0A, 0x02, 0xCD, 0x01});
const Bytes MultiCoilsRep = crcd({0x02, 0x0F, 0x00, 0x13, 0x00, 0x0A});
const Bytes ReportId = crcd({0x05, 0x11, 0x03, 0x41, 0x42, 0x43}); // function 17: by silence only
Bytes badCrc(Bytes b) {
    b.back() ^= 0xFF;
    return b;
}
const Bytes Noise = {0x7F, 0x41, 0x13};

struct Piece {
    Bytes bytes;
    int64_t at; // when its read returned, us
};

struct Out {
    int32_t code;
    int length;
    bool joined;
};

struct Case {
    const char* what;
    std::vector<Piece> pieces;
    std::vector<Out> out;
};

std::vector<comm_heard> run(const std::vector<Piece>& pieces) {
    std::vector<comm_heard> heard;
    comm::Cutter cutter(Baud, 2, [&](const comm_heard& h) { heard.push_back(h); });
    for (const Piece& p : pieces)
        cutter.feed(p.bytes.data(), static_cast<int>(p.bytes.size()), p.at, p.at + 1000000);
    cutter.silence();
    EXPECT_EQ(cutter.held(), 0);
    return heard;
}

std::string describe(const std::vector<comm_heard>& heard) {
    std::string s;
    for (const comm_heard& h : heard)
        s += " [code " + std::to_string(h.code) + " len " + std::to_string(h.length) +
             (h.flags & COMM_HEARD_JOINED ? " joined" : "") + "]";
    return s;
}

constexpr int32_t F = COMM_HEARD_FRAME, Crc = COMM_HEARD_BAD_CRC, Cut = COMM_HEARD_CUT,
                  Garbage = COMM_HEARD_NOISE, Long = COMM_HEARD_LONG;

TEST(Cutter, EveryCutMergeAndGarbage) {
    const Bytes stuck(1000, 0xFF); // a device babbling without a pause
    const Bytes longFrame = [] {
        Bytes b{0x03, 0x03, 0xFF};
        while (b.size() < 298)
            b.push_back(static_cast<uint8_t>(b.size()));
        return crcd(b); // 300 bytes with a right CRC
    }();
    const Case cases[] = {
        {"a request alone", {{ReadReq, 10000}}, {{F, 8, false}}},
        {"request and reply apart",
         {{ReadReq, 10000}, {ReadRep, 30000}},
         {{F, 8, false}, {F, 11, false}}},
        {"request and reply in one piece",
         {{ReadReq + ReadRep, 10000}},
         {{F, 8, false}, {F, 11, true}}},
        {"a reply in two pieces close together",
         {{part(ReadRep, 0, 5), 10000}, {part(ReadRep, 5, 6), 10000 + 7 * Char}},
         {{F, 11, false}}},
        {"a reply in two pieces 10 ms apart (an adapter's bursts)",
         {{part(ReadRep, 0, 5), 10000}, {part(ReadRep, 5, 6), 20000}},
         {{F, 11, false}}},
        {"a reply in single bytes",
         [] {
             std::vector<Piece> p;
             for (std::size_t i = 0; i < ReadRep.size(); ++i)
                 p.push_back({{ReadRep[i]}, 10000 + static_cast<int64_t>(i) * Char});
             return p;
         }(),
         {{F, 11, false}}},
        {"the same request twice without silence",
         {{ReadReq + ReadReq, 10000}},
         {{F, 8, false}, {F, 8, true}}},
        {"an exception reply",
         {{ReadReq, 10000}, {Exception, 30000}},
         {{F, 8, false}, {F, 5, false}}},
        {"a write and its reply in one piece",
         {{WriteReq + WriteRep, 10000}},
         {{F, 11, false}, {F, 8, true}}},
        {"functions 1, 2, 4, 5, 6 and 15 with their replies in one piece",
         {{Coils + CoilsRep + Inputs + InputsRep + InReg + InRegRep + Coil + Coil + Single +
               Single + MultiCoils + MultiCoilsRep,
           10000}},
         {{F, 8, false},
          {F, 7, true},
          {F, 8, true},
          {F, 6, true},
          {F, 8, true},
          {F, 7, true},
          {F, 8, true},
          {F, 8, true},
          {F, 8, true},
          {F, 8, true},
          {F, 11, true},
          {F, 8, true}}},
        {"a function of its own, by silence alone", {{ReportId, 10000}}, {{F, 8, false}}},
        {"a function of its own followed by a request without silence",
         {{ReportId + ReadReq, 10000}},
         {{F, 8, false}, {F, 8, true}}},
        {"a request cut short", {{part(ReadReq, 0, 4), 10000}}, {{Cut, 4, false}}},
        {"a reply cut short after its byte count",
         {{part(ReadRep, 0, 7), 10000}},
         {{Cut, 7, false}}},
        {"a request cut short, the reply right after it",
         {{part(ReadReq, 0, 4) + ReadRep, 10000}},
         {{Cut, 4, false}, {F, 11, true}}},
        {"a request cut short, silence, a request",
         {{part(ReadReq, 0, 4), 10000}, {ReadReq, 10000 + 20 * Char}},
         {{Cut, 4, false}, {F, 8, false}}},
        {"a wrong CRC", {{badCrc(ReadReq), 10000}}, {{Crc, 8, false}}},
        {"a wrong CRC, then the reply without silence",
         {{badCrc(ReadReq) + ReadRep, 10000}},
         {{Crc, 8, false}, {F, 11, true}}},
        {"bytes that form no frame", {{Noise, 10000}}, {{Garbage, 3, false}}},
        {"a single byte", {{{0x01}, 10000}}, {{Cut, 1, false}}},
        {"garbage, then a request without silence",
         {{Noise + ReadReq, 10000}},
         {{Garbage, 3, false}, {F, 8, true}}},
        {"a request, then garbage without silence",
         {{ReadReq + Noise, 10000}},
         {{F, 8, false}, {Garbage, 3, true}}},
        {"a frame longer than any, with a right CRC", {{longFrame, 10000}}, {{Long, 256, false}}},
        {"a device babbling for 1000 bytes, then a request after silence",
         {{part(stuck, 0, 400), 10000},
          {part(stuck, 400, 600), 10000 + 600 * Char},
          {ReadReq, 10000 + 1000 * Char + 8 * Char + 5000}},
         {{Long, 256, false}, {F, 8, false}}},
    };
    for (const Case& c : cases) {
        const auto heard = run(c.pieces);
        ASSERT_EQ(heard.size(), c.out.size()) << c.what << ":" << describe(heard);
        for (std::size_t i = 0; i < heard.size(); ++i) {
            EXPECT_EQ(heard[i].code, c.out[i].code) << c.what << " #" << i << describe(heard);
            EXPECT_EQ(heard[i].length, c.out[i].length) << c.what << " #" << i << describe(heard);
            EXPECT_EQ((heard[i].flags & COMM_HEARD_JOINED) != 0, c.out[i].joined)
                << c.what << " #" << i << describe(heard);
            EXPECT_EQ(heard[i].number, i + 1) << c.what;
        }
    }
}

TEST(Cutter, BytesKeptAsTheyCame) {
    const auto heard = run({{Noise + ReadReq + ReadRep, 10000}});
    ASSERT_EQ(heard.size(), 3u);
    const Bytes all = Noise + ReadReq + ReadRep;
    std::size_t at = 0;
    for (const comm_heard& h : heard) {
        EXPECT_EQ(Bytes(h.data, h.data + h.length), part(all, at, h.length));
        at += h.length;
    }
    EXPECT_EQ(at, all.size());
}

TEST(Cutter, OverlongRunCountsWhatItDrops) {
    const Bytes stuck(1000, 0xFF);
    const auto heard =
        run({{part(stuck, 0, 500), 10000}, {part(stuck, 500, 500), 10000 + 500 * Char}});
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].code, COMM_HEARD_LONG);
    EXPECT_EQ(heard[0].length, COMM_FRAME_BYTES);
    EXPECT_EQ(heard[0].dropped, 1000u - COMM_FRAME_BYTES);
}

TEST(Cutter, TimesAndGaps) {
    // The last byte of a piece came just before its read returned, each one
    // before it a character earlier.
    const auto heard = run({{ReadReq, 10000}, {ReadRep, 30000}, {ReadReq + ReadRep, 60000}});
    ASSERT_EQ(heard.size(), 4u);
    EXPECT_EQ(heard[0].time_us, 10000 - 7 * Char);
    EXPECT_EQ(heard[0].end_us, 10000);
    EXPECT_EQ(heard[0].gap_us, -1);
    EXPECT_EQ(heard[1].time_us, 30000 - 10 * Char);
    EXPECT_EQ(heard[1].gap_us, 30000 - 10 * Char - 10000);
    EXPECT_EQ(heard[2].time_us, 60000 - 18 * Char);
    EXPECT_EQ(heard[3].time_us, 60000 - 10 * Char);
    EXPECT_EQ(heard[3].gap_us, Char);
    EXPECT_EQ(heard[0].wall_us, heard[0].time_us + 1000000);
    for (const comm_heard& h : heard) {
        EXPECT_EQ(h.baud, Baud);
        EXPECT_EQ(h.parity, 2);
    }
}

TEST(Cutter, Silence) {
    struct Case {
        int32_t baud;
        int64_t us;
    };
    const Case cases[] = {
        {2400, 16041}, {9600, 4010}, {19200, 2005}, {38400, 1750}, {115200, 1750}};
    for (const Case& c : cases)
        EXPECT_EQ(comm::silenceUs(c.baud), c.us) << c.baud;
}

TEST(Cutter, PatienceWhileAFrameIsUnfinished) {
    comm::Cutter cutter(115200, 0, [](const comm_heard&) {});
    EXPECT_EQ(cutter.patienceUs(), 1750);
    cutter.feed(ReadRep.data(), 5, 1000, 1000);
    EXPECT_EQ(cutter.patienceUs(), comm::Cutter::BurstPatienceUs);
    cutter.feed(Noise.data(), 3, 1000000, 1000000); // after silence: no longer one frame
    EXPECT_EQ(cutter.patienceUs(), 1750);
}

} // namespace
