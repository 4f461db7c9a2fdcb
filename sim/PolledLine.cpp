#include "PolledLine.h"

#include "Frame.h"
#include "Pty.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <optional>
#include <poll.h>
#include <random>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;
using Nanos = std::chrono::nanoseconds;

constexpr std::size_t MaxFrame = 256; // the longest Modbus RTU frame
constexpr std::size_t LongFrame = 300;
constexpr auto StatusEvery = std::chrono::milliseconds(200);

const char* const FaultNames[FaultKinds] = {"noise", "joined", "cut", "long", "babble", "crc"};

std::vector<uint8_t> RequestFrame(const Poll& p) {
    std::vector<uint8_t> pdu{p.address};
    const auto put16 = [&pdu](uint16_t v) {
        pdu.push_back(static_cast<uint8_t>(v >> 8));
        pdu.push_back(static_cast<uint8_t>(v & 0xFF));
    };
    if (p.values.empty()) {
        pdu.push_back(3);
        put16(p.first);
        put16(p.count);
    } else {
        pdu.push_back(16);
        put16(p.first);
        put16(static_cast<uint16_t>(p.values.size()));
        pdu.push_back(static_cast<uint8_t>(2 * p.values.size()));
        for (uint16_t v : p.values)
            put16(v);
    }
    return WithCrc(std::move(pdu));
}

} // namespace

const char* FaultName(Fault kind) {
    return FaultNames[static_cast<int>(kind)];
}

std::string StatusText(const LineCounts& c) {
    std::string out;
    const auto line = [&out](const std::string& key, long value) {
        out += key + " " + std::to_string(value) + "\n";
    };
    line("requests", c.requests);
    line("replies", c.replies);
    line("exceptions", c.exceptions);
    line("timeouts", c.timeouts);
    line("bad_replies", c.badReplies);
    line("listener_bytes", c.listenerBytes);
    for (int k = 0; k < FaultKinds; ++k)
        line(std::string("fault_") + FaultNames[k], c.faults[k]);
    return out;
}

struct PolledLine::Impl {
    PolledLineOptions o;
    std::vector<std::unique_ptr<SimModule>> modules;
    std::vector<Pty> listeners;
    int wake[2] = {-1, -1};
    std::atomic<bool> stop{false};
    std::atomic<bool> started{false};
    std::thread thread;
    mutable std::mutex m; // counts and links
    LineCounts counts;
    std::vector<std::pair<std::size_t, std::string>> links;

    // The line thread's own.
    struct Transmission {
        std::vector<uint8_t> bytes;
        int source = 0; // 0 the master, else 1 + the module's index
        std::optional<SimModule::Answer> answer{};
    };
    std::multimap<Clock::time_point, Transmission> queue;
    Clock::time_point lineFree{}; // the end of the last transmission
    Nanos charTime{};
    Nanos silence{};
    Nanos pause{}; // the master's, at least the silence
    std::mt19937 random;
    std::vector<long> sent; // transmissions per source, for the fault rules
    std::size_t nextPoll = 0;
    Clock::time_point pollDue{};
    bool waiting = false;                                  // a request queued or out, no answer yet
    Clock::time_point deadline = Clock::time_point::max(); // once the request is out
    Poll polled{};

    ~Impl();
    void halt();
    void run();
    void sendRequest(Clock::time_point now);
    void transmit(Clock::time_point now);
    void masterHears(const std::vector<uint8_t>& frame);
    std::vector<uint8_t> spoil(int source, std::vector<uint8_t> frame);
    std::vector<uint8_t> garbage(std::size_t length);
    void readListeners();
    // When the line will have been quiet for `span`, as far as is known now.
    Clock::time_point quietFor(Nanos span) const {
        return queue.empty() ? lineFree + span : Clock::time_point::max();
    }
    void writeStatus();
    template <class F> void count(F f) {
        std::lock_guard lock(m);
        f(counts);
    }
};

void PolledLine::Impl::halt() {
    if (!thread.joinable())
        return;
    stop = true;
    const char c = 'q';
    [[maybe_unused]] ssize_t n = ::write(wake[1], &c, 1);
    thread.join();
    writeStatus();
}

PolledLine::Impl::~Impl() {
    halt();
    for (const auto& [i, path] : links)
        UnlinkPty({path}, listeners[i].path);
    for (const Pty& p : listeners)
        for (int fd : {p.master, p.slave})
            if (fd >= 0)
                ::close(fd);
    for (int fd : wake)
        if (fd >= 0)
            ::close(fd);
}

void PolledLine::Impl::writeStatus() {
    if (o.statusPath.empty())
        return;
    const std::string text = StatusText([this] {
        std::lock_guard lock(m);
        return counts;
    }());
    const std::string temporary = o.statusPath + ".tmp";
    FILE* f = std::fopen(temporary.c_str(), "w");
    if (!f)
        return;
    const bool written = std::fputs(text.c_str(), f) >= 0;
    if (std::fclose(f) == 0 && written)
        std::rename(temporary.c_str(), o.statusPath.c_str());
}

std::vector<uint8_t> PolledLine::Impl::garbage(std::size_t length) {
    std::vector<uint8_t> out(length);
    do {
        for (uint8_t& b : out)
            b = static_cast<uint8_t>(random());
    } while (CrcFits(out.data(), out.size()));
    return out;
}

// The frame as it goes out, spoilt when a rule of its source says so.
std::vector<uint8_t> PolledLine::Impl::spoil(int source, std::vector<uint8_t> frame) {
    const long n = ++sent[static_cast<std::size_t>(source)];
    const int address = source == 0 ? 0 : modules[static_cast<std::size_t>(source - 1)]->address();
    for (const FaultRule& rule : o.faults) {
        if (rule.address != address || n % rule.every != 0)
            continue;
        count([&rule](LineCounts& c) { ++c.faults[static_cast<int>(rule.kind)]; });
        switch (rule.kind) {
        case Fault::Noise:
            return garbage(2 + random() % 6);
        case Fault::Joined: {
            std::vector<uint8_t> two = frame;
            two.insert(two.end(), frame.begin(), frame.end());
            return two;
        }
        case Fault::Cut: {
            frame.resize(std::max<std::size_t>(1, frame.size() / 2));
            while (frame.size() > 1 && CrcFits(frame.data(), frame.size()))
                frame.pop_back();
            return frame;
        }
        case Fault::Long: {
            frame.resize(frame.size() - 2);
            while (frame.size() < LongFrame - 2)
                frame.push_back(static_cast<uint8_t>(random()));
            return WithCrc(std::move(frame));
        }
        case Fault::Babble: {
            const auto chars = std::chrono::milliseconds(o.babbleMs) / charTime;
            return garbage(static_cast<std::size_t>(std::max<int64_t>(chars, 1)));
        }
        case Fault::BadCrc:
            frame.back() ^= 0xFF;
            return frame;
        }
    }
    return frame;
}

void PolledLine::Impl::sendRequest(Clock::time_point now) {
    if (!started || waiting || o.polls.empty() || now < pollDue || now < quietFor(pause))
        return;
    polled = o.polls[nextPoll];
    nextPoll = (nextPoll + 1) % o.polls.size();
    const auto period = std::chrono::milliseconds(o.periodMs);
    pollDue += period;
    if (pollDue < now)
        pollDue = now + period; // fell behind (a long wait): no burst to catch up
    waiting = true;
    deadline = Clock::time_point::max();
    count([](LineCounts& c) { ++c.requests; });
    queue.emplace(now, Transmission{spoil(0, RequestFrame(polled)), 0});
}

void PolledLine::Impl::masterHears(const std::vector<uint8_t>& frame) {
    if (!waiting || deadline == Clock::time_point::max())
        return; // the master's own request not out yet: nothing to wait for
    const uint8_t function = polled.values.empty() ? 3 : 16;
    const bool answer = frame.size() >= 4 && frame.size() <= MaxFrame &&
                        CrcFits(frame.data(), frame.size()) && frame[0] == polled.address &&
                        (frame[1] & 0x7F) == function;
    if (!answer) {
        count([](LineCounts& c) { ++c.badReplies; });
        return;
    }
    const bool exception = (frame[1] & 0x80) != 0;
    count([exception](LineCounts& c) {
        ++c.replies;
        if (exception)
            ++c.exceptions;
    });
    waiting = false;
}

// The first transmission whose time has come, once the line has been quiet long enough.
void PolledLine::Impl::transmit(Clock::time_point now) {
    if (queue.empty() || queue.begin()->first > now || now < lineFree + silence)
        return;
    Transmission t = std::move(queue.begin()->second);
    queue.erase(queue.begin());
    for (const Pty& p : listeners)
        [[maybe_unused]] ssize_t n = ::write(p.master, t.bytes.data(), t.bytes.size());
    const auto end = now + static_cast<int64_t>(t.bytes.size()) * charTime;
    lineFree = end;
    const bool frame = t.bytes.size() <= MaxFrame && CrcFits(t.bytes.data(), t.bytes.size());
    if (t.source == 0) {
        if (waiting)
            deadline = end + std::chrono::milliseconds(o.timeoutMs);
        if (!frame)
            return;
        for (std::size_t i = 0; i < modules.size(); ++i) {
            auto answer = modules[i]->hear(t.bytes.data(), static_cast<int>(t.bytes.size()),
                                           static_cast<unsigned>(o.baud), o.parity);
            if (!answer)
                continue;
            const int source = static_cast<int>(i) + 1;
            auto bytes = spoil(source, answer->frame);
            queue.emplace(end + silence + std::chrono::milliseconds(answer->delayMs),
                          Transmission{std::move(bytes), source, std::move(answer)});
        }
        return;
    }
    masterHears(t.bytes);
    if (t.answer)
        modules[static_cast<std::size_t>(t.source - 1)]->answered(*t.answer);
}

void PolledLine::Impl::readListeners() {
    std::vector<pollfd> fds;
    for (const Pty& p : listeners)
        fds.push_back({p.master, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), 0) <= 0)
        return;
    for (const pollfd& f : fds) {
        if (!(f.revents & POLLIN))
            continue;
        uint8_t buf[512];
        const ssize_t n = ::read(f.fd, buf, sizeof buf);
        if (n > 0)
            count([n](LineCounts& c) { c.listenerBytes += n; });
    }
}

void PolledLine::Impl::run() {
    auto statusDue = Clock::now();
    while (!stop) {
        auto now = Clock::now();
        // An answer meant to go out in time counts however late this thread
        // gets round to it.
        if (waiting && now >= deadline && (queue.empty() || queue.begin()->first >= deadline)) {
            waiting = false;
            count([](LineCounts& c) { ++c.timeouts; });
        }
        sendRequest(now);
        transmit(now);
        readListeners();
        if (now >= statusDue) {
            writeStatus();
            statusDue = now + StatusEvery;
        }

        // Sleep until the next thing to do, or until a listener writes.
        auto until = statusDue;
        if (!queue.empty())
            until = std::min(until, std::max(queue.begin()->first, lineFree + silence));
        if (waiting && (queue.empty() || queue.begin()->first >= deadline))
            until = std::min(until, deadline);
        else if (started && !o.polls.empty())
            until = std::min(until, std::max(pollDue, quietFor(pause)));
        now = Clock::now();
        const Nanos wait = until > now ? Nanos(until - now) : Nanos(0);
        const timespec ts{static_cast<time_t>(wait.count() / 1000000000),
                          static_cast<long>(wait.count() % 1000000000)};
        std::vector<pollfd> fds{{wake[0], POLLIN, 0}};
        for (const Pty& p : listeners)
            fds.push_back({p.master, POLLIN, 0});
        if (::ppoll(fds.data(), fds.size(), &ts, nullptr) < 0 && errno != EINTR)
            break;
        if (fds[0].revents) {
            char buf[16];
            while (::read(wake[0], buf, sizeof buf) > 0) {
            }
        }
    }
}

PolledLine::PolledLine(const std::vector<Options>& modules, const PolledLineOptions& options)
    : d(std::make_unique<Impl>()) {
    Impl& i = *d;
    i.o = options;
    if (options.periodMs < 1 || options.timeoutMs < 1 || options.pauseMs < 0 ||
        options.listeners < 1 || options.babbleMs < 1 || options.baud < 1)
        throw std::invalid_argument("impossible options for the line");
    for (const FaultRule& rule : options.faults)
        if (rule.every < 1)
            throw std::invalid_argument("a fault needs a rate of at least 1");
    for (const Options& m : modules)
        i.modules.push_back(std::make_unique<SimModule>(m, SimModule::Shared{}));
    i.sent.assign(modules.size() + 1, 0);
    i.random.seed(options.seed);
    i.charTime = Nanos(11LL * 1000000000 / options.baud);
    i.silence = std::max<Nanos>(i.charTime * 7 / 2, std::chrono::milliseconds(2));
    i.pause = std::max<Nanos>(i.silence, std::chrono::milliseconds(options.pauseMs));
    for (int k = 0; k < options.listeners; ++k)
        i.listeners.push_back(OpenPty(static_cast<unsigned>(options.baud), options.parity));
    if (::pipe2(i.wake, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("cannot create a pipe");
    i.thread = std::thread([this] { d->run(); });
}

PolledLine::~PolledLine() = default;

std::size_t PolledLine::size() const {
    return d->modules.size();
}

SimModule& PolledLine::module(std::size_t i) {
    return *d->modules.at(i);
}

std::vector<std::string> PolledLine::listenerPaths() const {
    std::vector<std::string> out;
    for (const Pty& p : d->listeners)
        out.push_back(p.path);
    return out;
}

bool PolledLine::linkAt(std::size_t i, const std::string& path) {
    if (i >= d->listeners.size() || !LinkPty(path, d->listeners[i].path))
        return false;
    std::lock_guard lock(d->m);
    d->links.emplace_back(i, path);
    return true;
}

void PolledLine::start() {
    if (d->started)
        return;
    d->pollDue = Clock::now() + std::chrono::milliseconds(d->o.periodMs);
    d->started = true;
    const char c = 's';
    [[maybe_unused]] ssize_t n = ::write(d->wake[1], &c, 1);
}

void PolledLine::stop() {
    d->halt();
}

LineCounts PolledLine::counts() const {
    std::lock_guard lock(d->m);
    return d->counts;
}

} // namespace sim
