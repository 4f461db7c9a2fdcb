// The simulated module against an independent master (mbpoll), and the
// qs730-sim program as scripts use it.
#include "Master.h"
#include "Registers.h"
#include "SimModule.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using simtest::Master;
using Words = std::vector<uint16_t>;

namespace {

bool OnPath(const std::string& program) {
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

// Output of a shell command and its exit status.
std::string Shell(const std::string& command, int* status = nullptr) {
    std::string out;
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p)
        return out;
    char buf[512];
    while (std::fgets(buf, sizeof buf, p))
        out += buf;
    const int rc = ::pclose(p);
    if (status)
        *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

TEST(SimWithMbpoll, ReadsTheLiveDataAndWrites) {
    if (!OnPath("mbpoll"))
        GTEST_SKIP()
            << "mbpoll is not installed (apt-get install mbpoll); skipping the cross-check";
    sim::SimModule sim;
    sim.setReg(reg::FlagsA, reg::FlagFLASH);
    sim.setInput(1234);
    sim.setReg(reg::FlagsB, reg::FlagOutOfRange);
    // mbpoll numbers registers from 1: reference 1025 is register 1024.
    const std::string common = "mbpoll -m rtu -a 1 -b 19200 -P even -t 4 -o 0.5 -1 ";
    int status = -1;
    std::string out = Shell(common + "-r 1025 -c 3 " + sim.devicePath(), &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("[1025]: \t4\n"), std::string::npos) << out;
    EXPECT_NE(out.find("[1026]: \t1234\n"), std::string::npos) << out;
    EXPECT_NE(out.find("[1027]: \t1\n"), std::string::npos) << out;

    // Several values go out with function 16, one alone with function 6,
    // which the module does not know.
    out = Shell(common + "-r 265 " + sim.devicePath() + " 2 250", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(sim.reg(264), 2);
    EXPECT_EQ(sim.reg(265), 250);
    out = Shell(common + "-r 266 " + sim.devicePath() + " 300", &status);
    EXPECT_NE(status, 0);
    EXPECT_NE(out.find("Illegal function"), std::string::npos) << out;

    out = Shell(common + "-r 262 " + sim.devicePath(), &status); // register 261
    EXPECT_NE(status, 0);
    EXPECT_NE(out.find("Illegal data address"), std::string::npos) << out;
}

// Starts qs730-sim with --link and `args`, hands the link to `talk` once the
// program has named it, then stops the program and checks it ends cleanly.
template <class Talk> void RunSimProgram(std::vector<const char*> args, Talk talk) {
    const std::string link = ::testing::TempDir() + "qs730-sim-cli";
    ::unlink(link.c_str());
    args.insert(args.begin(), {"qs730-sim", "--link", link.c_str()});
    args.push_back(nullptr);
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::close(out[1]);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 2);
        ::execv(QS_SIM_EXE, const_cast<char* const*>(args.data()));
        ::_exit(127);
    }
    ::close(out[1]);
    FILE* stdoutOfSim = ::fdopen(out[0], "r");
    char line[256] = {};
    const bool gotLine = std::fgets(line, sizeof line, stdoutOfSim) != nullptr;
    EXPECT_EQ(std::string(line), link + "\n") << "the first line names the device";
    if (gotLine)
        talk(link);
    ::kill(pid, SIGTERM);
    int status = -1;
    ::waitpid(pid, &status, 0);
    std::fclose(stdoutOfSim);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "clean exit on SIGTERM";
    struct stat st {};
    EXPECT_NE(::lstat(link.c_str(), &st), 0) << "link removed";
}

TEST(SimProgram, ServesUntilTerminated) {
    RunSimProgram({"--address", "3", "--baud", "9600", "--parity", "odd", "--serial", "B0123",
                   "--type", "12", "--current", "20500", "--voltage", "9000"},
                  [](const std::string& link) {
                      Master m(link, 9600, 1, 3);
                      EXPECT_EQ(m.values(0, 1), Words{4219});
                      EXPECT_EQ(m.values(768, 1), Words{12});
                      EXPECT_EQ(m.values(1025, 1), Words{20500});
                  });
}

TEST(SimProgram, RefusesChosenWrites) {
    RunSimProgram({"--address", "3", "--baud", "9600", "--parity", "odd", "--refuse", "258:3",
                   "--refuse", "0x103:4"},
                  [](const std::string& link) {
                      Master m(link, 9600, 1, 3);
                      // Refused writes: the value stays, and reads go on.
                      EXPECT_EQ(m.write(258, {192}), simtest::Ex(3));
                      EXPECT_EQ(m.write(258, {48, 2}), simtest::Ex(3));
                      EXPECT_EQ(m.write(259, {2}), simtest::Ex(4));
                      EXPECT_EQ(m.values(258, 2), (Words{96, 1}));
                  });
}

TEST(SimProgram, ServesALineOfModules) {
    // The other options are what a module's fields leave out.
    RunSimProgram({"--baud", "9600", "--module", "3:B0123", "--module", "4:A0001:19200:none:12",
                   "--module", "5"},
                  [](const std::string& link) {
                      Master slow(link, 9600, 2, 3);
                      EXPECT_EQ(slow.values(0, 1), Words{4219});
                      slow.setSlave(5);
                      EXPECT_EQ(slow.values(0, 1), Words{0x082A});
                      Master fast(link, 19200, 0, 4);
                      EXPECT_EQ(fast.values(0, 1), Words{2049});
                      EXPECT_EQ(fast.values(768, 1), Words{12});
                  });
}

// The modules behind the program's gateway, through libmodbus's TCP client:
// the first line names the port as the tool writes it, each address is its
// own module, and the gateway's faults come as asked.
TEST(SimProgram, ServesModulesBehindAGateway) {
    const char* args[] = {"qs730-sim", "--tcp", "0",       "--module",  "3:B0123",
                          "--module",  "5",     "--fault", "no-path:3", nullptr};
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::close(out[1]);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 2);
        ::execv(QS_SIM_EXE, const_cast<char* const*>(args));
        ::_exit(127);
    }
    ::close(out[1]);
    FILE* stdoutOfSim = ::fdopen(out[0], "r");
    char line[256] = {};
    ASSERT_NE(std::fgets(line, sizeof line, stdoutOfSim), nullptr);
    const std::string name = line;
    ASSERT_EQ(name.rfind("tcp:127.0.0.1:", 0), 0u) << name;
    const int port = std::atoi(name.c_str() + 14);
    ASSERT_GT(port, 0);

    modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(modbus_connect(ctx), 0);
    uint16_t word = 0;
    modbus_set_slave(ctx, 3);
    EXPECT_EQ(modbus_read_registers(ctx, 0, 1, &word), 1);
    EXPECT_EQ(word, 4219);
    modbus_set_slave(ctx, 5);
    EXPECT_EQ(modbus_read_registers(ctx, 0, 1, &word), 1);
    EXPECT_EQ(word, 0x082A);
    // The third request: the gateway finds no path.
    EXPECT_EQ(modbus_read_registers(ctx, 0, 1, &word), -1);
    EXPECT_EQ(errno, EMBXGPATH);
    modbus_close(ctx);
    modbus_free(ctx);

    ::kill(pid, SIGTERM);
    int status = -1;
    ::waitpid(pid, &status, 0);
    std::fclose(stdoutOfSim);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "clean exit on SIGTERM";
}

TEST(SimProgram, RefusesBadOptions) {
    int status = 0;
    std::string out = Shell(std::string(QS_SIM_EXE) + " --help", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out.rfind("usage: qs730-sim", 0), 0u) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
    for (const char* bad : {"--baud 14400",
                            "--parity mark",
                            "--address 0",
                            "--address 248",
                            "--serial A2048",
                            "--serial 70000",
                            "--bogus 1",
                            "--type",
                            "--refuse 258",
                            "--refuse 258:0",
                            "--refuse 258:256",
                            "--module 0",
                            "--module 1:A0042:14400",
                            "--module 1:::mark",
                            "--module 1:A0042:19200:even:17:9",
                            "--tcp 70000",
                            "--tcp 0 --rtu-tcp 0",
                            "--tcp 0 --fault bogus:1",
                            "--tcp 0 --fault drop:0",
                            "--tcp 0 --fault noise:1",
                            "--rtu-tcp 0 --master 1:1024:3",
                            "--tcp 0 --period 5"}) {
        Shell(std::string(QS_SIM_EXE) + " " + bad, &status);
        EXPECT_EQ(status, 2) << bad;
    }
}

} // namespace
