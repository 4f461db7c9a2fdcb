#include "Capture.h"

#include "Rtu.h"

#include <algorithm>
#include <cstring>

namespace comm {

namespace {

using std::chrono::duration_cast;
using std::chrono::microseconds;

int64_t us(Capture::Clock::time_point t) {
    return duration_cast<microseconds>(t.time_since_epoch()).count();
}

int64_t wallUs() {
    return duration_cast<microseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

} // namespace

Capture& Capture::instance() {
    static Capture capture;
    return capture;
}

Capture::Capture() : ring_(COMM_FRAME_RING) {}

bool Capture::supported() {
#if defined(COMM_MB_NO_CAPTURE)
    return false;
#else
    return true;
#endif
}

comm_frame Capture::blank(uint8_t kind, Clock::time_point start) const {
    comm_frame f{};
    f.kind = kind;
    f.time_us = us(start);
    f.end_us = f.time_us;
    f.wall_us = wallUs() - (us(Clock::now()) - f.time_us);
    f.reply_us = -1;
    f.baud = baud_;
    f.parity = parity_;
    f.flags = flags_;
    f.exchange = exchange_;
    f.attempt = attempt_;
    return f;
}

void Capture::record(comm_frame& f) {
    f.number = next_++;
    ring_[(f.number - 1) % ring_.size()] = f;
}

void Capture::closePending(uint8_t kind, int32_t code) {
    if (!pendingOpen_)
        return;
    pendingOpen_ = false;
    pending_.kind = kind;
    pending_.code = code;
    // A late reply answers some earlier request, not the latest one.
    if (kind == COMM_FRAME_REPLY)
        pending_.reply_us = std::max<int64_t>(0, pending_.time_us - us(requestEnd_));
    if (kind != COMM_FRAME_REPLY) {
        // Not the answer of the attempt under way.
        pending_.exchange = 0;
        pending_.attempt = 0;
    }
    record(pending_);
}

void Capture::setLine(int32_t baud, int32_t parity, bool mbap) {
    std::lock_guard lock(mutex_);
    baud_ = baud;
    parity_ = static_cast<uint8_t>(parity);
    flags_ = static_cast<uint8_t>((flags_ & ~COMM_FRAME_MBAP) | (mbap ? COMM_FRAME_MBAP : 0));
}

void Capture::setSearch(bool on) {
    std::lock_guard lock(mutex_);
    flags_ = static_cast<uint8_t>((flags_ & ~COMM_FRAME_SEARCH) | (on ? COMM_FRAME_SEARCH : 0));
}

void Capture::discarded(const uint8_t* bytes, int length, int32_t code) {
    std::lock_guard lock(mutex_);
    closePending(COMM_FRAME_STRAY, COMM_OK);
    comm_frame f = blank(COMM_FRAME_STRAY, Clock::now());
    f.exchange = 0;
    f.attempt = 0;
    f.code = code;
    const int kept = std::clamp(length, 0, COMM_FRAME_BYTES);
    std::memcpy(f.data, bytes, static_cast<std::size_t>(kept));
    f.length = static_cast<uint16_t>(kept);
    f.dropped = static_cast<uint32_t>(length - kept);
    record(f);
}

void Capture::beginAttempt(int attempt) {
    std::lock_guard lock(mutex_);
    closePending(COMM_FRAME_STRAY, COMM_OK);
    if (attempt <= 1 || exchange_ == 0)
        exchange_ = ++exchanges_;
    attempt_ = static_cast<uint8_t>(std::clamp(attempt, 1, 255));
}

void Capture::endAttempt(int32_t code) {
    std::lock_guard lock(mutex_);
    if (pendingOpen_) {
        closePending(COMM_FRAME_REPLY, code);
    } else if (code != COMM_OK) {
        comm_frame f = blank(COMM_FRAME_SILENCE, requestStart_);
        f.end_us = us(Clock::now());
        f.code = code;
        record(f);
    }
    attempt_ = 0;
    // Retries keep the number of their exchange; anything else starts anew.
    if (code == COMM_OK || (code >= 1 && code <= 11) || code == COMM_IO_ERROR)
        exchange_ = 0;
}

void Capture::beginWait() {
    std::lock_guard lock(mutex_);
    closePending(COMM_FRAME_STRAY, COMM_OK);
    waitStart_ = Clock::now();
}

void Capture::heardLate(int32_t code) {
    std::lock_guard lock(mutex_);
    closePending(COMM_FRAME_LATE, code);
}

void Capture::endWait() {
    std::lock_guard lock(mutex_);
    closePending(COMM_FRAME_LATE, COMM_NO_REPLY);
    comm_frame f = blank(COMM_FRAME_WAIT, waitStart_);
    f.exchange = 0;
    f.attempt = 0;
    f.end_us = us(Clock::now());
    record(f);
}

void Capture::sent(const uint8_t* bytes, int length, bool taken, Clock::time_point start,
                   Clock::time_point end) {
    std::lock_guard lock(mutex_);
    closePending(COMM_FRAME_STRAY, COMM_OK);
    comm_frame f = blank(COMM_FRAME_REQUEST, start);
    f.end_us = us(end);
    f.code = taken ? COMM_OK : COMM_IO_ERROR;
    const int kept = std::clamp(length, 0, COMM_FRAME_BYTES);
    std::memcpy(f.data, bytes, static_cast<std::size_t>(kept));
    f.length = static_cast<uint16_t>(kept);
    f.dropped = static_cast<uint32_t>(length - kept);
    record(f);
    requestStart_ = start;
    const auto onLine = microseconds(rtu::charsUs(length, baud_));
    requestEnd_ = std::max(end, start + onLine);
}

void Capture::received(const uint8_t* bytes, int length) {
    std::lock_guard lock(mutex_);
    const auto now = Clock::now();
    if (!pendingOpen_) {
        pending_ = blank(COMM_FRAME_STRAY, now);
        pendingOpen_ = true;
    }
    pending_.end_us = us(now);
    const int room = COMM_FRAME_BYTES - pending_.length;
    const int kept = std::clamp(length, 0, room);
    std::memcpy(pending_.data + pending_.length, bytes, static_cast<std::size_t>(kept));
    pending_.length = static_cast<uint16_t>(pending_.length + kept);
    pending_.dropped += static_cast<uint32_t>(length - kept);
}

void Capture::flushed() {
    std::lock_guard lock(mutex_);
    closePending(COMM_FRAME_STRAY, COMM_OK);
}

int32_t Capture::read(uint64_t after, comm_frame* out, int32_t capacity, int32_t* count,
                      uint64_t* lost) {
    std::lock_guard lock(mutex_);
    const uint64_t held = std::min<uint64_t>(next_ - 1, ring_.size());
    const uint64_t oldest = next_ - held; // number of the oldest record held
    const uint64_t from = std::max(after + 1, oldest);
    if (lost != nullptr)
        *lost = from > after + 1 ? from - after - 1 : 0;
    int32_t n = 0;
    for (uint64_t number = from; number < next_ && n < capacity; ++number, ++n)
        out[n] = ring_[(number - 1) % ring_.size()];
    *count = n;
    return COMM_OK;
}

} // namespace comm
