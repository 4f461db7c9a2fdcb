#include "SimLine.h"

#include "Frame.h"
#include "LineSettings.h"
#include "Pty.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;

// A request that has not come whole after this pause is dropped, as a module
// drops a broken frame.
constexpr auto LineGap = std::chrono::milliseconds(50);

// The length of a whole request from its first bytes; 0 while that is not
// known yet, -1 for a function whose length the line cannot tell (it then
// ends with the pause).
int RequestLength(const std::vector<uint8_t>& in) {
    return rtu::requestLength(in.data(), static_cast<int>(in.size()));
}

} // namespace

std::vector<uint8_t> Collide(const std::vector<uint8_t>& first,
                             const std::vector<uint8_t>& second) {
    std::vector<uint8_t> out(std::max(first.size(), second.size() + 1), 0xFF);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const uint8_t a = i < first.size() ? first[i] : 0xFF;
        const uint8_t b = i >= 1 && i - 1 < second.size() ? second[i - 1] : 0xFF;
        out[i] = a & b;
    }
    if (CrcFits(out.data(), out.size()))
        out.back() ^= 0x5A; // garbage that happens to look whole is garbage still
    return out;
}

struct SimLine::Impl {
    std::vector<std::unique_ptr<SimModule>> modules;
    Pty pty;
    int wake[2] = {-1, -1};
    std::atomic<bool> stop{false};
    std::atomic<int> collisions{0};
    std::thread thread;
    mutable std::mutex linksMutex;
    std::vector<std::string> links;

    struct Due {
        std::vector<uint8_t> frame;
        std::vector<std::pair<SimModule*, SimModule::Answer>> from;
    };
    std::multimap<Clock::time_point, Due> due; // the line thread's own

    ~Impl();
    void run();
    void dispatch(const std::vector<uint8_t>& request);
    void sendDue();
};

SimLine::Impl::~Impl() {
    if (thread.joinable()) {
        stop = true;
        const char c = 'q';
        [[maybe_unused]] ssize_t n = ::write(wake[1], &c, 1);
        thread.join();
    }
    for (int fd : {pty.master, pty.slave, wake[0], wake[1]})
        if (fd >= 0)
            ::close(fd);
    UnlinkPty(links, pty.path);
}

// Every module hears the request; answers due at the same moment collide.
void SimLine::Impl::dispatch(const std::vector<uint8_t>& request) {
    LineSettings line;
    if (!ReadLineSettings(pty.master, line))
        return;
    std::map<int, Due> byDelay;
    for (auto& m : modules) {
        auto answer =
            m->hear(request.data(), static_cast<int>(request.size()), line.baud, line.parity);
        if (!answer)
            continue;
        Due& d = byDelay[answer->delayMs];
        d.frame = d.from.empty() ? answer->frame : Collide(d.frame, answer->frame);
        d.from.emplace_back(m.get(), std::move(*answer));
    }
    const auto now = Clock::now();
    for (auto& [delay, d] : byDelay) {
        if (d.from.size() > 1)
            ++collisions;
        due.emplace(now + std::chrono::milliseconds(delay), std::move(d));
    }
    sendDue();
}

void SimLine::Impl::sendDue() {
    while (!due.empty() && due.begin()->first <= Clock::now()) {
        const Due d = std::move(due.begin()->second);
        due.erase(due.begin());
        [[maybe_unused]] ssize_t n = ::write(pty.master, d.frame.data(), d.frame.size());
        for (const auto& [module, answer] : d.from)
            module->answered(answer);
    }
}

void SimLine::Impl::run() {
    std::vector<uint8_t> in;
    Clock::time_point lastByte{};
    while (!stop) {
        auto until = due.empty() ? Clock::time_point::max() : due.begin()->first;
        if (!in.empty())
            until = std::min(until, lastByte + LineGap);
        int timeout = -1;
        if (until != Clock::time_point::max())
            timeout = static_cast<int>(std::max<int64_t>(
                0, std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count()));
        pollfd fds[2] = {{wake[0], POLLIN, 0}, {pty.master, POLLIN, 0}};
        if (::poll(fds, 2, timeout) < 0 && errno != EINTR)
            break;
        if (stop || fds[0].revents)
            break;
        sendDue();
        if (fds[1].revents & POLLIN) {
            uint8_t buf[256];
            const ssize_t n = ::read(pty.master, buf, sizeof buf);
            if (n > 0) {
                in.insert(in.end(), buf, buf + n);
                lastByte = Clock::now();
            }
        } else if (fds[1].revents) {
            ::poll(fds, 1, 20); // hang-up without data: do not spin
        }
        // Whole requests, one after the other.
        for (int length = RequestLength(in);
             length > 0 && in.size() >= static_cast<std::size_t>(length);
             length = RequestLength(in)) {
            const std::vector<uint8_t> request(in.begin(), in.begin() + length);
            in.erase(in.begin(), in.begin() + length);
            if (CrcFits(request.data(), request.size()))
                dispatch(request);
        }
        if (!in.empty() && Clock::now() >= lastByte + LineGap) {
            if (RequestLength(in) < 0 && CrcFits(in.data(), in.size()))
                dispatch(in); // a function of unknown length, ended by the pause
            in.clear();
        }
    }
}

SimLine::SimLine(const std::vector<Options>& modules) : d(std::make_unique<Impl>()) {
    for (const Options& o : modules)
        d->modules.push_back(std::make_unique<SimModule>(o, SimModule::Shared{}));
    const Options first = modules.empty() ? Options{} : modules.front();
    d->pty = OpenPty(static_cast<unsigned>(first.baud), first.parity);
    if (::pipe2(d->wake, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("cannot create a pipe");
    d->thread = std::thread([this] { d->run(); });
}

SimLine::~SimLine() = default;

std::string SimLine::devicePath() const {
    return d->pty.path;
}

bool SimLine::linkAt(const std::string& path) {
    if (!LinkPty(path, d->pty.path))
        return false;
    std::lock_guard lock(d->linksMutex);
    d->links.push_back(path);
    return true;
}

std::size_t SimLine::size() const {
    return d->modules.size();
}

SimModule& SimLine::module(std::size_t i) {
    return *d->modules.at(i);
}

int SimLine::collisions() const {
    return d->collisions;
}

} // namespace sim
