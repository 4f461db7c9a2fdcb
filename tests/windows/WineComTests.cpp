// The Windows build of the communication library, run under wine with its COM
// ports mapped to simulated modules on the Linux side (with_sims.sh):
//   COM1: address 1, 19200 bit/s, even parity, serial A0042, 12345 uA applied
//   COM2: 9600 bit/s, odd parity, serial B0123
//   COM3: 19200 bit/s, even parity, every reply with a wrong CRC
//   COM4: a listener's end of a line where a controller polls the module at
//         address 1 (19200 bit/s, even parity) every 20 ms, and every 5th
//         request goes out with a wrong CRC
// No other COM port up to COM200 leads anywhere.
//   QS_GATEWAY_TCP (environment): a Modbus TCP gateway on 127.0.0.1 with A0042
//         at address 1 and B0123 at 2, every 4th request answered with
//         exception 10
//   QS_GATEWAY_RTU: the same modules behind a transparent serial server
#include "Rtu.h"
#include "comm_mb.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

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

// Listening through wine's COM port: every read returns within its slice, so
// the frames come as they are heard, a stop is prompt, and nothing hangs.
TEST(WineCom, ListeningHearsTheControllerAndStopsAtOnce) {
    using Clock = std::chrono::steady_clock;
    ASSERT_EQ(listen_start("COM4", 19200, 2), COMM_OK);
    std::vector<comm_heard> heard;
    const auto start = Clock::now();
    while (heard.size() < 40 && Clock::now() - start < std::chrono::seconds(10)) {
        comm_heard chunk[32];
        int32_t count = 0;
        const auto before = Clock::now();
        ASSERT_EQ(listen_read(chunk, 32, sizeof(comm_heard), 200, &count, nullptr), COMM_OK);
        EXPECT_LT(Clock::now() - before, std::chrono::seconds(2)) << "a read waited on";
        heard.insert(heard.end(), chunk, chunk + count);
    }
    const auto stopping = Clock::now();
    EXPECT_EQ(listen_stop(), COMM_OK);
    EXPECT_LT(Clock::now() - stopping, std::chrono::seconds(2)) << "the stop waited on";
    ASSERT_GE(heard.size(), 40u);
    // Heard as they came, not a backlog from before listening began.
    EXPECT_GT(heard.back().time_us - heard.front().time_us, 300000);
    EXPECT_EQ(heard.front().flags & COMM_HEARD_JOINED, 0);

    const uint8_t poll[] = {1, 3, 4, 0, 0, 3};
    int requests = 0, replies = 0, spoilt = 0;
    for (const comm_heard& h : heard) {
        if (h.code != COMM_HEARD_FRAME) {
            ++spoilt;
            EXPECT_EQ(h.code, COMM_HEARD_BAD_CRC) << h.number;
            EXPECT_EQ(h.length, 8) << h.number;
            continue;
        }
        if (h.length == 8) {
            ++requests;
            EXPECT_EQ(std::vector<uint8_t>(h.data, h.data + 6),
                      std::vector<uint8_t>(poll, poll + 6));
            EXPECT_TRUE(rtu::crcFits(h.data, 8));
        } else {
            ++replies;
            EXPECT_EQ(h.length, 11) << h.number;
            EXPECT_EQ(h.data[2], 6) << h.number;
        }
        EXPECT_EQ(h.baud, 19200);
    }
    EXPECT_GT(requests, 10);
    EXPECT_NEAR(replies, requests, 2);
    EXPECT_GE(spoilt, 3) << "every 5th request spoilt";

    EXPECT_EQ(listen_start("COM200", 19200, 2), COMM_OPEN_FAILED);
    int32_t count = -1;
    comm_heard h;
    EXPECT_EQ(listen_read(&h, 1, sizeof h, 100, &count, nullptr), COMM_NOT_OPEN);
    EXPECT_EQ(count, 0);
}

// Winsock through wine: the gateways on the Linux side.
TEST(WineGateway, ModulesBehindBothKindsOfGateway) {
    for (const char* variable : {"QS_GATEWAY_TCP", "QS_GATEWAY_RTU"}) {
        const char* name = std::getenv(variable);
        if (name == nullptr || *name == 0)
            GTEST_SKIP() << variable << " not set: no gateway started";
        ASSERT_EQ(init_comm(name, 19200, 2), COMM_OK) << name;
        uint16_t words[2] = {};
        ASSERT_EQ(invoke_modb(1, 3, 768, 2, words), COMM_OK) << name;
        EXPECT_EQ(words[0], 17);
        ASSERT_EQ(invoke_modb(2, 3, 0, 1, words), COMM_OK) << name;
        EXPECT_EQ(words[0], B0123);
        ASSERT_EQ(invoke_modb(1, 3, 0, 1, words), COMM_OK) << name;
        EXPECT_EQ(words[0], A0042);
        // The 4th request: the Modbus TCP gateway finds no path.
        const int32_t fourth = invoke_modb(1, 3, 0, 1, words);
        EXPECT_EQ(fourth, std::string(variable) == "QS_GATEWAY_TCP" ? 10 : COMM_OK) << name;
        EXPECT_EQ(invoke_modb(9, 3, 0, 1, words), COMM_NO_REPLY) << name;
        init_comm("", 19200, 2);
    }
}

TEST(WineGateway, ARefusedConnectionAndABadNameOpenNothing) {
    // Port 1 on this machine: nothing listens there.
    errno = 0;
    EXPECT_EQ(init_comm("tcp:127.0.0.1:1", 19200, 2), COMM_OPEN_FAILED);
    EXPECT_EQ(errno, ECONNREFUSED);
    errno = 0;
    EXPECT_EQ(init_comm("tcp:my gateway", 19200, 2), COMM_OPEN_FAILED);
    EXPECT_EQ(errno, EINVAL);
    uint16_t word = 0;
    EXPECT_EQ(invoke_modb(1, 3, 0, 1, &word), COMM_NOT_OPEN);
}
