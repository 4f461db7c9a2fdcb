#include "Pty.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace commtest {

uint16_t crc16(const Bytes& data) {
    uint16_t crc = 0xFFFF;
    for (uint8_t b : data) {
        crc ^= b;
        for (int i = 0; i < 8; ++i) {
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<uint16_t>(crc >> 1);
        }
    }
    return crc;
}

Bytes withCrc(Bytes frame) {
    const uint16_t crc = crc16(frame);
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

Pty::Pty() {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        throw std::runtime_error("openpty failed");
    }
    // Raw on both sides until the library sets the slave up.
    termios tio{};
    tcgetattr(slave_, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave_, TCSANOW, &tio);
    path_ = name;
    thread_ = std::thread([this] { run(); });
}

Pty::~Pty() {
    stop_ = true;
    thread_.join();
    close(slave_);
    close(master_);
}

void Pty::respond(Responder responder) {
    std::lock_guard lock(mutex_);
    responder_ = std::move(responder);
}

std::vector<Bytes> Pty::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void Pty::run() {
    Bytes frame;
    while (!stop_) {
        pollfd p{master_, POLLIN, 0};
        // A pause of 5 ms ends a frame (far longer than any gap inside one on a pty).
        const int rc = poll(&p, 1, 5);
        if (rc > 0 && (p.revents & POLLIN)) {
            uint8_t buf[256];
            const ssize_t n = read(master_, buf, sizeof buf);
            if (n > 0) {
                frame.insert(frame.end(), buf, buf + n);
            }
            continue;
        }
        if (rc > 0) {
            // The slave side is closed for the moment (hang-up): wait a little.
            usleep(2000);
        }
        if (frame.empty()) {
            continue;
        }
        Bytes reply;
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(frame);
            if (responder_) {
                reply = responder_(frame);
            }
        }
        frame.clear();
        if (!reply.empty() && write(master_, reply.data(), reply.size()) < 0) {
            continue;
        }
    }
}

} // namespace commtest
