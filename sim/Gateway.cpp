#include "Gateway.h"

#include "Rtu.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace sim {

namespace {

constexpr uint8_t ExceptionFlag = 0x80;
constexpr uint8_t NoPathException = 10;
constexpr uint8_t NoAnswerException = 11;

uint16_t wordAt(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

void sendAll(int fd, const std::vector<uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const auto n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

} // namespace

const char* GatewayFaultName(GatewayFault fault) {
    static const char* const names[GatewayFaultKinds] = {
        "no-path",  "no-answer", "delay",          "drop",        "drop-mid",
        "wrong-id", "stale",     "wrong-protocol", "short-length"};
    return names[static_cast<int>(fault)];
}

struct Gateway::Impl {
    GatewayKind kind;
    int baud;
    int parity;
    std::vector<std::unique_ptr<SimModule>> modules;
    int listenFd = -1;
    int wake[2] = {-1, -1};
    uint16_t port = 0;
    std::thread thread;
    std::atomic<bool> stop{false};
    std::atomic<bool> dropNow{false};
    std::atomic<int> connections{0};
    std::atomic<int> requests{0};

    std::mutex mutex; // of the faults
    int every[GatewayFaultKinds] = {};
    int seen[GatewayFaultKinds] = {};
    int delayMs = 300;

    int client = -1;
    std::vector<uint8_t> in;

    void run();
    void closeClient() {
        if (client >= 0)
            ::close(client);
        client = -1;
        in.clear();
    }
    void take(); // whole requests out of `in`
    void handle(const std::vector<uint8_t>& request, uint16_t transaction);
    // The faults that spoil this request.
    std::vector<bool> faultsNow() {
        std::lock_guard lock(mutex);
        std::vector<bool> on(GatewayFaultKinds, false);
        for (int i = 0; i < GatewayFaultKinds; ++i)
            on[i] = every[i] > 0 && ++seen[i] % every[i] == 0;
        return on;
    }
    // `rtu` (an RTU frame, CRC included) as it goes back over the connection.
    std::vector<uint8_t> frameFor(const std::vector<uint8_t>& rtu, uint16_t transaction,
                                  uint16_t protocol, int lengthOffset) const {
        if (kind == GatewayKind::RtuTcp)
            return rtu;
        const int body = static_cast<int>(rtu.size()) - 2; // without the CRC
        const int length = body + lengthOffset;
        std::vector<uint8_t> out = {
            static_cast<uint8_t>(transaction >> 8), static_cast<uint8_t>(transaction & 0xFF),
            static_cast<uint8_t>(protocol >> 8),    static_cast<uint8_t>(protocol & 0xFF),
            static_cast<uint8_t>(length >> 8),      static_cast<uint8_t>(length & 0xFF)};
        out.insert(out.end(), rtu.begin(), rtu.begin() + body);
        return out;
    }
};

Gateway::Gateway(GatewayKind kind, const std::vector<Options>& modules, uint16_t port, int baud,
                 int parity)
    : d(std::make_unique<Impl>()) {
    d->kind = kind;
    d->baud = baud;
    d->parity = parity;
    for (const Options& o : modules)
        d->modules.push_back(std::make_unique<SimModule>(o, SimModule::Shared{}));
    d->listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (d->listenFd < 0)
        throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    int on = 1;
    setsockopt(d->listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(d->listenFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(d->listenFd, 4) != 0) {
        const int error = errno;
        ::close(d->listenFd);
        throw std::runtime_error("cannot listen at 127.0.0.1:" + std::to_string(port) + ": " +
                                 std::strerror(error));
    }
    socklen_t len = sizeof a;
    getsockname(d->listenFd, reinterpret_cast<sockaddr*>(&a), &len);
    d->port = ntohs(a.sin_port);
    if (pipe2(d->wake, O_CLOEXEC) != 0) {
        ::close(d->listenFd);
        throw std::runtime_error("pipe");
    }
    d->thread = std::thread([this] { d->run(); });
}

Gateway::~Gateway() {
    d->stop = true;
    const char byte = 0;
    [[maybe_unused]] const auto n = ::write(d->wake[1], &byte, 1);
    d->thread.join();
    d->closeClient();
    ::close(d->listenFd);
    ::close(d->wake[0]);
    ::close(d->wake[1]);
}

void Gateway::Impl::run() {
    while (!stop) {
        if (dropNow.exchange(false))
            closeClient();
        pollfd fds[3] = {{listenFd, POLLIN, 0}, {wake[0], POLLIN, 0}, {client, POLLIN, 0}};
        const int n = ::poll(fds, client >= 0 ? 3 : 2, 50);
        if (n <= 0)
            continue;
        if (fds[1].revents & POLLIN) {
            char bytes[16];
            [[maybe_unused]] const auto r = ::read(wake[0], bytes, sizeof bytes);
        }
        if (fds[0].revents & POLLIN) {
            const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                closeClient();
                client = fd;
                int on = 1;
                setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                ++connections;
                continue;
            }
        }
        if (client >= 0 && (fds[2].revents & (POLLIN | POLLHUP | POLLERR))) {
            uint8_t bytes[512];
            const auto got = ::recv(client, bytes, sizeof bytes, 0);
            if (got <= 0) {
                closeClient();
                continue;
            }
            in.insert(in.end(), bytes, bytes + got);
            take();
        }
    }
}

void Gateway::Impl::take() {
    while (client >= 0 && !in.empty()) {
        if (kind == GatewayKind::ModbusTcp) {
            if (in.size() < 7)
                return;
            const int length = wordAt(in.data() + 4);
            if (length < 2 || length > 254) {
                in.clear(); // no frame: the stream is lost
                return;
            }
            if (in.size() < static_cast<std::size_t>(6 + length))
                return;
            const uint16_t transaction = wordAt(in.data());
            const uint16_t protocol = wordAt(in.data() + 2);
            std::vector<uint8_t> request(in.begin() + 6, in.begin() + 6 + length);
            in.erase(in.begin(), in.begin() + 6 + length);
            if (protocol != 0)
                continue; // not Modbus: a gateway ignores it
            request.resize(request.size() + 2);
            rtu::putCrc(request.data(), request.size() - 2);
            handle(request, transaction);
        } else {
            const int length = rtu::requestLength(in.data(), static_cast<int>(in.size()));
            if (length < 0) {
                in.clear();
                return;
            }
            if (length == 0 || in.size() < static_cast<std::size_t>(length))
                return;
            std::vector<uint8_t> request(in.begin(), in.begin() + length);
            in.erase(in.begin(), in.begin() + length);
            if (!rtu::crcFits(request.data(), request.size()))
                continue; // the modules drop a broken frame
            handle(request, 0);
        }
    }
}

void Gateway::Impl::handle(const std::vector<uint8_t>& request, uint16_t transaction) {
    ++requests;
    const std::vector<bool> fault = faultsNow();
    const auto on = [&fault](GatewayFault f) { return fault[static_cast<int>(f)]; };
    const auto exception = [&](uint8_t code) {
        std::vector<uint8_t> rtu = {request[0], static_cast<uint8_t>(request[1] | ExceptionFlag),
                                    code, 0, 0};
        rtu::putCrc(rtu.data(), 3);
        sendAll(client, frameFor(rtu, transaction, 0, 0));
    };
    if (on(GatewayFault::NoPath)) {
        exception(NoPathException);
        return;
    }
    std::optional<SimModule::Answer> answer;
    SimModule* answering = nullptr;
    for (auto& m : modules) {
        auto a = m->hear(request.data(), static_cast<int>(request.size()),
                         static_cast<unsigned>(baud), parity);
        if (a && !answer) {
            answer = std::move(a);
            answering = m.get();
        }
    }
    if (on(GatewayFault::Drop)) {
        closeClient();
        return;
    }
    if (on(GatewayFault::NoAnswer)) {
        exception(NoAnswerException);
        return;
    }
    if (!answer)
        return;
    int delay = answer->delayMs;
    if (on(GatewayFault::Delay)) {
        std::lock_guard lock(mutex);
        delay += delayMs;
    }
    if (delay > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    const uint16_t tid =
        on(GatewayFault::WrongId) ? static_cast<uint16_t>(transaction + 1) : transaction;
    const uint16_t protocol = on(GatewayFault::WrongProtocol) ? 1 : 0;
    const int lengthOffset = on(GatewayFault::ShortLength) ? -1 : 0;
    if (on(GatewayFault::Stale))
        sendAll(client, frameFor(answer->frame, static_cast<uint16_t>(transaction - 1), 0, 0));
    std::vector<uint8_t> out = frameFor(answer->frame, tid, protocol, lengthOffset);
    if (on(GatewayFault::DropMidReply)) {
        out.resize(out.size() / 2);
        sendAll(client, out);
        closeClient();
    } else {
        sendAll(client, out);
    }
    answering->answered(*answer);
}

GatewayKind Gateway::kind() const {
    return d->kind;
}

uint16_t Gateway::port() const {
    return d->port;
}

std::string Gateway::portName() const {
    return std::string(d->kind == GatewayKind::ModbusTcp ? "tcp:" : "rtu-tcp:") +
           "127.0.0.1:" + std::to_string(d->port);
}

std::size_t Gateway::size() const {
    return d->modules.size();
}

SimModule& Gateway::module(std::size_t i) {
    return *d->modules.at(i);
}

void Gateway::setFault(GatewayFault fault, int every) {
    std::lock_guard lock(d->mutex);
    d->every[static_cast<int>(fault)] = every;
    d->seen[static_cast<int>(fault)] = 0;
}

void Gateway::clearFaults() {
    std::lock_guard lock(d->mutex);
    for (int i = 0; i < GatewayFaultKinds; ++i)
        d->every[i] = d->seen[i] = 0;
}

void Gateway::setDelay(int milliseconds) {
    std::lock_guard lock(d->mutex);
    d->delayMs = milliseconds;
}

void Gateway::dropConnection() {
    d->dropNow = true;
    const char byte = 0;
    [[maybe_unused]] const auto n = ::write(d->wake[1], &byte, 1);
}

int Gateway::connections() const {
    return d->connections;
}

int Gateway::requests() const {
    return d->requests;
}

uint16_t UnusedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

} // namespace sim
