#include "Pty.h"

#include "Rtu.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace commtest {

Bytes withCrc(Bytes frame) {
    frame.resize(frame.size() + 2);
    rtu::putCrc(frame.data(), frame.size() - 2);
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
