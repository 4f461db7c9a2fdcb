// The built library against the simulated module: exchanges at every kind of
// line setting, each result code the module can provoke, the time a missing
// reply costs, and the search for a module's speed and parity.
#include "Link.h"
#include "PortName.h"
#include "SimModule.h"
#include "comm_mb.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

namespace {

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double responseTimeoutMs(int32_t baud, uint8_t function, uint16_t count) {
    return comm::timeoutsFor(baud, comm::requestBytes(function, count)).response.count() / 1000.0;
}

// The tool's register read: up to three calls of the library.
int32_t readWithRetries(uint8_t address, uint16_t reg, uint16_t& value) {
    int32_t rc = COMM_NO_REPLY;
    for (int attempt = 0; attempt < 3 && rc != COMM_OK; ++attempt) {
        rc = invoke_modb(address, 3, reg, 1, &value);
    }
    return rc;
}

// The library's settings file beside it; removed again at the end.
struct LibrarySettings {
    std::filesystem::path path = comm::defaultIniFile();
    explicit LibrarySettings(const std::string& text) { write(text); }
    void write(const std::string& text) const { std::ofstream(path, std::ios::binary) << text; }
    ~LibrarySettings() { std::filesystem::remove(path); }
};

sim::SimModule* makeSim(int baud, int parity, uint8_t address = 1, uint16_t serial = 0x082A) {
    sim::Options o;
    o.baud = baud;
    o.parity = parity;
    o.address = address;
    o.serial = serial;
    return new sim::SimModule(o);
}

struct Setting {
    int32_t baud;
    uint8_t parity;
};

class AtSetting : public ::testing::TestWithParam<Setting> {};

} // namespace

TEST_P(AtSetting, ReadsAndWritesRegisters) {
    const auto [baud, parity] = GetParam();
    std::unique_ptr<sim::SimModule> module(makeSim(baud, parity));
    ASSERT_EQ(init_comm(module->devicePath().c_str(), baud, parity), COMM_OK);

    uint16_t words[4] = {};
    ASSERT_EQ(invoke_modb(1, 3, 768, 2, words), COMM_OK);
    EXPECT_EQ(words[0], 17);
    EXPECT_EQ(words[1], 0x0203);

    uint16_t params[2] = {2, 250};
    ASSERT_EQ(invoke_modb(1, 16, 264, 2, params), COMM_OK);
    EXPECT_EQ(module->reg(264), 2);
    EXPECT_EQ(module->reg(265), 250);

    // Four registers each way, the longest exchanges the tool makes.
    uint16_t key = 0x5A3C;
    ASSERT_EQ(invoke_modb(1, 16, 1912, 1, &key), COMM_OK);
    uint16_t coefficients[4] = {0x1111, 0x2222, 0x3333, 0x4444};
    ASSERT_EQ(invoke_modb(1, 16, 8, 4, coefficients), COMM_OK);
    uint16_t back[4] = {};
    ASSERT_EQ(invoke_modb(1, 3, 8, 4, back), COMM_OK);
    EXPECT_EQ(std::vector<uint16_t>(back, back + 4),
              std::vector<uint16_t>(coefficients, coefficients + 4));

    const auto requests = module->requests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[1].function, 16);
    EXPECT_EQ(requests[1].first, 264);
    EXPECT_EQ(requests[1].values, (std::vector<uint16_t>{2, 250}));
    EXPECT_EQ(requests[4].function, 3);
    EXPECT_EQ(requests[4].count, 4);
}

INSTANTIATE_TEST_SUITE_P(Comm, AtSetting,
                         ::testing::Values(Setting{19200, 2}, Setting{115200, 0}, Setting{28800, 1},
                                           Setting{2400, 2}, Setting{57600, 1}, Setting{38400, 0}));

TEST(Faults, ExceptionCodesComeBackAsThey) {
    sim::SimModule module;
    ASSERT_EQ(init_comm(module.devicePath().c_str(), 19200, 2), COMM_OK);
    uint16_t word = 0;
    for (int code = 1; code <= 8; ++code) {
        module.exceptionNext(code, 1);
        EXPECT_EQ(invoke_modb(1, 3, 1025, 1, &word), code);
        word = 7;
        module.exceptionNext(code, 1);
        EXPECT_EQ(invoke_modb(1, 16, 265, 1, &word), code);
    }
    // A protected register written without the unlock: the module refuses.
    word = 1;
    const int32_t refused = invoke_modb(1, 16, 0, 1, &word);
    EXPECT_GE(refused, 1);
    EXPECT_LE(refused, 8);
    EXPECT_EQ(invoke_modb(1, 3, 768, 1, &word), COMM_OK);
    EXPECT_EQ(word, 17);
}

TEST(Faults, LostReplyCostsOneResponseTimeout) {
    for (const Setting s : {Setting{115200, 2}, Setting{9600, 0}}) {
        sim::SimModule module(sim::Options{.baud = s.baud, .parity = s.parity});
        ASSERT_EQ(init_comm(module.devicePath().c_str(), s.baud, s.parity), COMM_OK);
        uint16_t words[3] = {};
        module.dropNext(1);
        auto start = Clock::now();
        EXPECT_EQ(invoke_modb(1, 3, 1024, 3, words), COMM_NO_REPLY);
        const double took = msSince(start);
        const double timeout = responseTimeoutMs(s.baud, 3, 3);
        EXPECT_GE(took, timeout - 1) << s.baud;
        EXPECT_LT(took, timeout + 60) << s.baud;

        // The module is back at once for the next call.
        EXPECT_EQ(invoke_modb(1, 3, 1024, 3, words), COMM_OK);
    }
}

TEST(Faults, CorruptedAndLateRepliesDoNotSpillOver) {
    sim::SimModule module(sim::Options{.baud = 38400, .parity = 1});
    ASSERT_EQ(init_comm(module.devicePath().c_str(), 38400, 1), COMM_OK);
    uint16_t word = 0;
    module.corruptCrcNext(1);
    EXPECT_EQ(invoke_modb(1, 3, 768, 1, &word), COMM_BAD_CRC);
    EXPECT_EQ(invoke_modb(1, 3, 768, 1, &word), COMM_OK);
    EXPECT_EQ(word, 17);

    // A reply later than the time-out is not taken for the answer to the next
    // request once it has come in (it is flushed first).
    module.delayNext(static_cast<int>(responseTimeoutMs(38400, 3, 1)) + 40, 1);
    EXPECT_EQ(invoke_modb(1, 3, 768, 1, &word), COMM_NO_REPLY);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(invoke_modb(1, 3, 0, 1, &word), COMM_OK);
    EXPECT_EQ(word, 0x082A);
}

TEST(Faults, WrongLineSettingsOrAddressGetNoReply) {
    sim::SimModule module(sim::Options{.baud = 19200, .parity = 2});
    uint16_t word = 0;
    ASSERT_EQ(init_comm(module.devicePath().c_str(), 19200, 1), COMM_OK);
    EXPECT_EQ(invoke_modb(1, 3, 768, 1, &word), COMM_NO_REPLY);
    ASSERT_EQ(init_comm(module.devicePath().c_str(), 9600, 2), COMM_OK);
    EXPECT_EQ(invoke_modb(1, 3, 768, 1, &word), COMM_NO_REPLY);
    ASSERT_EQ(init_comm(module.devicePath().c_str(), 19200, 2), COMM_OK);
    EXPECT_EQ(invoke_modb(2, 3, 768, 1, &word), COMM_NO_REPLY);
    EXPECT_EQ(invoke_modb(1, 3, 768, 1, &word), COMM_OK);
}

TEST(Search, FindsTheModuleAtEachKindOfSetting) {
    // The factory setting (tried first), no parity at the top speed, odd parity
    // at the odd speed 28800 (tried last), and a module with another address.
    struct Case {
        int32_t baud;
        uint8_t parity;
        uint8_t address;
    };
    for (const Case c :
         {Case{19200, 2, 1}, Case{115200, 0, 1}, Case{28800, 1, 1}, Case{4800, 2, 200}}) {
        std::unique_ptr<sim::SimModule> module(makeSim(c.baud, c.parity, c.address, 0x107B));
        int32_t baud = -1;
        uint8_t parity = 9;
        ASSERT_EQ(
            EnumParameters(module->devicePath().c_str(), 17, 0x107B, c.address, &baud, &parity),
            COMM_OK)
            << c.baud << " " << int(c.parity);
        EXPECT_EQ(baud, c.baud);
        EXPECT_EQ(parity, c.parity);
    }
}

TEST(Search, LeavesNoLinkOpenAndTheFoundSettingsWork) {
    sim::SimModule module(sim::Options{.baud = 9600, .parity = 0});
    ASSERT_EQ(init_comm(module.devicePath().c_str(), 19200, 2), COMM_OK);
    int32_t baud = 0;
    uint8_t parity = 0;
    ASSERT_EQ(EnumParameters(module.devicePath().c_str(), 17, 0x082A, 1, &baud, &parity), COMM_OK);
    uint16_t word = 0;
    EXPECT_EQ(invoke_modb(1, 3, 768, 1, &word), COMM_NOT_OPEN);
    ASSERT_EQ(init_comm(module.devicePath().c_str(), baud, parity), COMM_OK);
    EXPECT_EQ(invoke_modb(1, 3, 0, 1, &word), COMM_OK);
    EXPECT_EQ(word, 0x082A);
}

TEST(Search, SecondPassFindsAModuleThatMissedOneReply) {
    sim::SimModule module; // 19200 even, the first setting tried
    module.dropNext(1);
    int32_t baud = 0;
    uint8_t parity = 0;
    EXPECT_EQ(EnumParameters(module.devicePath().c_str(), 17, 0x082A, 1, &baud, &parity), COMM_OK);
    EXPECT_EQ(baud, 19200);
    EXPECT_EQ(parity, 2);
}

TEST(Search, NoModuleMeansNoReplyWithinFifteenSeconds) {
    // The module listens to address 5 only, so nothing answers address 1.
    sim::SimModule module(sim::Options{.address = 5});
    int32_t baud = -1;
    uint8_t parity = 9;
    const auto start = Clock::now();
    EXPECT_EQ(EnumParameters(module.devicePath().c_str(), 17, 0x082A, 1, &baud, &parity),
              COMM_NO_REPLY);
    EXPECT_LE(msSince(start), 15000);
    EXPECT_EQ(baud, -1) << "untouched on failure";
    EXPECT_EQ(parity, 9);
}

TEST(Search, AnotherSerialNumberIsNoMatch) {
    sim::SimModule module(sim::Options{.baud = 115200, .parity = 1});
    int32_t baud = 0;
    uint8_t parity = 0;
    EXPECT_EQ(EnumParameters(module.devicePath().c_str(), 17, 0x082B, 1, &baud, &parity),
              COMM_NO_REPLY);
    // It was asked for its serial number at its own setting, in both passes.
    int serialReads = 0;
    for (const auto& r : module.requests()) {
        serialReads += r.first == 0 ? 1 : 0;
    }
    EXPECT_EQ(serialReads, 2);
}

TEST(Search, OnlyCorruptedRepliesMeanCrcError) {
    sim::SimModule module(sim::Options{.baud = 57600, .parity = 2});
    module.corruptCrcNext(1000);
    int32_t baud = 0;
    uint8_t parity = 0;
    EXPECT_EQ(EnumParameters(module.devicePath().c_str(), 17, 0x082A, 1, &baud, &parity),
              COMM_BAD_CRC);
}

TEST(LateReplies, NeverAnswerAnotherRegister) {
    // Each register holds a value of its own, so a reply taken for the answer
    // to another request shows.
    sim::Options o;
    o.address = 5;
    o.calibrationDate = 0x60EF;
    const std::pair<uint16_t, uint16_t> registers[] = {
        {257, 5}, {258, 192}, {259, 2}, {768, 17}, {0, 0x082A}, {769, 0x0203}, {1, 0x68EF}};
    const double timeout = responseTimeoutMs(19200, 3, 1);
    // Around the time-out, and up to the latest reply the library must tell
    // apart (each reply comes that long after its own request).
    for (const int delay : {static_cast<int>(timeout) - 40, static_cast<int>(timeout) + 30,
                            static_cast<int>(2.2 * timeout), 980}) {
        sim::SimModule module(o);
        ASSERT_EQ(init_comm(module.devicePath().c_str(), 19200, 2), COMM_OK);
        module.delayAll(delay);
        int answered = 0;
        for (const auto& [reg, expected] : registers) {
            uint16_t value = 0xFFFF;
            if (readWithRetries(5, reg, value) == COMM_OK) {
                ++answered;
                EXPECT_EQ(value, expected) << "register " << reg << ", " << delay << " ms late";
            }
        }
        // Within the three attempts' time the module is heard at all.
        if (delay < 3 * timeout) {
            EXPECT_GT(answered, 0) << delay;
        }
    }
}

TEST(Adapter, UnpluggedAndBackWhilePolling) {
    const auto link =
        std::filesystem::temp_directory_path() / ("qs730-replug-" + std::to_string(::getpid()));
    auto module = std::make_unique<sim::SimModule>();
    ASSERT_TRUE(module->linkAt(link.string()));
    ASSERT_EQ(init_comm(link.c_str(), 19200, 2), COMM_OK);
    uint16_t words[3] = {};
    ASSERT_EQ(invoke_modb(1, 3, 1024, 3, words), COMM_OK);

    module.reset(); // the adapter goes: its device and the link to it vanish
    EXPECT_EQ(invoke_modb(1, 3, 1024, 3, words), COMM_IO_ERROR);
    EXPECT_EQ(invoke_modb(1, 3, 1024, 3, words), COMM_IO_ERROR) << "still away";

    module = std::make_unique<sim::SimModule>(); // back, under the same name
    module->setInput(4321);
    ASSERT_TRUE(module->linkAt(link.string()));
    EXPECT_EQ(invoke_modb(1, 3, 1024, 3, words), COMM_OK);
    EXPECT_EQ(words[1], 4321);
    EXPECT_EQ(invoke_modb(1, 3, 1024, 3, words), COMM_OK);
}

TEST(Settings, ResponseTimeoutFromTheLibrarysFile) {
    struct Case {
        const char* value;
        int delay;
        int32_t expected;
    };
    // The default (250 ms) hears a module 150 ms late; 100 ms does not; values
    // that are no number or outside 20..5000 mean the default.
    const Case cases[] = {
        {nullptr, 150, COMM_OK}, {"100", 150, COMM_NO_REPLY}, {"600", 450, COMM_OK},
        {"10", 150, COMM_OK},    {"abc", 150, COMM_OK},       {"100ms", 150, COMM_OK},
        {"99999", 150, COMM_OK}, {"", 150, COMM_OK},
    };
    LibrarySettings settings("");
    for (const Case& c : cases) {
        settings.write(c.value ? std::string("[Link]\nResponseTimeout=") + c.value + "\n"
                               : std::string("[Ports]\n"));
        sim::SimModule module;
        ASSERT_EQ(init_comm(module.devicePath().c_str(), 19200, 2), COMM_OK);
        module.delayAll(c.delay);
        uint16_t word = 0;
        EXPECT_EQ(invoke_modb(1, 3, 768, 1, &word), c.expected) << (c.value ? c.value : "none");
    }
}
