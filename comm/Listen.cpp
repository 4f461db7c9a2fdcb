#include "Listen.h"

#include "Link.h"
#include "PortName.h"

#include "Cutter.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace comm {

namespace {

int64_t steadyUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t wallUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

int32_t Listener::start(const std::string& device, int32_t baud, int32_t parity) {
    stop();
    openError_ = 0;
    if (baud <= 0 || parity < 0 || parity > 2) {
        openError_ = EINVAL;
        return COMM_BAD_PARAMETER;
    }
    {
        std::lock_guard lock(mutex_);
        if (ring_.empty())
            ring_.resize(COMM_LISTEN_RING);
        first_ = size_ = 0;
        lost_ = 0;
    }
    NetAddress net;
    switch (parseNetName(device, &net)) {
    case NetName::NotNetwork:
        network_ = false;
        openError_ = port_.open(device, baud, parity);
        break;
    case NetName::Bad:
        openError_ = EINVAL;
        break;
    case NetName::Good:
        // A Modbus TCP gateway answers requests; it hands on nothing it hears.
        network_ = true;
        openError_ = net.kind == NetKind::RtuTcp
                         ? socket_.open(net.host, net.port, DefaultConnectTimeout)
                         : EPROTONOSUPPORT;
        break;
    }
    if (openError_ != 0)
        return COMM_OPEN_FAILED;
    // What the driver kept from before is no frame heard now: its times
    // would be those of the first read.
    if (!network_)
        port_.discard();
    stopping_ = false;
    running_ = true;
    thread_ = std::thread([this, baud, parity] { run(baud, parity); });
    return COMM_OK;
}

void Listener::stop() {
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
    port_.close();
    socket_.close();
    running_ = false;
    came_.notify_all();
}

void Listener::keep(const comm_heard& h) {
    {
        std::lock_guard lock(mutex_);
        if (size_ == ring_.size()) {
            first_ = (first_ + 1) % ring_.size();
            --size_;
            ++lost_;
        }
        ring_[(first_ + size_) % ring_.size()] = h;
        ++size_;
    }
    came_.notify_all();
}

int Listener::readLine(uint8_t* bytes, int max, std::chrono::microseconds timeout) {
    return network_ ? socket_.read(bytes, max, timeout) : port_.read(bytes, max, timeout);
}

void Listener::run(int32_t baud, int32_t parity) {
    Cutter cutter(baud, parity, [this](const comm_heard& h) { keep(h); });
    uint8_t bytes[1024];
    while (!stopping_) {
        const int64_t waitUs =
            cutter.held() > 0 ? cutter.patienceUs() : int64_t{ReadSliceMs} * 1000;
        const int n = readLine(bytes, sizeof bytes, std::chrono::microseconds(waitUs));
        if (n < 0) {
            cutter.silence();
            comm_heard failed{};
            failed.time_us = failed.end_us = steadyUs();
            failed.wall_us = wallUs();
            failed.gap_us = -1;
            failed.baud = baud;
            failed.parity = static_cast<uint8_t>(parity);
            failed.code = COMM_HEARD_FAILED;
            keep(failed);
            break;
        }
        if (n == 0) {
            if (cutter.held() > 0)
                cutter.silence();
            continue;
        }
        cutter.feed(bytes, n, steadyUs(), wallUs());
    }
    cutter.silence();
    port_.close();
    socket_.close();
    running_ = false;
    came_.notify_all();
}

int32_t Listener::read(comm_heard* frames, int32_t capacity, int32_t waitMs, int32_t* count,
                       uint64_t* lost) {
    std::unique_lock lock(mutex_);
    if (waitMs > 0 && size_ == 0 && running_)
        came_.wait_for(lock, std::chrono::milliseconds(waitMs),
                       [this] { return size_ > 0 || !running_; });
    const std::size_t n = std::min<std::size_t>(size_, static_cast<std::size_t>(capacity));
    for (std::size_t i = 0; i < n; ++i)
        frames[i] = ring_[(first_ + i) % ring_.size()];
    first_ = ring_.empty() ? 0 : (first_ + n) % ring_.size();
    size_ -= n;
    *count = static_cast<int32_t>(n);
    if (lost != nullptr)
        *lost = lost_;
    lost_ = 0;
    return n == 0 && size_ == 0 && !running_ ? COMM_NOT_OPEN : COMM_OK;
}

} // namespace comm
