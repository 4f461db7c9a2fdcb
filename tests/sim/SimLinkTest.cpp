// The simulated module on the line: speed and parity, addresses, its own link
// parameters, fault injection, timing and clean-up.
#include "LineSettings.h"
#include "Master.h"
#include "Registers.h"
#include "SimModule.h"

#include <chrono>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using simtest::Ex;
using simtest::Master;
using Words = std::vector<uint16_t>;
using Clock = std::chrono::steady_clock;

namespace {

long long MsSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

TEST(SimLine, AnswersOnlyAtItsOwnSpeedAndParity) {
    sim::SimModule sim; // 19200, even
    const std::string dev = sim.devicePath();
    struct Setting {
        int baud, parity;
    };
    for (Setting wrong :
         {Setting{9600, 2}, Setting{19200, 1}, Setting{19200, 0}, Setting{38400, 2}}) {
        Master m(dev, wrong.baud, wrong.parity, 1, 150);
        EXPECT_EQ(m.read(1024, 3), ETIMEDOUT) << wrong.baud << " parity " << wrong.parity;
    }
    EXPECT_TRUE(sim.requests().empty()) << "garbage on the line is not a request";

    for (Setting right : {Setting{9600, 0}, Setting{115200, 1}, Setting{2400, 2}}) {
        sim.setLink(1, right.baud, right.parity);
        Master m(dev, right.baud, right.parity);
        EXPECT_EQ(m.read(1024, 3), 0) << right.baud << " parity " << right.parity;
        EXPECT_EQ(sim.reg(258), reg::SpeedCode(right.baud));
        EXPECT_EQ(sim.reg(259), right.parity);
    }
}

// libmodbus cannot set 28800 bit/s; the line is set through termios2 instead.
TEST(SimLine, TellsNonStandardSpeeds) {
    sim::Options o;
    o.baud = 28800;
    sim::SimModule sim(o);
    const int fd = ::open(sim.devicePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    modbus_t* ctx = modbus_new_rtu(sim.devicePath().c_str(), 9600, 'E', 8, 1);
    modbus_set_socket(ctx, fd);
    modbus_set_slave(ctx, 1);
    modbus_set_response_timeout(ctx, 0, 150000);
    uint16_t v[3] = {};

    ASSERT_TRUE(sim::SetRawLine(fd, 28800, 2));
    EXPECT_EQ(modbus_read_registers(ctx, 1024, 3, v), 3);
    EXPECT_EQ(v[1], 12000);
    ASSERT_TRUE(sim::SetRawLine(fd, 38400, 2));
    EXPECT_EQ(modbus_read_registers(ctx, 1024, 3, v), -1);

    modbus_free(ctx);
    ::close(fd);
}

TEST(SimLine, IgnoresOtherAddressesAndObeysBroadcasts) {
    sim::SimModule sim;
    Master m(sim.devicePath(), 19200, 2, 1, 150);
    // The request right after another slave's is still taken as a request.
    m.setSlave(7);
    EXPECT_EQ(m.read(1024, 3), ETIMEDOUT);
    m.setSlave(1);
    EXPECT_EQ(m.read(1024, 3), 0);
    m.setSlave(7);
    EXPECT_EQ(m.write(265, {50}), ETIMEDOUT);
    EXPECT_EQ(sim.reg(265), 100);
    m.setSlave(1);
    EXPECT_EQ(m.read(1024, 3), 0);

    // A broadcast write of 60 to 265 (libmodbus 3.1.6 would wait for an answer).
    const uint8_t broadcast[] = {0, 16, 0x01, 0x09, 0x00, 0x01, 0x02, 0x00, 60};
    ASSERT_GT(modbus_send_raw_request(m.ctx(), broadcast, sizeof broadcast), 0);
    const auto start = Clock::now();
    EXPECT_EQ(m.values(265, 1), Words{60});
    EXPECT_LT(MsSince(start), 100) << "no answer to the broadcast got in the way";
    EXPECT_EQ(sim.requests().size(), 4u) << "other slaves' requests are not logged";
}

TEST(SimLine, SwitchesItsOwnLinkAfterAnswering) {
    sim::SimModule sim;
    const std::string dev = sim.devicePath();
    {
        Master m(dev, 19200, 2, 1, 150);
        EXPECT_EQ(m.write(257, {5}), 0) << "the answer still comes from address 1";
        EXPECT_EQ(sim.address(), 5);
        EXPECT_EQ(m.read(1024, 3), ETIMEDOUT);
        m.setSlave(5);
        EXPECT_EQ(m.values(257, 1), Words{5});
        EXPECT_EQ(m.write(258, {96}), 0) << "answered at the old speed";
        EXPECT_EQ(sim.baud(), 9600);
        EXPECT_EQ(m.read(1024, 3), ETIMEDOUT);
    }
    {
        Master m(dev, 9600, 2, 5, 150);
        EXPECT_EQ(m.write(259, {0}), 0) << "answered at the old parity";
        EXPECT_EQ(sim.parity(), 0);
        EXPECT_EQ(m.read(1024, 3), ETIMEDOUT);
    }
    {
        Master m(dev, 9600, 0, 5, 150);
        EXPECT_EQ(m.values(257, 3), (Words{5, 96, 0}));
        // All three in one request, switched together after the answer.
        EXPECT_EQ(m.write(257, {9, 1152, 1}), 0);
        EXPECT_EQ(m.read(257, 1), ETIMEDOUT);
    }
    Master m(dev, 115200, 1, 9);
    EXPECT_EQ(m.values(257, 3), (Words{9, 1152, 1}));
}

TEST(SimFaults, DropsRequestsUnseen) {
    sim::SimModule sim;
    Master m(sim.devicePath(), 19200, 2, 1, 120);
    sim.dropNext(2);
    // Neither another slave's request nor one at the wrong parity counts.
    m.setSlave(3);
    EXPECT_EQ(m.read(1024, 3), ETIMEDOUT);
    m.setSlave(1);
    {
        Master odd(sim.devicePath(), 19200, 1, 1, 120);
        EXPECT_EQ(odd.read(1024, 3), ETIMEDOUT);
    }
    Master& m2 = m;
    EXPECT_EQ(m2.write(265, {77}), ETIMEDOUT);
    EXPECT_EQ(m2.read(1024, 3), ETIMEDOUT);
    EXPECT_EQ(sim.reg(265), 100) << "a dropped write is not carried out";
    EXPECT_EQ(m2.read(1024, 3), 0);
    EXPECT_EQ(sim.requests().size(), 3u) << "dropped requests are still logged";

    // A dropped request between the unlock and the protected write does not
    // take the unlock away: the module never saw it.
    EXPECT_EQ(m2.write(1912, {reg::UnlockKey}), 0);
    sim.dropNext(1);
    EXPECT_EQ(m2.write(265, {77}), ETIMEDOUT);
    EXPECT_EQ(m2.write(0, {1}), 0);
}

TEST(SimFaults, CorruptsTheCrcOfAnswers) {
    sim::SimModule sim;
    Master m(sim.devicePath());
    sim.corruptCrcNext(2);
    EXPECT_EQ(m.read(1024, 3), EMBBADCRC);
    EXPECT_EQ(m.write(265, {33}), EMBBADCRC);
    EXPECT_EQ(sim.reg(265), 33) << "the write was carried out, only its answer was spoiled";
    EXPECT_EQ(m.read(1024, 3), 0);
}

TEST(SimFaults, AnswersWithInjectedExceptions) {
    sim::SimModule sim;
    Master m(sim.devicePath());
    sim.exceptionNext(6, 2);
    EXPECT_EQ(m.read(1024, 3), Ex(6));
    EXPECT_EQ(m.write(265, {44}), Ex(6));
    EXPECT_EQ(sim.reg(265), 100) << "a refused write is not carried out";
    EXPECT_EQ(m.write(265, {44}), 0);
    sim.exceptionNext(4, 5);
    sim.exceptionNext(4, 0); // cancels
    EXPECT_EQ(m.read(1024, 3), 0);
}

TEST(SimFaults, AnswersLate) {
    sim::SimModule sim;
    Master m(sim.devicePath(), 19200, 2, 1, 400);
    sim.delayNext(120, 1);
    auto start = Clock::now();
    EXPECT_EQ(m.read(1024, 3), 0);
    EXPECT_GE(MsSince(start), 115);

    sim.delayNext(200, 1);
    modbus_set_response_timeout(m.ctx(), 0, 80000);
    EXPECT_EQ(m.read(1024, 3), ETIMEDOUT);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    modbus_flush(m.ctx()); // the late answer
    start = Clock::now();
    EXPECT_EQ(m.read(1024, 3), 0);
    EXPECT_LT(MsSince(start), 50);
}

// Three reads sent back to back, the first two answered 200 ms late; the
// value changes once the first read has been taken up.
TEST(SimFaults, AnswersInOrderWhenAsked) {
    struct Case {
        bool inOrder;
        Words values;  // in the order the answers come
        int lastAfter; // ms
    };
    for (const Case& c : {Case{false, {1, 1, 1}, 200}, Case{true, {1, 2, 2}, 400}}) {
        sim::SimModule sim;
        sim.answerInOrder(c.inOrder);
        sim.setInput(1);
        sim.delayNext(200, 2);
        Master m(sim.devicePath(), 19200, 2, 1, 1000);
        const uint8_t read[] = {1, 3, 0x04, 0x01, 0x00, 0x01};
        const auto start = Clock::now();
        for (int i = 0; i < 3; ++i)
            ASSERT_GT(modbus_send_raw_request(m.ctx(), read, sizeof read), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        sim.setInput(2);
        Words values;
        for (int i = 0; i < 3; ++i) {
            uint8_t rsp[MODBUS_RTU_MAX_ADU_LENGTH];
            ASSERT_EQ(modbus_receive_confirmation(m.ctx(), rsp), 7) << c.inOrder;
            values.push_back(static_cast<uint16_t>(rsp[3] << 8 | rsp[4]));
        }
        EXPECT_EQ(values, c.values) << c.inOrder;
        EXPECT_GE(MsSince(start), c.lastAfter - 5) << c.inOrder;
        EXPECT_LT(MsSince(start), c.lastAfter + 100) << c.inOrder;
    }
}

TEST(SimLine, AnswersPromptly) {
    sim::SimModule sim;
    Master m(sim.devicePath());
    const auto start = Clock::now();
    for (int i = 0; i < 50; ++i)
        ASSERT_EQ(m.read(1024, 3), 0);
    EXPECT_LT(MsSince(start), 250) << "well under 5 ms per exchange";
}

TEST(SimLifetime, LinksTheDeviceAndCleansUpQuickly) {
    const std::string link = ::testing::TempDir() + "qs730-sim-link";
    ::unlink(link.c_str());
    std::string dev;
    Clock::time_point start;
    {
        auto sim = std::make_unique<sim::SimModule>();
        dev = sim->devicePath();
        ASSERT_TRUE(sim->linkAt(link));
        {
            Master m(link);
            EXPECT_EQ(m.read(1024, 3), 0);
        }
        // Leave the slave in the middle of a long delay.
        sim->delayNext(5000, 1);
        const int fd = ::open(dev.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(sim::SetRawLine(fd, 19200, 2));
        modbus_t* ctx = modbus_new_rtu(dev.c_str(), 19200, 'E', 8, 1);
        modbus_set_socket(ctx, fd);
        const uint8_t read[] = {1, 3, 0x04, 0x00, 0x00, 0x03};
        ASSERT_GT(modbus_send_raw_request(ctx, read, sizeof read), 0);
        modbus_free(ctx);
        ::close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        start = Clock::now();
    }
    EXPECT_LT(MsSince(start), 200);
    struct stat st {};
    EXPECT_NE(::lstat(link.c_str(), &st), 0) << "link removed";
    EXPECT_NE(::access(dev.c_str(), F_OK), 0) << "pty gone";
}

TEST(SimLifetime, RefusesImpossibleSettings) {
    sim::Options o;
    o.baud = 14400;
    EXPECT_THROW(sim::SimModule{o}, std::invalid_argument);
    sim::SimModule sim;
    EXPECT_THROW(sim.setLink(0, 9600, 2), std::invalid_argument);
    EXPECT_THROW(sim.setLink(1, 9600, 3), std::invalid_argument);

    // The backdoor takes any word, but the live link only valid ones.
    sim.setReg(258, 100);
    EXPECT_EQ(sim.reg(258), 100);
    EXPECT_EQ(sim.baud(), 19200);
    sim.setReg(258, 48);
    EXPECT_EQ(sim.baud(), 4800);
}

} // namespace
