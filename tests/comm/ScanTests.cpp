// The built library's scan_read against a simulated line of several modules:
// what it reports for each kind of address, late replies heard out, and that
// it only reads.
#include "Registers.h"
#include "SimLine.h"
#include "comm_mb.h"

#include <gtest/gtest.h>

namespace {

sim::Options Module(uint8_t address, uint16_t serial, int baud = 19200, int parity = 2,
                    uint16_t type = reg::TypeQS730) {
    sim::Options o;
    o.address = address;
    o.serial = serial;
    o.baud = baud;
    o.parity = parity;
    o.typeCode = type;
    return o;
}

// 1 and 12 answer, two modules share 5, 9 runs at 9600 bit/s, 12 is of
// another type.
struct MixedLine : ::testing::Test {
    sim::SimLine line{{Module(1, 0x082A), Module(5, 0x082B), Module(5, 0x082C),
                       Module(9, 0x082D, 9600), Module(12, 0x082E, 19200, 2, 12)}};
    void SetUp() override { ASSERT_EQ(init_comm(line.devicePath().c_str(), 19200, 2), COMM_OK); }
    void TearDown() override {
        for (std::size_t i = 0; i < line.size(); ++i)
            for (const sim::Request& r : line.module(i).requests())
                EXPECT_EQ(r.function, 3) << "module " << i << " got a write";
    }
};

TEST_F(MixedLine, EachAddressAsItAnswers) {
    struct Case {
        uint8_t address;
        int32_t code;
        uint16_t type; // of a reply with data
    };
    const Case cases[] = {
        {1, COMM_OK, reg::TypeQS730}, {2, COMM_NO_REPLY, 0}, {5, COMM_BAD_CRC, 0},
        {9, COMM_NO_REPLY, 0},        {12, COMM_OK, 12},     {247, COMM_NO_REPLY, 0}};
    for (const bool patient : {false, true}) {
        for (const Case& c : cases) {
            uint16_t words[2] = {};
            uint8_t other = 0xFF;
            EXPECT_EQ(scan_read(c.address, reg::TypeCode, 2, words, patient, &other), c.code)
                << "address " << int(c.address) << (patient ? " patient" : " quick");
            EXPECT_EQ(other, 0);
            if (c.code == COMM_OK) {
                EXPECT_EQ(words[0], c.type);
                EXPECT_EQ(words[1], 0x0203);
            }
        }
    }
    EXPECT_GT(line.collisions(), 0);
    // The link serves the tool as before.
    uint16_t serial = 0;
    EXPECT_EQ(invoke_modb(1, 3, reg::SerialNumber, 1, &serial), COMM_OK);
    EXPECT_EQ(serial, 0x082A);
}

TEST_F(MixedLine, ModuleRefusalIsItsExceptionCode) {
    line.module(0).exceptionNext(2, 1);
    uint16_t words[2] = {};
    EXPECT_EQ(scan_read(1, reg::TypeCode, 2, words, 0, nullptr), 2);
}

TEST_F(MixedLine, LateReplyIsHeardAtTheNextAddress) {
    line.module(0).delayAll(80); // far beyond the quick allowance
    uint16_t words[2] = {};
    uint8_t other = 0;
    EXPECT_EQ(scan_read(1, reg::TypeCode, 2, words, 0, &other), COMM_NO_REPLY);
    int32_t rc = COMM_NO_REPLY;
    for (uint8_t next = 2; next < 6 && other == 0; ++next)
        rc = scan_read(next, reg::TypeCode, 2, words, 0, &other);
    EXPECT_EQ(other, 1) << "result " << rc;
    // A patient look finds the slow module.
    EXPECT_EQ(scan_read(1, reg::TypeCode, 2, words, 1, &other), COMM_OK);
    EXPECT_EQ(words[0], reg::TypeQS730);
}

TEST(ScanRead, RefusesWhatInvokeModbRefuses) {
    uint16_t words[4] = {};
    EXPECT_EQ(scan_read(1, 0, 0, words, 0, nullptr), COMM_BAD_BUFFER);
    EXPECT_EQ(scan_read(1, 0, 5, words, 0, nullptr), COMM_BAD_BUFFER);
    EXPECT_EQ(scan_read(1, 0, 1, nullptr, 0, nullptr), COMM_BAD_BUFFER);
    EXPECT_EQ(scan_read(0, 0, 1, words, 0, nullptr), COMM_BAD_PARAMETER);
    EXPECT_EQ(scan_read(248, 0, 1, words, 0, nullptr), COMM_BAD_PARAMETER);
    init_comm("/nonexistent/port", 19200, 2);
    EXPECT_EQ(scan_read(1, 0, 1, words, 0, nullptr), COMM_NOT_OPEN);
}

} // namespace
