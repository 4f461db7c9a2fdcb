#include "Cutter.h"

#include "Rtu.h"

#include <algorithm>
#include <cstring>

namespace comm {

int64_t silenceUs(int32_t baud) {
    // 3.5 characters; above 19200 bit/s the line's fixed 1.75 ms.
    return std::max<int64_t>(rtu::charsUs(7, baud) / 2, 1750);
}

FrameLengths frameLengths(const uint8_t* b, int have) {
    FrameLengths l;
    if (have < 2) {
        l.complete = false;
        return l;
    }
    const uint8_t function = b[1];
    const auto add = [&](int length) { l.length[l.count++] = length; };
    if (function & 0x80) {
        add(5); // exception
        return l;
    }
    switch (function) {
    case 1:
    case 2:
    case 3:
    case 4:
        add(8); // request: address, function, first, count, CRC
        if (have >= 3)
            add(5 + b[2]); // reply: byte count and the bytes
        else
            l.complete = false;
        break;
    case 5:
    case 6:
        add(8); // request and its echo
        break;
    case 15:
    case 16:
        if (have >= 7)
            add(9 + b[6]); // request: first, count, byte count, the bytes
        else
            l.complete = false;
        add(8); // reply: first and count
        break;
    default:
        break;
    }
    return l;
}

Cutter::Cutter(int32_t baud, int32_t parity, Sink out)
    : baud_(baud), parity_(parity), out_(std::move(out)) {
    bytes_.reserve(2 * COMM_FRAME_BYTES);
    times_.reserve(2 * COMM_FRAME_BYTES);
}

int64_t Cutter::patienceUs() const {
    const int64_t silence = silenceUs(baud_);
    if (bytes_.empty() || quietAt_ > 0)
        return silence;
    const FrameLengths l = frameLengths(bytes_.data(), static_cast<int>(bytes_.size()));
    bool prefix = !l.complete;
    for (int i = 0; i < l.count; ++i)
        prefix = prefix || static_cast<std::size_t>(l.length[i]) > bytes_.size();
    return prefix ? std::max(silence, BurstPatienceUs) : silence;
}

void Cutter::feed(const uint8_t* bytes, int n, int64_t at_us, int64_t wall_us) {
    if (n <= 0)
        return;
    wallAt_ = wall_us - at_us;
    // The last byte came just before the read returned, each one before it a
    // character earlier, and none before the piece before.
    const int64_t charUs = rtu::charsUs(1, baud_);
    int64_t first = at_us - (n - 1) * charUs;
    const bool quiet = lastAt_ < 0 || first - lastAt_ >= silenceUs(baud_);
    if (lastAt_ >= 0)
        first = std::max(first, lastAt_);
    lastAt_ = at_us;
    if (skipping_) {
        if (!quiet) {
            skipped_ += static_cast<uint32_t>(n);
            return;
        }
        silence(); // the overlong run ended before this piece
    }
    if (quiet && !bytes_.empty())
        quietAt_ = bytes_.size();
    if (bytes_.empty())
        joined_ = false;
    for (int i = 0; i < n; ++i) {
        bytes_.push_back(bytes[i]);
        times_.push_back(std::min(first + i * charUs, at_us));
    }
    cut(false);
}

void Cutter::silence() {
    if (skipping_) {
        long_.dropped = skipped_;
        out_(long_);
        skipping_ = false;
        skipped_ = 0;
    }
    cut(true);
    joined_ = false;
    quietAt_ = 0;
}

int Cutter::wholeAt(std::size_t from) const {
    const int have = static_cast<int>(bytes_.size() - from);
    const uint8_t* b = bytes_.data() + from;
    const FrameLengths l = frameLengths(b, have);
    for (int i = 0; i < l.count; ++i) {
        const int length = l.length[i];
        if (length <= have && rtu::crcFits(b, static_cast<std::size_t>(length)))
            return length;
    }
    return 0;
}

int32_t Cutter::judge(int length) const {
    const uint8_t* b = bytes_.data();
    if (length >= 4 && rtu::crcFits(b, static_cast<std::size_t>(length)))
        return COMM_HEARD_FRAME; // a function of its own, cut by silence
    const FrameLengths l = frameLengths(b, length);
    if (l.count == 0)
        return l.complete ? COMM_HEARD_NOISE : COMM_HEARD_CUT;
    int shortest = l.length[0];
    for (int i = 0; i < l.count; ++i) {
        if (l.length[i] == length)
            return COMM_HEARD_BAD_CRC;
        shortest = std::min(shortest, l.length[i]);
    }
    return length < shortest || !l.complete ? COMM_HEARD_CUT : COMM_HEARD_NOISE;
}

void Cutter::cut(bool quiet) {
    while (!bytes_.empty()) {
        // A right CRC at a length the function allows outweighs the times
        // of the pieces, which an adapter may have held back.
        if (const int length = wholeAt(0)) {
            emit(length, COMM_HEARD_FRAME);
            continue;
        }
        // What came before a silence is a piece of its own.
        if (quietAt_ > 0) {
            const auto piece = static_cast<int>(quietAt_);
            emit(piece, judge(piece));
            joined_ = false;
            continue;
        }
        // A whole frame further on: what goes before it is a piece.
        std::size_t from = 0;
        for (std::size_t k = 1; k + 4 <= bytes_.size() && from == 0; ++k)
            if (wholeAt(k) > 0)
                from = k;
        if (from > 0) {
            const auto piece = static_cast<int>(from);
            emit(piece, judge(piece));
            continue;
        }
        if (bytes_.size() >= static_cast<std::size_t>(COMM_FRAME_BYTES)) {
            // Longer than any frame and none in it: kept until silence ends
            // the run, the rest only counted.
            std::memset(&long_, 0, sizeof long_);
            const std::size_t rest = bytes_.size() - COMM_FRAME_BYTES;
            emit(COMM_FRAME_BYTES, COMM_HEARD_LONG); // into long_, see emit
            skipping_ = true;
            skipped_ = static_cast<uint32_t>(rest);
            bytes_.clear();
            times_.clear();
            if (quiet)
                silence();
            return;
        }
        if (!quiet)
            return; // more may come
        const auto piece = static_cast<int>(bytes_.size());
        emit(piece, judge(piece));
    }
}

void Cutter::emit(int length, int32_t code) {
    comm_heard h{};
    h.number = ++number_;
    h.time_us = times_[0];
    h.end_us = times_[static_cast<std::size_t>(length) - 1];
    h.wall_us = h.time_us + wallAt_;
    h.gap_us = lastEnd_ < 0 ? -1 : std::max<int64_t>(h.time_us - lastEnd_, 0);
    h.baud = baud_;
    h.code = code;
    h.length = static_cast<uint16_t>(std::min(length, COMM_FRAME_BYTES));
    h.parity = static_cast<uint8_t>(parity_);
    h.flags = joined_ ? COMM_HEARD_JOINED : 0;
    std::memcpy(h.data, bytes_.data(), h.length);
    lastEnd_ = h.end_us;
    bytes_.erase(bytes_.begin(), bytes_.begin() + length);
    times_.erase(times_.begin(), times_.begin() + length);
    quietAt_ = quietAt_ > static_cast<std::size_t>(length) ? quietAt_ - length : 0;
    joined_ = !bytes_.empty();
    if (code == COMM_HEARD_LONG)
        long_ = h; // sent when the run ends
    else
        out_(h);
}

} // namespace comm
