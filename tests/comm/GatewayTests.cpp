// The built library through a gateway on 127.0.0.1: the port names, the
// exchanges, the gateway's faults, the search and the bus scan's look, over
// a Modbus TCP gateway and a transparent serial server alike.
#include "Gateway.h"
#include "Line.h"
#include "PortName.h"
#include "Rtu.h"
#include "comm_mb.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using Clock = std::chrono::steady_clock;
using sim::GatewayFault;
using sim::GatewayKind;

namespace {

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The library's settings file beside it; removed again at the end.
struct LibrarySettings {
    std::filesystem::path path = comm::defaultIniFile();
    explicit LibrarySettings(const std::string& text) { std::ofstream(path) << text; }
    ~LibrarySettings() { std::filesystem::remove(path); }
};

// Two modules behind the gateway: A0042 at 1, A0043 at 2.
std::vector<sim::Options> twoModules() {
    sim::Options first;
    sim::Options second;
    second.address = 2;
    second.serial = 0x082B;
    return {first, second};
}

std::vector<comm_frame> framesAfter(uint64_t after) {
    std::vector<comm_frame> frames(COMM_FRAME_RING);
    int32_t count = 0;
    EXPECT_EQ(
        read_frames(after, frames.data(), COMM_FRAME_RING, sizeof(comm_frame), &count, nullptr),
        COMM_OK);
    frames.resize(static_cast<std::size_t>(count));
    return frames;
}

uint64_t lastFrameNumber() {
    const auto frames = framesAfter(0);
    return frames.empty() ? 0 : frames.back().number;
}

} // namespace

// ---- Port names

struct NameCase {
    const char* name;
    comm::NetName read;
    const char* spelling; // the one spelling of a good name
};

class PortNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(PortNames, ReadAsTheyAreWritten) {
    const NameCase c = GetParam();
    comm::NetAddress address;
    EXPECT_EQ(comm::parseNetName(c.name, &address), c.read) << c.name;
    const auto resolved = comm::resolvePort(c.name, {});
    if (c.read == comm::NetName::Good) {
        EXPECT_EQ(comm::netName(address), c.spelling);
        ASSERT_TRUE(resolved.has_value());
        EXPECT_EQ(*resolved, c.spelling);
    } else if (c.read == comm::NetName::Bad) {
        EXPECT_FALSE(resolved.has_value()) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Gateway, PortNames,
    ::testing::Values(
        NameCase{"tcp:10.0.0.5", comm::NetName::Good, "tcp:10.0.0.5:502"},
        NameCase{"tcp:10.0.0.5:502", comm::NetName::Good, "tcp:10.0.0.5:502"},
        NameCase{"TCP:gw-1.plant.local:1502", comm::NetName::Good, "tcp:gw-1.plant.local:1502"},
        NameCase{"rtu-tcp:10.0.0.5:4001", comm::NetName::Good, "rtu-tcp:10.0.0.5:4001"},
        NameCase{"Rtu-Tcp:host:65535", comm::NetName::Good, "rtu-tcp:host:65535"},
        NameCase{"tcp:10.0.0.5:1", comm::NetName::Good, "tcp:10.0.0.5:1"},
        NameCase{"tcp:", comm::NetName::Bad, ""}, NameCase{"tcp::502", comm::NetName::Bad, ""},
        NameCase{"tcp:10.0.0.5:0", comm::NetName::Bad, ""},
        NameCase{"tcp:10.0.0.5:65536", comm::NetName::Bad, ""},
        NameCase{"tcp:10.0.0.5:", comm::NetName::Bad, ""},
        NameCase{"tcp:10.0.0.5:50a", comm::NetName::Bad, ""},
        NameCase{"tcp:10.0.0.5:-1", comm::NetName::Bad, ""},
        NameCase{"tcp:my gateway", comm::NetName::Bad, ""},
        NameCase{"tcp: 10.0.0.5", comm::NetName::Bad, ""},
        NameCase{"rtu-tcp:10.0.0.5", comm::NetName::Bad, ""},
        NameCase{"rtu-tcp:10.0.0.5:70000", comm::NetName::Bad, ""},
        NameCase{"COM3", comm::NetName::NotNetwork, ""},
        NameCase{"/dev/ttyUSB0", comm::NetName::NotNetwork, ""},
        NameCase{"udp:10.0.0.5", comm::NetName::NotNetwork, ""}));

TEST(GatewayNames, BadNamesOpenNothing) {
    for (const char* name : {"tcp:", "tcp:my gateway:502", "tcp:10.0.0.5:0", "rtu-tcp:host"}) {
        errno = 0;
        EXPECT_EQ(init_comm(name, 19200, 2), COMM_OPEN_FAILED) << name;
        EXPECT_EQ(errno, EINVAL) << name;
        uint16_t word = 0;
        EXPECT_EQ(invoke_modb(1, 3, 768, 1, &word), COMM_NOT_OPEN) << name;
        int32_t baud = 0;
        uint8_t parity = 0;
        EXPECT_EQ(EnumParameters(name, 17, 0x082A, 1, &baud, &parity), COMM_OPEN_FAILED) << name;
    }
}

TEST(GatewayNames, RefusedAndUnknownHostsSayWhy) {
    const std::string refused = "tcp:127.0.0.1:" + std::to_string(sim::UnusedPort());
    struct Case {
        std::string name;
        int error;
    };
    for (const Case& c :
         {Case{refused, ECONNREFUSED},
          Case{"rtu-tcp:127.0.0.1:" + std::to_string(sim::UnusedPort()), ECONNREFUSED},
          Case{"tcp:no-such-host.invalid", ENOENT}}) {
        errno = 0;
        EXPECT_EQ(init_comm(c.name.c_str(), 19200, 2), COMM_OPEN_FAILED) << c.name;
        EXPECT_EQ(errno, c.error) << c.name;
        uint16_t word = 0;
        EXPECT_EQ(invoke_modb(1, 3, 768, 1, &word), COMM_NOT_OPEN) << c.name;
    }
}

// ---- Exchanges through both kinds of gateway

class ThroughGateway : public ::testing::TestWithParam<GatewayKind> {
  protected:
    void SetUp() override {
        gateway = std::make_unique<sim::Gateway>(GetParam(), twoModules());
        ASSERT_EQ(init_comm(gateway->portName().c_str(), 19200, 2), COMM_OK);
    }
    void TearDown() override { init_comm("", 19200, 2); }
    std::unique_ptr<sim::Gateway> gateway;
};

TEST_P(ThroughGateway, ReadsAndWritesEachModule) {
    uint16_t words[4] = {};
    for (uint8_t address : {1, 2}) {
        ASSERT_EQ(invoke_modb(address, 3, 768, 2, words), COMM_OK) << int(address);
        EXPECT_EQ(words[0], 17);
        EXPECT_EQ(words[1], 0x0203);
        ASSERT_EQ(invoke_modb(address, 3, 0, 1, words), COMM_OK);
        EXPECT_EQ(words[0], address == 1 ? 0x082A : 0x082B);
    }
    uint16_t params[2] = {2, 250};
    ASSERT_EQ(invoke_modb(2, 16, 264, 2, params), COMM_OK);
    EXPECT_EQ(gateway->module(1).reg(264), 2);
    EXPECT_EQ(gateway->module(1).reg(265), 250);
    EXPECT_EQ(gateway->module(0).reg(265), 100); // the other module untouched
}

TEST_P(ThroughGateway, NoModuleAtTheAddressIsNoReplyWithinTheNetworkAllowance) {
    uint16_t word = 0;
    const auto start = Clock::now();
    EXPECT_EQ(invoke_modb(9, 3, 768, 1, &word), COMM_NO_REPLY);
    const double took = msSince(start);
    // The response allowance (250 ms) and the network's (200 ms).
    EXPECT_GE(took, 450);
    EXPECT_LT(took, 700);
    EXPECT_EQ(invoke_modb(1, 3, 768, 1, &word), COMM_OK);
}

struct FaultCase {
    GatewayFault fault;
    int32_t code; // of the spoilt exchange
    bool modbusTcpOnly;
};

TEST_P(ThroughGateway, GatewayFaultsAreToldAndTheNextExchangeWorks) {
    const FaultCase cases[] = {
        {GatewayFault::NoPath, 10, false},
        {GatewayFault::NoAnswer, 11, false},
        {GatewayFault::Drop, COMM_IO_ERROR, false},
        {GatewayFault::DropMidReply, COMM_IO_ERROR, false},
        {GatewayFault::WrongId, COMM_NO_REPLY, true},
        {GatewayFault::WrongProtocol, COMM_NO_REPLY, true},
        {GatewayFault::ShortLength, COMM_NO_REPLY, true},
        {GatewayFault::Stale, COMM_OK, true},
        {GatewayFault::Delay, COMM_OK, false}, // 300 ms: within 250 + 200
    };
    for (const FaultCase& c : cases) {
        if (c.modbusTcpOnly && GetParam() != GatewayKind::ModbusTcp)
            continue;
        const char* name = sim::GatewayFaultName(c.fault);
        gateway->setFault(c.fault, 1);
        uint16_t words[3] = {};
        EXPECT_EQ(invoke_modb(1, 3, 768, 2, words), c.code) << name;
        if (c.code == COMM_OK) {
            EXPECT_EQ(words[0], 17) << name;
        }
        gateway->clearFaults();
        words[0] = 0;
        EXPECT_EQ(invoke_modb(1, 3, 768, 2, words), COMM_OK) << name;
        EXPECT_EQ(words[0], 17) << name;
        EXPECT_EQ(words[1], 0x0203) << name;
    }
}

TEST_P(ThroughGateway, AReplyTooLateIsNeverTakenForTheNextOnes) {
    gateway->setDelay(700); // past 250 + 200 ms
    gateway->setFault(GatewayFault::Delay, 1);
    uint16_t word = 0;
    EXPECT_EQ(invoke_modb(1, 3, 768, 1, &word), COMM_NO_REPLY);
    gateway->clearFaults();
    // The late type code (17) comes while the next request waits.
    ASSERT_EQ(invoke_modb(1, 3, 0, 1, &word), COMM_OK);
    EXPECT_EQ(word, 0x082A);
    ASSERT_EQ(invoke_modb(2, 3, 0, 1, &word), COMM_OK);
    EXPECT_EQ(word, 0x082B);
}

TEST_P(ThroughGateway, ADroppedConnectionIsMadeAgainAtTheNextRequest) {
    uint16_t word = 0;
    ASSERT_EQ(invoke_modb(1, 3, 768, 1, &word), COMM_OK);
    EXPECT_EQ(gateway->connections(), 1);
    gateway->dropConnection();
    // The gateway's thread closes it within its poll.
    for (int i = 0; i < 50; ++i) {
        usleep(10'000);
    }
    EXPECT_EQ(invoke_modb(1, 3, 768, 1, &word), COMM_OK);
    EXPECT_EQ(word, 17);
    EXPECT_EQ(gateway->connections(), 2);
}

TEST_P(ThroughGateway, TheSearchLooksOnlyForTheAddress) {
    int32_t baud = 0;
    uint8_t parity = 9;
    const auto start = Clock::now();
    ASSERT_EQ(EnumParameters(gateway->portName().c_str(), 17, 0x082B, 2, &baud, &parity), COMM_OK);
    EXPECT_EQ(baud, 19200);
    EXPECT_EQ(parity, 2);
    // A module not there: one look, not a sweep of 24 settings.
    EXPECT_EQ(EnumParameters(gateway->portName().c_str(), 17, 0x082A, 7, &baud, &parity),
              COMM_NO_REPLY);
    EXPECT_LT(msSince(start), 2000);
    // The search leaves no link open.
    uint16_t word = 0;
    EXPECT_EQ(invoke_modb(1, 3, 768, 1, &word), COMM_NOT_OPEN);
}

TEST_P(ThroughGateway, TheBusScanLooksAtEachAddress) {
    uint16_t words[2] = {};
    uint8_t other = 0xFF;
    for (uint8_t address = 1; address <= 4; ++address) {
        const int32_t rc = scan_read(address, 768, 2, words, 0, &other);
        EXPECT_EQ(rc, address <= 2 ? COMM_OK : COMM_NO_REPLY) << int(address);
        EXPECT_EQ(other, 0) << int(address);
    }
}

TEST_P(ThroughGateway, TheCaptureSeesTheFramesAsTheyWent) {
    const uint64_t before = lastFrameNumber();
    uint16_t word = 0;
    ASSERT_EQ(invoke_modb(1, 3, 768, 1, &word), COMM_OK);
    const auto frames = framesAfter(before);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].kind, COMM_FRAME_REQUEST);
    EXPECT_EQ(frames[1].kind, COMM_FRAME_REPLY);
    EXPECT_EQ(frames[1].code, COMM_OK);
    const bool mbap = GetParam() == GatewayKind::ModbusTcp;
    for (const comm_frame& f : frames)
        EXPECT_EQ((f.flags & COMM_FRAME_MBAP) != 0, mbap);
    if (mbap) {
        // Transaction, protocol 0, length 6, unit 1, function 3, 768, 1.
        const uint8_t* d = frames[0].data;
        ASSERT_EQ(frames[0].length, 12);
        EXPECT_EQ(d[2] << 8 | d[3], 0);
        EXPECT_EQ(d[4] << 8 | d[5], 6);
        EXPECT_EQ(d[6], 1);
        EXPECT_EQ(d[7], 3);
        // The reply carries the request's transaction number.
        EXPECT_EQ(frames[1].data[0], d[0]);
        EXPECT_EQ(frames[1].data[1], d[1]);
        EXPECT_EQ(frames[1].length, 6 + 1 + 2 + 2);
    } else {
        EXPECT_EQ(frames[0].length, 8);
        EXPECT_EQ(frames[1].length, 7);
    }
}

INSTANTIATE_TEST_SUITE_P(Gateway, ThroughGateway,
                         ::testing::Values(GatewayKind::ModbusTcp, GatewayKind::RtuTcp),
                         [](const auto& info) {
                             return info.param == GatewayKind::ModbusTcp ? "ModbusTcp" : "RtuTcp";
                         });

TEST(GatewayCapture, AReplyOfAnotherTransactionIsAStrayFrameAndTheWaitGoesOn) {
    sim::Gateway gateway(GatewayKind::ModbusTcp, twoModules());
    ASSERT_EQ(init_comm(gateway.portName().c_str(), 19200, 2), COMM_OK);
    gateway.setFault(GatewayFault::Stale, 1);
    const uint64_t before = lastFrameNumber();
    uint16_t word = 0;
    ASSERT_EQ(invoke_modb(1, 3, 768, 1, &word), COMM_OK);
    const auto frames = framesAfter(before);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[1].kind, COMM_FRAME_STRAY);
    EXPECT_EQ(frames[1].code, COMM_WRONG_SLAVE);
    EXPECT_EQ(frames[2].kind, COMM_FRAME_REPLY);
    init_comm("", 19200, 2);
}

TEST(GatewaySettings, TheNetworkAllowanceComesOnTopOfTheResponseAllowance) {
    struct Case {
        const char* settings;
        double lowMs, highMs;
    };
    for (const Case& c : {Case{"[Link]\nNetworkAllowance=0\n", 245, 400},
                          Case{"[Link]\nNetworkAllowance=600\n", 845, 1050},
                          Case{"[Link]\nNetworkAllowance=-5\n", 445, 650}}) {
        LibrarySettings settings(c.settings);
        sim::Gateway gateway(GatewayKind::ModbusTcp, twoModules());
        ASSERT_EQ(init_comm(gateway.portName().c_str(), 19200, 2), COMM_OK);
        uint16_t word = 0;
        const auto start = Clock::now();
        EXPECT_EQ(invoke_modb(9, 3, 768, 1, &word), COMM_NO_REPLY);
        const double took = msSince(start);
        EXPECT_GE(took, c.lowMs) << c.settings;
        EXPECT_LT(took, c.highMs) << c.settings;
        init_comm("", 19200, 2);
    }
}

TEST(GatewayMbap, ThePduLengthRule) {
    struct Case {
        std::vector<uint8_t> pdu;
        bool fits;
    };
    for (const Case& c :
         {Case{{3, 2, 0, 17}, true}, Case{{3, 4, 0, 17}, false}, Case{{3, 2, 0, 17, 0}, false},
          Case{{0x83, 2}, true}, Case{{0x83, 2, 0}, false}, Case{{16, 1, 8, 0, 2}, true},
          Case{{16, 1, 8, 0}, false}, Case{{3}, false}})
        EXPECT_EQ(comm::pduLengthFits(c.pdu.data(), static_cast<int>(c.pdu.size())), c.fits)
            << c.pdu.size();
}

// Listening through a transparent serial server: what it hands on of its
// line is cut into frames as a serial line's bytes are.
TEST(GatewayListen, ATransparentServersStreamIsHeard) {
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(server, 1), 0);
    socklen_t len = sizeof a;
    getsockname(server, reinterpret_cast<sockaddr*>(&a), &len);
    const std::string name = "rtu-tcp:127.0.0.1:" + std::to_string(ntohs(a.sin_port));

    // A master's request and the module's reply, 30 ms apart, as the server
    // hears them on its line.
    std::thread line([server] {
        const int fd = ::accept(server, nullptr, nullptr);
        uint8_t request[8] = {1, 3, 0x03, 0x00, 0, 2};
        rtu::putCrc(request, 6);
        uint8_t reply[9] = {1, 3, 4, 0, 17, 2, 3};
        rtu::putCrc(reply, 7);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        [[maybe_unused]] auto n = ::send(fd, request, sizeof request, MSG_NOSIGNAL);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        n = ::send(fd, reply, sizeof reply, MSG_NOSIGNAL);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::close(fd);
    });
    ASSERT_EQ(listen_start(name.c_str(), 19200, 2), COMM_OK);
    std::vector<comm_heard> heard;
    const auto until = Clock::now() + std::chrono::seconds(2);
    while (heard.size() < 2 && Clock::now() < until) {
        comm_heard frames[8];
        int32_t count = 0;
        ASSERT_EQ(listen_read(frames, 8, sizeof(comm_heard), 100, &count, nullptr), COMM_OK);
        heard.insert(heard.end(), frames, frames + count);
    }
    line.join();
    listen_stop();
    ::close(server);
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(heard[0].code, COMM_HEARD_FRAME);
    EXPECT_EQ(heard[0].length, 8);
    EXPECT_EQ(heard[1].code, COMM_HEARD_FRAME);
    EXPECT_EQ(heard[1].length, 9);

    // A Modbus TCP gateway hands on nothing it hears.
    errno = 0;
    EXPECT_EQ(listen_start("tcp:127.0.0.1", 19200, 2), COMM_OPEN_FAILED);
    EXPECT_EQ(errno, EPROTONOSUPPORT);
}

// A gateway of its own that answers each request with `before` first (its
// transaction number put in), then, 50 ms later, the right reply of type
// code 17: what a confused gateway may send.
struct ScriptedGateway {
    int server = -1;
    std::thread thread;
    std::string name;

    explicit ScriptedGateway(std::vector<uint8_t> before) {
        server = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(server, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(server, 1);
        socklen_t len = sizeof a;
        getsockname(server, reinterpret_cast<sockaddr*>(&a), &len);
        name = "tcp:127.0.0.1:" + std::to_string(ntohs(a.sin_port));
        thread = std::thread([this, before]() mutable {
            const int fd = ::accept(server, nullptr, nullptr);
            uint8_t request[12];
            if (::recv(fd, request, sizeof request, MSG_WAITALL) == sizeof request) {
                before[0] = request[0];
                before[1] = request[1];
                [[maybe_unused]] auto n = ::send(fd, before.data(), before.size(), MSG_NOSIGNAL);
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                const uint8_t reply[] = {request[0], request[1], 0, 0, 0, 5, 1, 3, 2, 0, 17};
                n = ::send(fd, reply, sizeof reply, MSG_NOSIGNAL);
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            }
            ::close(fd);
        });
    }
    ~ScriptedGateway() {
        thread.join();
        ::close(server);
    }
};

TEST(GatewayMbap, AFrameThatIsNoneIsThrownAwayAndTheWaitGoesOn) {
    struct Case {
        const char* what;
        std::vector<uint8_t> before;
    };
    const Case cases[] = {
        {"a length no frame has", {0, 0, 0, 0, 0xFF, 0xFF, 1, 3, 2, 0, 99}},
        {"a length of one", {0, 0, 0, 0, 0, 1, 1}},
        {"a length one short", {0, 0, 0, 0, 0, 4, 1, 3, 2, 0, 99}},
        {"protocol 1", {0, 0, 0, 1, 0, 5, 1, 3, 2, 0, 99}},
    };
    for (const Case& c : cases) {
        ScriptedGateway gateway(c.before);
        ASSERT_EQ(init_comm(gateway.name.c_str(), 19200, 2), COMM_OK) << c.what;
        const uint64_t before = lastFrameNumber();
        uint16_t word = 0;
        EXPECT_EQ(invoke_modb(1, 3, 768, 1, &word), COMM_OK) << c.what;
        EXPECT_EQ(word, 17) << c.what;
        const auto frames = framesAfter(before);
        ASSERT_EQ(frames.size(), 3u) << c.what;
        EXPECT_EQ(frames[1].kind, COMM_FRAME_STRAY) << c.what;
        EXPECT_EQ(frames[2].kind, COMM_FRAME_REPLY) << c.what;
        init_comm("", 19200, 2);
    }
}
