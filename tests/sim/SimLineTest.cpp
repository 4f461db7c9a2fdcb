// Several simulated modules on one line: each answers at its own address and
// line settings, and two at one address collide into garbage.
#include "SimLine.h"
#include "Frame.h"
#include "Master.h"
#include "Registers.h"

using simtest::Master;
using Words = std::vector<uint16_t>;

namespace {

sim::Options At(uint8_t address, int baud, int parity, uint16_t serial) {
    sim::Options o;
    o.address = address;
    o.baud = baud;
    o.parity = parity;
    o.serial = serial;
    return o;
}

TEST(SharedLine, EachModuleAnswersAtItsAddressAndSettings) {
    sim::SimLine line(
        {At(1, 19200, 2, 100), At(2, 9600, 0, 200), At(3, 19200, 2, 300), At(3, 19200, 2, 301)});
    struct Case {
        int baud, parity, slave;
        int result; // 0 or the errno libmodbus leaves
        uint16_t serial;
    };
    const Case cases[] = {
        {19200, 2, 1, 0, 100},       {9600, 0, 2, 0, 200},
        {19200, 2, 2, ETIMEDOUT, 0}, // 2 runs at 9600, no parity
        {9600, 2, 2, ETIMEDOUT, 0},  // nor at even parity
        {19200, 2, 4, ETIMEDOUT, 0}, // nobody there
    };
    for (const Case& c : cases) {
        Master m(line.devicePath(), c.baud, c.parity, c.slave);
        Words got;
        EXPECT_EQ(m.read(reg::SerialNumber, 1, &got), c.result) << c.baud << " " << c.slave;
        if (c.result == 0) {
            EXPECT_EQ(got, Words{c.serial});
        }
    }
    // The two modules at 3 both answer, at once.
    Master m(line.devicePath(), 19200, 2, 3);
    const int result = m.read(reg::SerialNumber, 1);
    EXPECT_NE(result, 0);
    EXPECT_EQ(line.collisions(), 1);
    EXPECT_EQ(line.module(2).requests().size(), 1u);
    EXPECT_EQ(line.module(3).requests().size(), 1u);
    EXPECT_EQ(line.module(0).requests().size(), 1u) << "only its own requests";
}

TEST(SharedLine, CollisionsNeverLookWhole) {
    const std::vector<uint8_t> replies[] = {
        sim::WithCrc({1, 3, 2, 0x08, 0x2A}), sim::WithCrc({5, 3, 4, 0, 17, 2, 3}),
        sim::WithCrc({247, 0x83, 2}),        sim::WithCrc({0xFF, 0xFF, 0xFF}),
        sim::WithCrc({3, 16, 1, 1, 0, 1}),
    };
    for (const auto& a : replies) {
        for (const auto& b : replies) {
            const std::vector<uint8_t> got = sim::Collide(a, b);
            EXPECT_FALSE(sim::CrcFits(got.data(), got.size()));
            EXPECT_EQ(got.size(), std::max(a.size(), b.size() + 1));
        }
    }
}

} // namespace
