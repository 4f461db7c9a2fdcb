// The simulated module's register map, its exceptions, the unlock rule and the
// apply rule, all through a libmodbus master.
#include "Master.h"
#include "Registers.h"
#include "SimModule.h"

using simtest::Ex;
using simtest::Master;
using Words = std::vector<uint16_t>;

namespace {

constexpr int IllegalFunction = Ex(1);
constexpr int IllegalAddress = Ex(2);
constexpr int IllegalValue = Ex(3);

TEST(SimRegisters, ServesTheWholeMapWithItsFormats) {
    sim::Options o;
    o.serial = reg::EncodeSerial(1, 123); // B0123
    o.manufactureDate = reg::PackDate(15, 3, 24);
    o.version = 0x0203;
    sim::SimModule sim(o);
    sim.setReg(reg::FlagsA, reg::FlagADC | reg::FlagInRAM);
    sim.setReg(reg::FlagsB, reg::FlagDataInvalid);
    Master m(sim.devicePath());

    EXPECT_EQ(m.values(0, 2), (Words{4219, 0x60EF}));
    const Words c = m.values(8, 8);
    ASSERT_EQ(c.size(), 8u);
    EXPECT_EQ(reg::JoinWords(c[0], c[1]), reg::DefaultGainCurrent);
    EXPECT_EQ(reg::JoinWords(c[2], c[3]), reg::DefaultOffsetCurrent);
    EXPECT_EQ(reg::JoinWords(c[4], c[5]), reg::DefaultGainVoltage);
    EXPECT_EQ(reg::JoinWords(c[6], c[7]), reg::DefaultOffsetVoltage);
    EXPECT_EQ(m.values(256, 5), (Words{0x68EF, 1, 192, 2, 1}));
    EXPECT_EQ(m.values(264, 2), (Words{1, 100}));
    EXPECT_EQ(m.values(768, 2), (Words{17, 0x0203}));
    EXPECT_EQ(m.values(1024, 3), (Words{0x11, 12000, 0x02}));
}

TEST(SimRegisters, RefusesWhatTheModuleDoesNotHave) {
    sim::SimModule sim;
    Master m(sim.devicePath());

    EXPECT_EQ(m.read(261, 1), IllegalAddress);
    EXPECT_EQ(m.read(258, 5), IllegalAddress); // runs past 260 into the gap
    EXPECT_EQ(m.read(1, 2), IllegalAddress);
    EXPECT_EQ(m.read(1026, 2), IllegalAddress);
    EXPECT_EQ(m.read(1911, 1), IllegalAddress); // write-only
    EXPECT_EQ(m.read(1912, 1), IllegalAddress);
    EXPECT_EQ(m.read(0, 0), IllegalValue);

    // 126 registers: libmodbus will not send that, so the request goes raw.
    const auto rsp = m.raw({1, 3, 0x04, 0x00, 0x00, 126});
    ASSERT_EQ(rsp.size(), 5u);
    EXPECT_EQ(rsp[1], 0x83);
    EXPECT_EQ(rsp[2], 3);

    uint16_t value = 0;
    EXPECT_EQ(modbus_read_input_registers(m.ctx(), 1025, 1, &value), -1);
    EXPECT_EQ(errno, IllegalFunction);
    EXPECT_EQ(modbus_write_register(m.ctx(), 264, 2), -1); // function 6
    EXPECT_EQ(errno, IllegalFunction);

    for (uint16_t r : {768, 769, 1024, 1025, 1026, 261, 2})
        EXPECT_EQ(m.write(r, {1}), IllegalAddress) << r;
    EXPECT_EQ(m.write(264, {2, 100, 0}), IllegalAddress); // 266 is not there
    EXPECT_EQ(sim.reg(264), 1) << "a refused write changes nothing";
}

TEST(SimRegisters, ChecksWrittenValues) {
    sim::SimModule sim;
    Master m(sim.devicePath());

    EXPECT_EQ(m.write(257, {0}), IllegalValue);
    EXPECT_EQ(m.write(257, {248}), IllegalValue);
    EXPECT_EQ(m.write(258, {100}), IllegalValue);
    EXPECT_EQ(m.write(259, {3}), IllegalValue);
    EXPECT_EQ(m.write(260, {5}), IllegalValue);
    EXPECT_EQ(m.write(264, {3}), IllegalValue);
    EXPECT_EQ(m.write(1911, {1234}), IllegalValue);
    EXPECT_EQ(m.write(1912, {1234}), IllegalValue);
    EXPECT_EQ(m.values(257, 4), (Words{1, 192, 2, 1}));

    // Only the low byte of 259 is the parity.
    EXPECT_EQ(m.write(259, {0x0102}), 0);
    EXPECT_EQ(sim.reg(259), 0x0102);
    EXPECT_EQ(sim.parity(), 2);

    sim.restart();
    sim.restart();
    EXPECT_EQ(m.values(260, 1), Words{3});
    EXPECT_EQ(m.write(260, {0}), 0);
    EXPECT_EQ(m.values(260, 1), Words{0});
    EXPECT_EQ(m.write(265, {2500}), 0);
    EXPECT_EQ(m.values(265, 1), Words{2500});
}

TEST(SimRegisters, ProtectedWritesNeedTheUnlockRightBefore) {
    sim::SimModule sim;
    Master m(sim.devicePath());
    const uint16_t key = reg::UnlockKey;

    for (uint16_t r : {0, 1, 8, 15, 256})
        EXPECT_EQ(m.write(r, {7}), IllegalValue) << r;

    EXPECT_EQ(m.write(1912, {key}), 0);
    EXPECT_EQ(m.read(1024, 3), 0); // reads do not use up the unlock
    EXPECT_EQ(m.write(0, {4219}), 0);
    EXPECT_EQ(sim.reg(0), 4219);
    EXPECT_EQ(m.write(1, {0x60EF}), IllegalValue) << "one unlock, one write";

    EXPECT_EQ(m.write(1912, {key}), 0);
    EXPECT_EQ(m.write(8, {1, 2, 3, 4}), 0);
    EXPECT_EQ(m.values(8, 4), (Words{1, 2, 3, 4}));

    // Any write in between takes the unlock away, refused ones too.
    EXPECT_EQ(m.write(1912, {key}), 0);
    EXPECT_EQ(m.write(265, {200}), 0);
    EXPECT_EQ(m.write(256, {0x60EF}), IllegalValue);
    EXPECT_EQ(m.write(1912, {key}), 0);
    EXPECT_EQ(m.write(768, {1}), IllegalAddress);
    EXPECT_EQ(m.write(256, {0x60EF}), IllegalValue);
    EXPECT_EQ(m.write(1912, {key}), 0);
    EXPECT_EQ(modbus_write_register(m.ctx(), 256, 0x60EF), -1);
    EXPECT_EQ(m.write(256, {0x60EF}), IllegalValue);
    EXPECT_EQ(m.write(1912, {1}), IllegalValue);
    EXPECT_EQ(m.write(256, {0x60EF}), IllegalValue);

    EXPECT_EQ(m.write(1912, {key}), 0);
    sim.restart(); // a power cycle forgets the unlock
    EXPECT_EQ(m.write(256, {0x60EF}), IllegalValue);

    EXPECT_EQ(m.write(1912, {key}), 0);
    EXPECT_EQ(m.write(256, {0x60EF}), 0);
    EXPECT_EQ(sim.reg(256), 0x60EF);
}

TEST(SimRegisters, MeasurementParametersTakeEffectOnApply) {
    sim::Options o;
    o.appliedCurrentUa = 12000;
    o.appliedVoltageMv = 5000;
    sim::SimModule sim(o);
    Master m(sim.devicePath());

    EXPECT_EQ(m.write(264, {2, 40}), 0);
    EXPECT_EQ(m.values(264, 2), (Words{2, 40})) << "reads show what was written";
    EXPECT_EQ(m.values(1025, 1), Words{12000}) << "still measuring current";
    EXPECT_EQ(m.write(1911, {reg::UnlockKey}), 0);
    EXPECT_EQ(m.values(1025, 1), Words{5000});

    sim.setAppliedVoltage(70000);
    EXPECT_EQ(m.values(1025, 1), Words{65535});
    sim.setInput(777);
    EXPECT_EQ(m.values(1025, 1), Words{777});
    EXPECT_EQ(m.write(264, {1}), 0);
    EXPECT_EQ(m.write(1911, {reg::UnlockKey}), 0);
    EXPECT_EQ(m.values(1025, 1), Words{777}) << "pinned whatever the mode";
    sim.clearInput();
    sim.setAppliedCurrent(4000);
    EXPECT_EQ(m.values(1025, 1), Words{4000});

    // Written but not applied: lost on restart.
    EXPECT_EQ(m.write(264, {2, 300}), 0);
    sim.restart();
    EXPECT_EQ(m.values(264, 2), (Words{1, 40}));
    EXPECT_EQ(m.values(1025, 1), Words{4000});
}

TEST(SimRegisters, LogsTheRequestsItReceives) {
    sim::SimModule sim;
    Master m(sim.devicePath());
    EXPECT_EQ(m.read(1024, 3), 0);
    EXPECT_EQ(m.write(264, {2, 100}), 0);
    EXPECT_EQ(m.read(5, 1), IllegalAddress);
    const auto log = sim.requests();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].function, 3);
    EXPECT_EQ(log[0].first, 1024);
    EXPECT_EQ(log[0].count, 3);
    EXPECT_TRUE(log[0].values.empty());
    EXPECT_EQ(log[1].function, 16);
    EXPECT_EQ(log[1].first, 264);
    EXPECT_EQ(log[1].count, 2);
    EXPECT_EQ(log[1].values, (Words{2, 100}));
    EXPECT_EQ(log[2].first, 5);
    sim.clearRequests();
    EXPECT_TRUE(sim.requests().empty());
}

} // namespace
