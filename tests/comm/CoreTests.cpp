// The library's pieces without a simulated module: time-out rule, error
// mapping, port names, argument checks, and, on Linux, line settings on a
// bare pty and replies no module should send, scripted on the master side of
// a pty. Everything but the pty runs on Windows too.
#include "Library.h"
#include "Link.h"
#include "PortName.h"
#include "Search.h"
#include "SerialDevices.h"
#include "comm_mb.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <modbus.h>
#include <random>
#include <set>

#if !defined(_WIN32)
#include "Pty.h"
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>
using commtest::Bytes;
using commtest::Pty;
#endif

using namespace std::chrono;

namespace {

double ms(microseconds us) {
    return us.count() / 1000.0;
}

// A scratch folder removed with all it holds.
struct TempDir {
    std::filesystem::path path;
    TempDir() {
        std::random_device random;
        do {
            path =
                std::filesystem::temp_directory_path() / ("comm_test_" + std::to_string(random()));
        } while (!std::filesystem::create_directory(path));
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::filesystem::path write(const std::string& name, const std::string& text) const {
        std::ofstream(path / name, std::ios::binary) << text;
        return path / name;
    }
};

} // namespace

TEST(TimeoutRule, FitsLineSpeedAndRequestLength) {
    // Read request (8 bytes) and write of four registers (17 bytes).
    const auto r2400 = comm::timeoutsFor(2400, comm::requestBytes(3, 4));
    const auto w2400 = comm::timeoutsFor(2400, comm::requestBytes(16, 4));
    const auto r115 = comm::timeoutsFor(115200, comm::requestBytes(3, 4));
    const auto w115 = comm::timeoutsFor(115200, comm::requestBytes(16, 4));
    EXPECT_NEAR(ms(r2400.response), 302.7, 0.5);
    EXPECT_NEAR(ms(w2400.response), 344.0, 0.5);
    EXPECT_NEAR(ms(r2400.byte), 33.7, 0.5);
    EXPECT_NEAR(ms(r115.response), 251.1, 0.5);
    EXPECT_NEAR(ms(w115.response), 252.0, 0.5);
    // An allowance of the library's settings file takes the default's place.
    EXPECT_NEAR(ms(comm::timeoutsFor(2400, 8, milliseconds(1000)).response), 1052.7, 0.5);
    EXPECT_NEAR(ms(r115.byte), 20.3, 0.5);
    EXPECT_EQ(comm::requestBytes(16, 1), 11);

    // Sending the longest request and the whole longest reply (13 bytes)
    // fits into response + byte time-outs at every speed, and the byte
    // time-out always allows several characters of pause.
    for (int32_t baud : {1200, 2400, 4800, 9600, 19200, 28800, 38400, 57600, 115200}) {
        const double charMs = 11000.0 / baud;
        const auto t = comm::timeoutsFor(baud, 17);
        EXPECT_GT(ms(t.response), 20.5 * charMs + 50) << baud;
        EXPECT_GE(ms(t.byte), std::max(20.0, 3 * charMs)) << baud;
    }
}

TEST(TimeoutRule, SearchWithoutModuleFitsFifteenSeconds) {
    // A quick pass and one with the default allowance, one read of register
    // 768 per setting, plus opening the port (a few ms each).
    double total = 0;
    for (const auto& s : comm::searchOrder()) {
        total += ms(comm::timeoutsFor(s.baud, 8, comm::QuickPassAllowance).response) + 10;
        total += ms(comm::timeoutsFor(s.baud, 8).response) + 10;
    }
    EXPECT_LT(total, 15000);
}

TEST(SearchOrder, EverySpeedAndParityOnceFactorySettingFirst) {
    const auto& order = comm::searchOrder();
    ASSERT_EQ(order.size(), 24u);
    EXPECT_EQ(order.front().baud, 19200);
    EXPECT_EQ(order.front().parity, 2);
    std::set<std::pair<int32_t, int>> seen;
    for (const auto& s : order) {
        EXPECT_TRUE(comm::isSupportedSpeed(s.baud));
        EXPECT_LE(s.parity, 2);
        seen.insert({s.baud, s.parity});
    }
    EXPECT_EQ(seen.size(), 24u);
    EXPECT_EQ(seen.count({1200, 0}), 0u);
}

TEST(ErrnoMapping, ModbusErrorsBecomeResultCodes) {
    EXPECT_EQ(comm::codeForModbusErrno(EMBXILFUN), 1);
    EXPECT_EQ(comm::codeForModbusErrno(EMBXILADD), 2);
    EXPECT_EQ(comm::codeForModbusErrno(EMBXMEMPAR), 8);
    EXPECT_EQ(comm::codeForModbusErrno(EMBXGTAR), 11);
    EXPECT_EQ(comm::codeForModbusErrno(ETIMEDOUT), COMM_NO_REPLY);
    EXPECT_EQ(comm::codeForModbusErrno(EMBBADCRC), COMM_BAD_CRC);
    EXPECT_EQ(comm::codeForModbusErrno(EMBBADSLAVE), COMM_WRONG_SLAVE);
    for (int e : {EMBBADDATA, EMBMDATA, EMBBADEXC, EMBUNKEXC}) {
        EXPECT_EQ(comm::codeForModbusErrno(e), COMM_BAD_REPLY) << e;
    }
    for (int e : {EIO, EBADF, 0}) {
        EXPECT_EQ(comm::codeForModbusErrno(e), COMM_IO_ERROR) << e;
    }
}

#if defined(_WIN32)

TEST(PortNames, ComNamesGoToTheSystem) {
    TempDir dir;
    const auto ini = dir.write("comm_mb.ini", "[Ports]\r\nCOM2=COM7\r\nCOM3=\\\\.\\COM9\r\n");
    EXPECT_EQ(comm::resolvePort("COM1", ini), "\\\\.\\COM1");
    EXPECT_EQ(comm::resolvePort("com12", ini), "\\\\.\\COM12");
    EXPECT_EQ(comm::resolvePort("COM2", ini), "\\\\.\\COM7");
    EXPECT_EQ(comm::resolvePort("COM3", ini), "\\\\.\\COM9");
    EXPECT_EQ(comm::resolvePort("\\\\.\\COM5", ini), "\\\\.\\COM5");
    for (const char* bad : {"", "COM", "COM0", "COM256", "COM1x", "LPT1"}) {
        EXPECT_FALSE(comm::resolvePort(bad, ini)) << bad;
    }
}

#else

TEST(PortNames, PathsComNamesAndGarbage) {
    TempDir dir;
    const auto ini = dir.write("comm_mb.ini", "\xEF\xBB\xBF; ports of this PC\n"
                                              "[Other]\r\nCOM1=/dev/wrong\r\n"
                                              "[ ports ]\r\n"
                                              "  com1 = /dev/ttyUSB0  \r\n"
                                              "# COM2=/dev/commented\n"
                                              "COM3=\n"
                                              "Com12=/dev/ttyACM1\n");
    EXPECT_EQ(comm::resolvePort("/dev/pts/4", ini), "/dev/pts/4");
    EXPECT_EQ(comm::resolvePort("COM1", ini), "/dev/ttyUSB0");
    EXPECT_EQ(comm::resolvePort("cOm1", ini), "/dev/ttyUSB0");
    EXPECT_EQ(comm::resolvePort("COM12", ini), "/dev/ttyACM1");
    // Without an entry (an empty one included) a name gets what the rule deals
    // out to it from this PC's devices.
    const auto present = comm::serialDevices();
    const auto dealt = [&](int n, const std::filesystem::path& file) {
        return comm::comTarget(n, file, present).device;
    };
    EXPECT_EQ(comm::resolvePort("COM2", ini), dealt(2, ini));
    EXPECT_EQ(comm::resolvePort("COM3", ini), dealt(3, ini));
    EXPECT_EQ(comm::resolvePort("COM4", dir.path / "missing.ini"),
              dealt(4, std::filesystem::path()));
    for (const char* bad :
         {"", "COM", "COM0", "COM256", "COM1x", "xCOM1", "COM 1", "ttyS0", "dev/ttyS0", "LPT1"}) {
        EXPECT_FALSE(comm::resolvePort(bad, ini)) << bad;
    }

    // The file is read anew each time.
    dir.write("comm_mb.ini", "[Ports]\nCOM1=/dev/ttyUSB7\n");
    EXPECT_EQ(comm::resolvePort("COM1", ini), "/dev/ttyUSB7");
}

TEST(PortNames, MapReadsAsAWindowsProfileFile) {
    TempDir dir;
    const struct {
        const char* file;
        std::string com1; // the device COM1 opens
    } cases[] = {
        {"[Ports]\nCOM1=\"/dev/ttyUSB1\"\n", "/dev/ttyUSB1"},
        {"[Ports]\nCOM1='/dev/ttyUSB1'\n", "/dev/ttyUSB1"},
        // Unmatched quotes stay, and the value is no absolute path then.
        {"[Ports]\nCOM1='/dev/ttyUSB1\"\n", (dir.path / "'/dev/ttyUSB1\"").string()},
        {"[Ports]\nCOM1=/dev/ttyUSB1 ; adapter\n", "/dev/ttyUSB1 ; adapter"},
        {"\xEF\xBB\xBF[PORTS] ; \xcd\xe0\xf1\r\n; COM1=/dev/no\r\ncom1 = /dev/ttyUSB1 \r\n",
         "/dev/ttyUSB1"},
        // Only the first section of a name counts.
        {"[Ports]\nCOM2=/dev/ttyUSB2\n[Ports]\nCOM1=/dev/ttyUSB1\n", "automatic"},
        // A relative path lies beside the file, not in the current folder.
        {"[Ports]\nCOM1=sim/port\n", (dir.path / "sim/port").string()},
        {"[Ports]\nCOM1=\"\"\n", "automatic"},
    };
    // COM1 without an entry: what the rule deals out to it on this PC, if
    // anything (COM2 in the file holds no device of this PC).
    const auto automatic =
        comm::comTarget(1, std::filesystem::path(), comm::serialDevices()).device.value_or("");
    for (const auto& c : cases) {
        const auto ini = dir.write("comm_mb.ini", c.file);
        EXPECT_EQ(comm::resolvePort("COM1", ini).value_or(""),
                  c.com1 == "automatic" ? automatic : c.com1)
            << c.file;
    }
}

// A made-up device tree in the shapes Linux gives: /dev/serial/by-id links
// to USB adapters, /sys/class/tty entries with a device link (and, for ports
// of the serial core, a type), the console's list.
struct FakeDevices : TempDir {
    void link(const std::filesystem::path& at, const std::string& to) const {
        std::filesystem::create_directories(at.parent_path());
        std::filesystem::create_symlink(to, at);
    }
    void file(const std::filesystem::path& at, const std::string& text) const {
        std::filesystem::create_directories(at.parent_path());
        std::ofstream(at) << text;
    }
    void usb(const std::string& tty, const std::string& byId, const std::string& maker,
             const std::string& product) const {
        const std::string usbDevice = "sys/devices/pci0000:00/usb1/1-" + tty;
        file(path / usbDevice / "manufacturer", maker + "\n");
        file(path / usbDevice / "product", product + "\n");
        std::filesystem::create_directories(path / usbDevice / "1-1:1.0" / tty);
        link(path / "sys/class/tty" / tty / "device",
             "../../../devices/pci0000:00/usb1/1-" + tty + "/1-1:1.0/" + tty);
        file(path / "dev" / tty, "");
        if (!byId.empty()) {
            link(path / "dev/serial/by-id" / byId, "../../" + tty);
        }
    }
    void builtIn(const std::string& tty, int type) const {
        std::filesystem::create_directories(path / "sys/devices/platform/serial8250");
        link(path / "sys/class/tty" / tty / "device", "../../../devices/platform/serial8250");
        file(path / "sys/class/tty" / tty / "type", std::to_string(type) + "\n");
        file(path / "dev" / tty, "");
    }
    void terminals(const std::string& console) const {
        file(path / "sys/class/tty/console/active", console + "\n");
        std::filesystem::create_directories(path / "sys/class/tty/tty0"); // no device behind it
    }
};

TEST(PortNames, DeviceListAndTheComNamesDealtOut) {
    const std::string a = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0";
    const std::string b = "/dev/serial/by-id/usb-Silicon_Labs_CP2102_B2-if00-port0";
    const struct Case {
        const char* what;
        std::function<void(const FakeDevices&)> make;
        const char* ini;
        std::vector<std::string> com; // COM1, COM2, ...: "" reaches nothing
    } cases[] = {
        {"one adapter is COM1",
         [&](const FakeDevices& f) {
             f.terminals("tty0 ttyS0");
             f.builtIn("ttyS0", 4); // the console
             f.builtIn("ttyS1", 0); // a legacy port with nothing behind it
             f.usb("ttyUSB0", a.substr(18), "FTDI", "FT232R USB UART");
         },
         "",
         {a, ""}},
        {"adapters by their stable names, then the others, then built-in ports by number",
         [&](const FakeDevices& f) {
             f.terminals("tty0");
             f.usb("ttyUSB1", a.substr(18), "FTDI", "FT232R USB UART");
             f.usb("ttyUSB0", b.substr(18), "Silicon Labs", "CP2102 USB to UART Bridge");
             f.usb("ttyACM0", "", "Arduino", "Arduino Uno");
             f.builtIn("ttyS10", 4);
             f.builtIn("ttyS2", 4);
         },
         "",
         {a, b, "/dev/ttyACM0", "/dev/ttyS2", "/dev/ttyS10", ""}},
        {"an entry wins and its device is out of the deal",
         [&](const FakeDevices& f) {
             f.usb("ttyUSB0", a.substr(18), "FTDI", "FT232R USB UART");
             f.usb("ttyUSB1", b.substr(18), "Silicon Labs", "CP2102");
         },
         "[Ports]\nCOM1=/dev/ttyS7\nCOM3=",
         {"/dev/ttyS7", a, b, ""}},
        {"an entry naming an adapter by its device name",
         [&](const FakeDevices& f) {
             f.usb("ttyUSB0", a.substr(18), "FTDI", "FT232R USB UART");
             f.usb("ttyUSB1", b.substr(18), "Silicon Labs", "CP2102");
         },
         "[Ports]\nCOM2=/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0\n",
         {b, a, ""}},
        {"nothing present", [](const FakeDevices&) {}, "", {"", ""}},
    };
    for (const Case& c : cases) {
        FakeDevices tree;
        c.make(tree);
        const auto ini = tree.write("comm_mb.ini", c.ini);
        const auto present = comm::serialDevices(tree.path);
        for (size_t i = 0; i < c.com.size(); ++i) {
            const auto target = comm::comTarget(static_cast<int>(i + 1), ini, present);
            EXPECT_EQ(target.device.value_or(""), c.com[i]) << c.what << ", COM" << i + 1;
        }
    }

    FakeDevices tree;
    tree.usb("ttyUSB3", a.substr(18), "FTDI", "FTDI FT232R USB UART");
    tree.usb("ttyACM0", "", "Arduino (www.arduino.cc)", "Arduino Uno");
    const auto present = comm::serialDevices(tree.path);
    ASSERT_EQ(present.size(), 2u);
    EXPECT_EQ(present[0].node, "/dev/ttyUSB3");
    EXPECT_EQ(present[0].description, "FTDI FT232R USB UART") << "no maker twice";
    EXPECT_EQ(present[1].description, "Arduino (www.arduino.cc) Arduino Uno");
    EXPECT_TRUE(present[1].usb);
}

TEST(PortNames, SettingsFileLiesBesideTheModule) {
    // Linked statically here, so the module is this test program.
    const auto file = comm::defaultIniFile();
    EXPECT_EQ(file.filename(), "comm_mb.ini");
    EXPECT_EQ(file.parent_path(), std::filesystem::canonical("/proc/self/exe").parent_path());
}

#endif

TEST(LinkArguments, CheckedBeforeThePortInFixedOrder) {
    comm::Link link; // not open
    uint16_t data[4] = {};
    EXPECT_EQ(link.exchange(1, 6, 0, 1, nullptr), COMM_BAD_FUNCTION);
    EXPECT_EQ(link.exchange(1, 4, 0, 0, data), COMM_BAD_FUNCTION);
    EXPECT_EQ(link.exchange(1, 3, 0, 1, nullptr), COMM_BAD_BUFFER);
    EXPECT_EQ(link.exchange(1, 16, 0, 0, data), COMM_BAD_BUFFER);
    EXPECT_EQ(link.exchange(1, 3, 0, 5, data), COMM_BAD_BUFFER);
    EXPECT_EQ(link.exchange(0, 3, 0, 1, data), COMM_BAD_PARAMETER);
    EXPECT_EQ(link.exchange(248, 3, 0, 1, data), COMM_BAD_PARAMETER);
    EXPECT_EQ(link.exchange(1, 3, 0, 4, data), COMM_NOT_OPEN);
    EXPECT_EQ(link.exchange(247, 16, 0, 1, data), COMM_NOT_OPEN);
}

#if !defined(_WIN32)

TEST(LinkOpen, SetsExactlySpeedParityAndStopBits) {
    Pty pty;
    comm::Link link;
    for (int32_t baud : {1200, 2400, 4800, 9600, 19200, 28800, 38400, 57600, 115200}) {
        for (int parity : {0, 1, 2}) {
            ASSERT_EQ(link.open(pty.path(), baud, parity), COMM_OK) << baud << " " << parity;
            const auto line = commtest::probeLine(pty.path());
            EXPECT_EQ(line.ospeed, static_cast<unsigned>(baud));
            EXPECT_EQ(line.ispeed, static_cast<unsigned>(baud));
            EXPECT_TRUE(line.cs8);
            // A pty clears PARENB whatever is asked; odd parity shows in PARODD.
            EXPECT_EQ(line.odd, parity == 1);
            EXPECT_EQ(line.twoStopBits, parity == 0);
        }
    }
}

TEST(LinkOpen, RefusesBadSettingsAndMissingDevices) {
    Pty pty;
    comm::Link link;
    ASSERT_EQ(link.open(pty.path(), 19200, 2), COMM_OK);
    // Every failure leaves the link closed, also the one opened before.
    EXPECT_EQ(link.open(pty.path(), 19200, 3), COMM_BAD_PARAMETER);
    EXPECT_FALSE(link.isOpen());
    for (int32_t baud : {0, -9600, 300, 14400, 56000, 230400}) {
        EXPECT_EQ(link.open(pty.path(), baud, 0), COMM_BAD_PARAMETER) << baud;
    }
    EXPECT_EQ(link.open("/dev/no_such_port", 9600, 0), COMM_OPEN_FAILED);
    EXPECT_EQ(link.open("", 9600, 0), COMM_OPEN_FAILED);
    EXPECT_EQ(link.open("/etc/hostname", 9600, 0), COMM_OPEN_FAILED); // not a tty
    EXPECT_FALSE(link.isOpen());
}

TEST(LibraryState, FailedInitClosesTheLinkButRejectedSearchDoesNot) {
    Pty pty;
    pty.respond([](const Bytes& req) { return commtest::withCrc({req[0], 3, 2, 0x12, 0x34}); });
    comm::Library lib({});
    uint16_t word = 0;
    ASSERT_EQ(lib.initComm(pty.path().c_str(), 115200, 1), COMM_OK);
    ASSERT_EQ(lib.invoke(1, 3, 768, 1, &word), COMM_OK);
    EXPECT_EQ(word, 0x1234);

    int32_t baud = 0;
    uint8_t parity = 0;
    EXPECT_EQ(lib.enumParameters(pty.path().c_str(), 17, 1, 1, nullptr, &parity), COMM_BAD_BUFFER);
    EXPECT_EQ(lib.enumParameters(pty.path().c_str(), 17, 1, 1, &baud, nullptr), COMM_BAD_BUFFER);
    EXPECT_EQ(lib.enumParameters(pty.path().c_str(), 17, 1, 0, &baud, &parity), COMM_BAD_PARAMETER);
    EXPECT_EQ(lib.enumParameters(pty.path().c_str(), 17, 1, 248, &baud, &parity),
              COMM_BAD_PARAMETER);
    EXPECT_EQ(lib.enumParameters(pty.path().c_str(), 70000, 1, 1, &baud, &parity),
              COMM_BAD_PARAMETER);
    EXPECT_EQ(lib.enumParameters("", 17, 1, 1, &baud, &parity), COMM_OPEN_FAILED);
    EXPECT_EQ(lib.enumParameters(nullptr, 17, 1, 1, &baud, &parity), COMM_OPEN_FAILED);
    EXPECT_EQ(lib.invoke(1, 3, 768, 1, &word), COMM_OK) << "a rejected search keeps the link";

    EXPECT_EQ(lib.enumParameters("/dev/no_such_port", 17, 1, 1, &baud, &parity), COMM_OPEN_FAILED);
    EXPECT_EQ(lib.invoke(1, 3, 768, 1, &word), COMM_NOT_OPEN) << "a search takes the port";

    ASSERT_EQ(lib.initComm(pty.path().c_str(), 115200, 1), COMM_OK);
    EXPECT_EQ(lib.initComm(pty.path().c_str(), 115200, 3), COMM_BAD_PARAMETER);
    EXPECT_EQ(lib.invoke(1, 3, 768, 1, &word), COMM_NOT_OPEN);
    ASSERT_EQ(lib.initComm(pty.path().c_str(), 115200, 1), COMM_OK);
    EXPECT_EQ(lib.initComm(pty.path().c_str(), 28000, 1), COMM_BAD_PARAMETER);
    EXPECT_EQ(lib.invoke(1, 3, 768, 1, &word), COMM_NOT_OPEN);
    ASSERT_EQ(lib.initComm(pty.path().c_str(), 115200, 1), COMM_OK);
    EXPECT_EQ(lib.initComm("garbage", 115200, 1), COMM_OPEN_FAILED);
    EXPECT_EQ(lib.invoke(1, 3, 768, 1, &word), COMM_NOT_OPEN);
}

TEST(OddReplies, EachGetsItsOwnCode) {
    Pty pty;
    comm::Link link;
    ASSERT_EQ(link.open(pty.path(), 115200, 2), COMM_OK);
    uint16_t data[4] = {};
    struct Case {
        const char* what;
        commtest::Pty::Responder reply;
        int32_t code;
    };
    const Case cases[] = {
        {"reply from another address",
         [](const Bytes& r) {
             return commtest::withCrc({uint8_t(r[0] + 1), 3, 2, 0, 1});
         },
         COMM_WRONG_SLAVE},
        {"wrong byte count",
         [](const Bytes& r) {
             return commtest::withCrc({r[0], 3, 4, 0, 1, 0, 2});
         },
         COMM_BAD_REPLY},
        {"other function",
         [](const Bytes& r) {
             return commtest::withCrc({r[0], 4, 2, 0, 1});
         },
         COMM_BAD_REPLY},
        {"gateway exception",
         [](const Bytes& r) {
             return commtest::withCrc({r[0], 0x83, 10});
         },
         10},
        {"unknown exception",
         [](const Bytes& r) {
             return commtest::withCrc({r[0], 0x83, 40});
         },
         COMM_BAD_REPLY},
        {"bad CRC",
         [](const Bytes& r) {
             auto b = commtest::withCrc({r[0], 3, 2, 0, 1});
             b.back() ^= 0x55;
             return b;
         },
         COMM_BAD_CRC},
        {"reply stopping halfway",
         [](const Bytes& r) {
             return Bytes{r[0], 3, 2, 0};
         },
         COMM_NO_REPLY},
    };
    for (const auto& c : cases) {
        pty.respond(c.reply);
        EXPECT_EQ(link.exchange(1, 3, 1024, 1, data), c.code) << c.what;
    }
}

TEST(Exchange, StaleInputIsDroppedBeforeTheRequest) {
    Pty pty;
    comm::Link link;
    ASSERT_EQ(link.open(pty.path(), 115200, 0), COMM_OK);
    link.setResponseAllowance(milliseconds(50));
    // The first reply comes too late for its request; the second request must
    // not take it for its own answer.
    int calls = 0;
    pty.respond([&calls](const Bytes& r) {
        if (++calls == 1) {
            usleep(150'000);
            return commtest::withCrc({r[0], 3, 2, 0xDE, 0xAD});
        }
        return commtest::withCrc({r[0], 3, 2, 0x00, 0x07});
    });
    uint16_t value = 0;
    EXPECT_EQ(link.exchange(1, 3, 0, 1, &value), COMM_NO_REPLY);
    usleep(100'000); // the late reply is in the input queue now
    EXPECT_EQ(link.exchange(1, 3, 1, 1, &value), COMM_OK);
    EXPECT_EQ(value, 7);
}

TEST(LinkOpen, SaysWhyAPortWillNotOpen) {
    TempDir dir;
    namespace fs = std::filesystem;
    fs::permissions(dir.path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
    const auto locked = dir.write("ttyUSB0", "");
    fs::permissions(locked, fs::perms::none);

    // No permission, as a user who is not in its group: root opens anything,
    // so a child drops to "nobody" first (before any thread runs here).
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) {
            _exit(77);
        }
        comm::Link link;
        const int32_t rc = link.open(locked.string(), 19200, 2);
        _exit(rc == COMM_OPEN_FAILED && link.openError() == EACCES ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) {
        ADD_FAILURE() << "cannot drop privileges to check a port without permission";
    } else {
        EXPECT_EQ(WEXITSTATUS(status), 0) << "no permission is not told as EACCES";
    }

    Pty held;
    comm::Link holder;
    ASSERT_EQ(holder.open(held.path(), 19200, 2), COMM_OK);
    const struct {
        const char* what;
        std::string device;
        int error;
    } cases[] = {
        {"no such device", (dir.path / "ttyUSB9").string(), ENOENT},
        {"not a serial port", dir.write("notes.txt", "").string(), ENOTTY},
        {"held by another opener", held.path(), EBUSY},
    };
    for (const auto& c : cases) {
        comm::Link link;
        EXPECT_EQ(link.open(c.device, 19200, 2), COMM_OPEN_FAILED) << c.what;
        EXPECT_EQ(link.openError(), c.error) << c.what;
    }
    // The library hands the reason on in errno, its entry points unchanged.
    comm::Library library({});
    errno = 0;
    EXPECT_EQ(library.initComm(held.path().c_str(), 19200, 2), COMM_OPEN_FAILED);
    EXPECT_EQ(errno, EBUSY);
}

TEST(LinkOpen, APortServesOneOpenerAtATime) {
    Pty pty;
    comm::Link first;
    comm::Link second; // as another program would
    ASSERT_EQ(first.open(pty.path(), 19200, 2), COMM_OK);
    EXPECT_EQ(second.open(pty.path(), 19200, 2), COMM_OPEN_FAILED);
    EXPECT_EQ(second.openError(), EBUSY);
    // Reopening by the holder is no second opener.
    EXPECT_EQ(first.open(pty.path(), 9600, 0), COMM_OK);
    first.close();
    EXPECT_EQ(second.open(pty.path(), 19200, 2), COMM_OK);
}

#endif
