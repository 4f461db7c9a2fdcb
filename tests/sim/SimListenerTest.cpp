// qs730-sim with a polling master of its own: what a listener endpoint hears,
// cut into frames by silence, against the master's own counts.
#include "Frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;
using Counts = std::map<std::string, long>;

constexpr int Baud = 19200;
constexpr double CharMs = 11.0 * 1000 / Baud;
// Frames on the simulated line are at least 2 ms apart; a whole frame is
// written in one go, so anything quieter than this is one frame.
constexpr auto Silence = std::chrono::microseconds(1500);

struct Heard {
    Bytes bytes;
    Clock::time_point at; // of its first byte
};

Counts ParseCounts(const std::string& text) {
    Counts counts;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = std::min(text.find('\n', start), text.size());
        const std::string line = text.substr(start, end - start);
        const auto space = line.find(' ');
        if (space != std::string::npos)
            counts[line.substr(0, space)] = std::stol(line.substr(space + 1));
        start = end + 1;
    }
    return counts;
}

// qs730-sim started with `args`, its listener endpoints named on stdout.
class Sim {
  public:
    Sim(std::vector<std::string> args, int listeners) {
        status_ = ::testing::TempDir() + "qs730-sim-status-" + std::to_string(::getpid());
        args.insert(args.begin(), {"qs730-sim", "--status", status_});
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int out[2];
        if (::pipe(out) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::close(out[0]);
            ::close(out[1]);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 2);
            ::execv(QS_SIM_EXE, argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        out_ = ::fdopen(out[0], "r");
        char line[256];
        for (int i = 0; i < listeners && std::fgets(line, sizeof line, out_); ++i)
            paths.emplace_back(line, std::strcspn(line, "\n"));
    }
    ~Sim() {
        if (pid_ > 0)
            stop();
        if (out_)
            std::fclose(out_);
        ::unlink(status_.c_str());
    }

    // SIGTERM; the counts it prints at the end (empty when it did not end cleanly).
    Counts stop() {
        ::kill(pid_, SIGTERM);
        std::string rest;
        char buf[256];
        while (std::fgets(buf, sizeof buf, out_))
            rest += buf;
        int status = -1;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            return {};
        return ParseCounts(rest);
    }
    Counts statusFile() const {
        std::ifstream in(status_);
        return ParseCounts(std::string(std::istreambuf_iterator<char>(in), {}));
    }

    std::vector<std::string> paths;

  private:
    pid_t pid_ = -1;
    FILE* out_ = nullptr;
    std::string status_;
};

// A listener as the tool opens one: plain termios, raw, at the line speed.
class Listener {
  public:
    explicit Listener(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_GE(fd_, 0) << path;
        termios t{};
        ::tcgetattr(fd_, &t);
        ::cfmakeraw(&t);
        ::cfsetspeed(&t, B19200);
        t.c_cflag |= PARENB | CLOCAL | CREAD;
        ::tcsetattr(fd_, TCSANOW, &t);
        ::tcflush(fd_, TCIOFLUSH); // what came before the listener was there
    }
    ~Listener() {
        if (fd_ >= 0)
            ::close(fd_);
    }

    // Reads for `ms` or until the line goes away (ms < 0: until then).
    void listen(int ms) {
        const auto end = Clock::now() + std::chrono::milliseconds(ms < 0 ? 10000 : ms);
        while (Clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            const int left = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
            if (::poll(&p, 1, std::max(left, 0)) <= 0)
                continue;
            uint8_t buf[1024];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n <= 0) {
                if (n < 0 && errno == EAGAIN)
                    continue;
                return; // the simulator has gone
            }
            const auto now = Clock::now();
            if (frames.empty() || now - last_ > Silence)
                frames.push_back({{}, now});
            frames.back().bytes.insert(frames.back().bytes.end(), buf, buf + n);
            last_ = now;
        }
    }
    void send(const Bytes& bytes) {
        EXPECT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    std::vector<Heard> frames;

  private:
    int fd_ = -1;
    Clock::time_point last_{};
};

bool Good(const Bytes& f) {
    return f.size() <= 256 && sim::CrcFits(f.data(), f.size());
}

bool IsRequest(const Bytes& f) {
    return Good(f) && f.size() >= 8 &&
           ((f[1] == 3 && f.size() == 8) || (f[1] == 16 && f.size() == 9u + f[6]));
}

// The answer to `request`: as many data bytes as a read asked for, the
// first register and the count of a write.
bool Answers(const Bytes& reply, const Bytes& request) {
    if (!Good(reply) || reply[0] != request[0] || reply[1] != request[1])
        return false;
    if (request[1] == 16)
        return reply.size() == 8 && std::equal(reply.begin(), reply.begin() + 6, request.begin());
    return reply.size() == 5u + 2u * request[5] && reply[2] == 2 * request[5];
}

std::string Hex(const Bytes& bytes) {
    std::string out;
    char b[4];
    for (uint8_t x : bytes) {
        std::snprintf(b, sizeof b, " %02X", x);
        out += b;
    }
    return out;
}

double Median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

TEST(SimListener, HearsTheMastersRoundPairedAndCounted) {
    Sim sim({"--master", "1:1024:3,2:768:2,2:264=2/150", "--period", "20", "--pause", "25",
             "--delay", "20", "--module", "1", "--module", "2:B0123:19200:even:12", "--listeners",
             "2"},
            2);
    ASSERT_EQ(sim.paths.size(), 2u);
    Listener listener(sim.paths[1]); // any endpoint hears the whole line
    listener.listen(2500);

    // A request a module would answer, written by the listener: it must
    // reach nobody (no answer on the line, the master's counts untouched).
    const Bytes own = sim::WithCrc({2, 3, 0, 0, 0, 1});
    listener.send(own);
    listener.listen(600);
    const Counts beforeStop = sim.statusFile();
    const Counts counts = sim.stop();
    listener.listen(-1);
    ASSERT_FALSE(counts.empty()) << "clean exit with the counts on stdout";
    EXPECT_EQ(sim.statusFile(), counts) << "the status file has the final counts";
    EXPECT_EQ(beforeStop.at("listener_bytes"), 8);

    // --help-master names every count the line writes.
    std::string help;
    if (FILE* p = ::popen(QS_SIM_EXE " --help-master", "r")) {
        char buf[512];
        while (std::fgets(buf, sizeof buf, p))
            help += buf;
        EXPECT_EQ(::pclose(p), 0);
    }
    for (const auto& [name, n] : counts) {
        const std::string word =
            name.rfind("fault_", 0) == 0 ? " " + name.substr(6) + " (" : " " + name + " (";
        EXPECT_NE(help.find(word), std::string::npos) << name << " undocumented";
    }
    EXPECT_EQ(counts.at("listener_bytes"), static_cast<long>(own.size()));
    EXPECT_EQ(counts.at("timeouts"), 0);
    EXPECT_EQ(counts.at("bad_replies"), 0);
    EXPECT_EQ(counts.at("exceptions"), 0);

    long requests = 0, replies = 0;
    std::vector<double> turnaroundMs, pauseMs;
    const Heard* request = nullptr;
    const Heard* reply = nullptr;
    for (const Heard& h : listener.frames) {
        const Bytes& f = h.bytes;
        ASSERT_TRUE(Good(f)) << "frame " << requests + replies << ":" << Hex(f);
        if (IsRequest(f)) {
            EXPECT_TRUE(f == sim::WithCrc({1, 3, 4, 0, 0, 3}) ||
                        f == sim::WithCrc({2, 3, 3, 0, 0, 2}) ||
                        f == sim::WithCrc({2, 16, 1, 8, 0, 2, 4, 0, 2, 0, 150}))
                << "only the master's round";
            EXPECT_EQ(request, nullptr) << "a request without an answer inside the round";
            if (reply)
                pauseMs.push_back(
                    std::chrono::duration<double, std::milli>(h.at - reply->at).count());
            request = &h;
            ++requests;
            continue;
        }
        ASSERT_NE(request, nullptr) << "an answer without its request (the listener's own?)";
        EXPECT_TRUE(Answers(f, request->bytes));
        turnaroundMs.push_back(
            std::chrono::duration<double, std::milli>(h.at - request->at).count());
        request = nullptr;
        reply = &h;
        ++replies;
    }
    // The first request the literal frame from the Modbus docs, so the CRC
    // itself is checked too.
    ASSERT_FALSE(listener.frames.empty());
    EXPECT_EQ(sim::WithCrc({1, 3, 4, 0, 0, 3}), (Bytes{1, 3, 4, 0, 0, 3, 0x04, 0xFB}));

    EXPECT_GE(requests, 40) << "a request every 57 ms or so for 3 s";
    EXPECT_NEAR(requests, counts.at("requests"), 1);
    EXPECT_NEAR(replies, counts.at("replies"), 1);
    EXPECT_NEAR(counts.at("requests"), counts.at("replies"), 1);
    // A reply starts after the request (8 characters), the silence and the
    // delay; the next request only after the master's pause.
    EXPECT_GE(Median(turnaroundMs), 8 * CharMs + 2 + 20 - 0.5);
    EXPECT_GE(Median(pauseMs), 8 * CharMs + 25 - 0.5);
}

// What the listener sees of one fault kind: whether a frame heard is one.
struct FaultRow {
    const char* option; // of --fault
    bool (*spoilt)(const Bytes&);
};

void PrintTo(const FaultRow& row, std::ostream* os) {
    *os << "--fault " << row.option;
}

bool Noise(const Bytes& f) {
    return f.size() >= 2 && f.size() <= 7 && !sim::CrcFits(f.data(), f.size());
}
bool Joined(const Bytes& f) {
    const std::size_t half = f.size() / 2;
    return f.size() % 2 == 0 && !Good(f) && Good(Bytes(f.begin(), f.begin() + half)) &&
           std::equal(f.begin(), f.begin() + half, f.begin() + half);
}
bool Cut(const Bytes& f) {
    return f.size() == 4 && f[1] == 3 && !sim::CrcFits(f.data(), f.size());
}
bool Long(const Bytes& f) {
    return f.size() == 300 && sim::CrcFits(f.data(), f.size());
}
bool Babble(const Bytes& f) {
    return f.size() == static_cast<std::size_t>(40 / CharMs) && !sim::CrcFits(f.data(), f.size());
}
bool BadCrc(const Bytes& f) {
    Bytes mended = f;
    if (mended.size() < 4 || Good(f))
        return false;
    mended.back() ^= 0xFF;
    return Good(mended);
}

class SimListenerFaults : public ::testing::TestWithParam<FaultRow> {};

TEST_P(SimListenerFaults, EachSpoiltTransmissionIsHeardAsSuch) {
    const FaultRow& row = GetParam();
    const std::string option = row.option;
    const std::string kind = option.substr(0, option.find(':'));
    Sim sim({"--master", "1:1024:3,2:768:2", "--period", "80", "--pause", "25", "--timeout", "60",
             "--delay", "25", "--module", "1", "--module", "2", "--fault", option, "--babble-ms",
             "40"},
            1);
    ASSERT_EQ(sim.paths.size(), 1u);
    Listener listener(sim.paths[0]);
    listener.listen(2400);
    const Counts counts = sim.stop();
    listener.listen(-1);
    ASSERT_FALSE(counts.empty());

    long spoilt = 0, other = 0, requests = 0;
    for (const Heard& h : listener.frames) {
        if (row.spoilt(h.bytes))
            ++spoilt;
        else if (!Good(h.bytes))
            ++other;
        else if (IsRequest(h.bytes))
            ++requests;
    }
    const long injected = counts.at("fault_" + kind);
    EXPECT_GE(injected, 4);
    EXPECT_NEAR(spoilt, injected, 1);
    EXPECT_EQ(other, 0) << "no spoilt frame of another kind";
    for (const auto& [name, n] : counts) {
        if (name.rfind("fault_", 0) == 0 && name != "fault_" + kind) {
            EXPECT_EQ(n, 0) << name;
        }
    }
    // No answer to a spoilt request, and a spoilt answer is none: the master
    // times out either way.
    EXPECT_NEAR(counts.at("timeouts"), injected, 1);
    EXPECT_NEAR(counts.at("requests"), counts.at("replies") + counts.at("timeouts"), 1);
    const bool fromMaster = option.find('@') == std::string::npos;
    EXPECT_NEAR(requests + (fromMaster ? spoilt : 0), counts.at("requests"), 1);
    EXPECT_NEAR(counts.at("bad_replies"), fromMaster ? 0 : injected, 1);
}

const FaultRow Rows[] = {
    {"noise:3", Noise},   {"noise:2@2", Noise},   {"joined:3", Joined}, {"joined:2@1", Joined},
    {"cut:3", Cut},       {"cut:2@2", Cut},       {"long:3", Long},     {"long:2@1", Long},
    {"babble:4", Babble}, {"babble:2@2", Babble}, {"crc:3", BadCrc},    {"crc:2@1", BadCrc},
};

INSTANTIATE_TEST_SUITE_P(Kinds, SimListenerFaults, ::testing::ValuesIn(Rows),
                         [](const ::testing::TestParamInfo<FaultRow>& info) {
                             std::string name = info.param.option;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

TEST(SimListener, RefusesBadLineOptions) {
    for (const char* bad :
         {"--period 20", "--master 1:1024", "--master 1:1024:0", "--master 0:1024:3",
          "--master 1:1024:3 --fault hum:3", "--master 1:1024:3 --fault noise:0",
          "--master 1:1024:3 --fault noise:3@9", "--master 1:1024:3 --listeners 0",
          "--master 1:264=1/2/x"}) {
        const int rc =
            std::system((std::string(QS_SIM_EXE) + " " + bad + " >/dev/null 2>&1").c_str());
        EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 2) << bad;
    }
}

} // namespace
