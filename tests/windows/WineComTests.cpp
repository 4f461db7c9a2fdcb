// The Windows build of the communication library, run under wine with its COM
// ports mapped to simulated modules on the Linux side (with_sims.sh):
//   COM1: address 1, 19200 bit/s, even parity, serial A0042, 12345 uA applied
//   COM2: 9600 bit/s, odd parity, serial B0123
//   COM3: 19200 bit/s, even parity, every reply with a wrong CRC
// No other COM port up to COM200 leads anywhere.
#include "comm_mb.h"

#include <gtest/gtest.h>

namespace {

constexpr uint16_t A0042 = 0x082A;
constexpr uint16_t B0123 = 2 * 2048 + 123;

} // namespace

TEST(WineCom, EveryResultCodeAModuleCanCause) {
    ASSERT_EQ(init_comm("COM1", 19200, 2), COMM_OK);
    uint16_t words[4] = {};
    ASSERT_EQ(invoke_modb(1, 3, 1024, 3, words), COMM_OK);
    EXPECT_EQ(words[1], 12345);
    EXPECT_EQ(invoke_modb(1, 3, 0, 1, words), COMM_OK);
    EXPECT_EQ(words[0], A0042);

    EXPECT_EQ(invoke_modb(1, 3, 300, 1, words), 2) << "a register outside the map";
    uint16_t mode = 7;
    EXPECT_EQ(invoke_modb(1, 16, 264, 1, &mode), 3) << "a mode the module does not know";
    EXPECT_EQ(invoke_modb(1, 4, 0, 1, words), COMM_BAD_FUNCTION);
    EXPECT_EQ(invoke_modb(1, 3, 0, 5, words), COMM_BAD_BUFFER);
    EXPECT_EQ(invoke_modb(2, 3, 0, 1, words), COMM_NO_REPLY) << "nobody at address 2";

    ASSERT_EQ(init_comm("COM3", 19200, 2), COMM_OK);
    EXPECT_EQ(invoke_modb(1, 3, 0, 1, words), COMM_BAD_CRC);

    EXPECT_NE(init_comm("COM200", 19200, 2), COMM_OK);
    EXPECT_EQ(invoke_modb(1, 3, 0, 1, words), COMM_NOT_OPEN);
}

TEST(WineCom, ASpeedTheDriverCannotMakeIsRefused) {
    // Wine's serial driver has no 28800 and would run the line at 38400: the
    // library must not report such a port as open.
    EXPECT_NE(init_comm("COM1", 28800, 2), COMM_OK);
    uint16_t word = 0;
    EXPECT_EQ(invoke_modb(1, 3, 0, 1, &word), COMM_NOT_OPEN);
    ASSERT_EQ(init_comm("COM1", 57600, 0), COMM_OK) << "a standard speed is set as asked";
}

TEST(WineCom, SearchFindsTheModuleOrSaysNothingAnswered) {
    int32_t baud = 0;
    uint8_t parity = 9;
    ASSERT_EQ(EnumParameters("COM2", 17, B0123, 1, &baud, &parity), COMM_OK);
    EXPECT_EQ(baud, 9600);
    EXPECT_EQ(parity, 1);
    ASSERT_EQ(init_comm("COM2", baud, parity), COMM_OK);
    uint16_t word = 0;
    EXPECT_EQ(invoke_modb(1, 3, 0, 1, &word), COMM_OK);
    EXPECT_EQ(word, B0123);

    baud = -1;
    EXPECT_EQ(EnumParameters("COM1", 17, B0123, 1, &baud, &parity), COMM_NO_REPLY)
        << "COM1 holds another serial number";
    EXPECT_EQ(baud, -1);
    EXPECT_EQ(EnumParameters("COM3", 17, A0042, 1, &baud, &parity), COMM_BAD_CRC);
}
