#include "FrameLog.h"

#include <array>

namespace {

constexpr int32_t Chunk = 64;

double MsBetween(int64_t fromUs, int64_t toUs) {
    return static_cast<double>(toUs - fromUs) / 1000.0;
}

} // namespace

FrameLog& FrameLog::global() {
    static FrameLog log;
    return log;
}

void FrameLog::bind(read_frames_fn reader) {
    reader_ = reader;
    working_ = false;
    if (reader_ == nullptr)
        return;
    int32_t count = 0;
    working_ = reader_(after_, nullptr, 0, sizeof(comm_frame), &count, nullptr) == COMM_OK;
}

QString FrameLog::unavailableReason() const {
    if (reader_ == nullptr)
        return QStringLiteral("Библиотека связи comm_mb не передаёт кадры обмена (нет функции "
                              "read_frames): монитор недоступен.");
    if (!working_)
        return QStringLiteral("Библиотека связи comm_mb не видит байтов на линии (прежняя "
                              "версия, собранная с другой версией libmodbus): монитор "
                              "недоступен.");
    return QString();
}

const FrameRecord& FrameLog::at(std::size_t i) const {
    const std::size_t oldest = ring_.size() == Capacity ? taken_ % Capacity : 0;
    return ring_[(oldest + i) % Capacity];
}

void FrameLog::keep(const FrameRecord& r) {
    if (ring_.size() < Capacity) {
        ring_.push_back(r);
    } else {
        ring_[taken_ % Capacity] = r;
    }
    ++taken_;
    size_ = ring_.size();
}

std::size_t FrameLog::pull() {
    if (!available())
        return 0;
    std::array<comm_frame, Chunk> chunk;
    std::size_t took = 0;
    for (;;) {
        int32_t count = 0;
        uint64_t lost = 0;
        if (reader_(after_, chunk.data(), Chunk, sizeof(comm_frame), &count, &lost) != COMM_OK)
            return took;
        if (lost > 0) {
            FrameRecord mark;
            mark.lost = lost;
            keep(mark);
            ++took;
        }
        for (int32_t i = 0; i < count; ++i) {
            keep(FrameRecord{chunk[static_cast<std::size_t>(i)], 0});
            after_ = chunk[static_cast<std::size_t>(i)].number;
        }
        took += static_cast<std::size_t>(count);
        if (count < Chunk)
            return took;
    }
}

CallTiming FrameLog::afterCall() {
    CallTiming t;
    const std::size_t took = pull();
    if (took == 0)
        return t;
    // The call's own records are the last ones: its request, then what came
    // of it; the wait, if any, went before the request.
    const std::size_t first = size_ - std::min(took, size_);
    std::size_t request = size_;
    for (std::size_t i = size_; i-- > first;) {
        if (at(i).frame.kind == COMM_FRAME_REQUEST && at(i).lost == 0) {
            request = i;
            break;
        }
    }
    if (request == size_)
        return t;
    const comm_frame& sent = at(request).frame;
    for (std::size_t i = request + 1; i < size_; ++i) {
        const comm_frame& f = at(i).frame;
        if (f.kind == COMM_FRAME_REPLY && f.code == COMM_OK) {
            t.exchangeKnown = true;
            t.exchangeMs = MsBetween(sent.time_us, f.end_us);
        }
    }
    t.waitKnown = true;
    for (std::size_t i = request; i-- > first;) {
        const FrameRecord& r = at(i);
        if (r.lost > 0 || r.frame.kind == COMM_FRAME_REQUEST) {
            t.waitKnown = r.lost == 0; // a lost record may have been a wait
            break;
        }
        if (r.frame.kind == COMM_FRAME_WAIT)
            t.waitMs += MsBetween(r.frame.time_us, r.frame.end_us);
    }
    return t;
}
