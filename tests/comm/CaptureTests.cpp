// The library's ring of frames on its own: bounded, numbered without gaps,
// saying how many records a late reader lost, and keeping no frame longer
// than any Modbus RTU frame can be.
#include "Capture.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

// One stray byte after another: one record each.
void strays(int n) {
    auto& capture = comm::Capture::instance();
    for (int i = 0; i < n; ++i) {
        const uint8_t byte = static_cast<uint8_t>(i);
        capture.received(&byte, 1);
        capture.flushed();
    }
}

std::vector<comm_frame> readAfter(uint64_t after, int32_t capacity, uint64_t& lost) {
    std::vector<comm_frame> out(static_cast<std::size_t>(capacity));
    int32_t count = -1;
    EXPECT_EQ(comm::Capture::instance().read(after, out.data(), capacity, &count, &lost), COMM_OK);
    out.resize(static_cast<std::size_t>(count));
    return out;
}

} // namespace

TEST(CaptureRing, KeepsTheLastRecordsAndCountsTheLost) {
    ASSERT_TRUE(comm::Capture::supported());
    strays(COMM_FRAME_RING + 100);
    uint64_t lost = 0;
    const auto held = readAfter(0, COMM_FRAME_RING + 10, lost);
    ASSERT_EQ(held.size(), std::size_t{COMM_FRAME_RING});
    EXPECT_EQ(held.front().number, lost + 1);
    const uint64_t newest = held.back().number;
    EXPECT_EQ(newest - held.front().number, uint64_t{COMM_FRAME_RING - 1});

    struct Case {
        uint64_t after;
        int32_t capacity;
        std::size_t count;
        uint64_t lost;
        uint64_t first; // number of the first record read
    };
    const uint64_t oldest = held.front().number;
    for (const Case& c : {Case{newest, 8, 0, 0, 0}, Case{newest - 3, 8, 3, 0, newest - 2},
                          Case{newest - 3, 2, 2, 0, newest - 2}, Case{oldest - 1, 1, 1, 0, oldest},
                          Case{oldest - 6, 1, 1, 5, oldest}}) {
        const auto got = readAfter(c.after, c.capacity, lost);
        ASSERT_EQ(got.size(), c.count) << "after " << c.after;
        EXPECT_EQ(lost, c.lost) << "after " << c.after;
        if (c.count > 0) {
            EXPECT_EQ(got.front().number, c.first);
        }
    }
}

TEST(CaptureRing, AStreamLongerThanAnyFrameIsCut) {
    std::vector<uint8_t> babble(300, 0x55);
    babble[0] = 0x01;
    auto& capture = comm::Capture::instance();
    capture.received(babble.data(), 200);
    capture.received(babble.data() + 200, 100);
    capture.flushed();
    uint64_t lost = 0;
    std::vector<comm_frame> all = readAfter(0, COMM_FRAME_RING, lost);
    ASSERT_FALSE(all.empty());
    const comm_frame& f = all.back();
    EXPECT_EQ(f.kind, COMM_FRAME_STRAY);
    EXPECT_EQ(f.length, COMM_FRAME_BYTES);
    EXPECT_EQ(f.dropped, 300u - COMM_FRAME_BYTES);
    EXPECT_EQ(f.data[0], 0x01);
    EXPECT_LE(f.time_us, f.end_us);
}
