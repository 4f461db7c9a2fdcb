#include "TrendModel.h"

#include "Registers.h"

#include <algorithm>
#include <cmath>
#include <limits>

TrendModel::TrendModel(int capacity) : ring_(static_cast<std::size_t>(std::max(capacity, 1))) {}

void TrendModel::add(const PollOutcome& outcome) {
    lastMode_ = outcome.mode;
    if (!outcome.ok) {
        failedSinceLast_ = true;
        return;
    }
    TrendPoint p;
    p.msecs = outcome.msecs;
    p.elapsed = outcome.elapsed;
    p.value = outcome.value;
    p.flags = FlagBits(outcome.flagsA, outcome.flagsB);
    p.mode = static_cast<uint8_t>(outcome.mode <= 2 ? outcome.mode : 0);
    p.afterFailure = failedSinceLast_ && size_ > 0;
    failedSinceLast_ = false;

    int k = head_ + size_;
    if (k >= capacity())
        k -= capacity();
    if (size_ < capacity()) {
        ++size_;
    } else {
        --modeCount_[ring_[static_cast<std::size_t>(k)].mode]; // the oldest point goes
        if (++head_ == capacity())
            head_ = 0;
    }
    ring_[static_cast<std::size_t>(k)] = p;
    ++modeCount_[p.mode];
}

void TrendModel::clear() {
    head_ = 0;
    size_ = 0;
    failedSinceLast_ = false;
    modeCount_ = {};
}

TrendStats TrendModel::stats() const {
    TrendStats s;
    s.count = size_;
    s.stdDev = std::numeric_limits<double>::quiet_NaN();
    if (size_ == 0)
        return s;
    // Exact sums: at most 2^17 squares of 16-bit values fit in 64 bits.
    uint16_t lo = 0xFFFF;
    uint16_t hi = 0;
    uint64_t sum = 0;
    uint64_t squares = 0;
    for (int i = 0; i < size_; ++i) {
        const uint16_t v = at(i).value;
        lo = std::min(lo, v);
        hi = std::max(hi, v);
        sum += v;
        squares += uint64_t(v) * v;
    }
    s.min = lo;
    s.max = hi;
    s.mean = double(sum) / size_;
    if (size_ > 1) {
        const double spread = double(squares) - double(sum) * s.mean;
        s.stdDev = std::sqrt(std::max(spread, 0.0) / (size_ - 1));
    }
    return s;
}

QString TrendModel::unit() const {
    const bool current = modeCount_[reg::ModeCurrent] > 0;
    const bool voltage = modeCount_[reg::ModeVoltage] > 0;
    if (current && voltage)
        return UnitText(0);
    if (current || voltage)
        return UnitText(current ? reg::ModeCurrent : reg::ModeVoltage);
    return UnitText(lastMode_);
}

std::vector<TrendColumn> TrendModel::columns(int width) const {
    std::vector<TrendColumn> out;
    if (size_ == 0 || width < 1)
        return out;
    const qint64 t0 = at(0).elapsed;
    const qint64 span = at(size_ - 1).elapsed - t0;
    // Column x holds the times from t0 + x * span / (width - 1) on; a point
    // before the next column's first time stays in the column (also one
    // whose clock went back), so a division is needed only per column.
    const auto columnOf = [&](qint64 t) {
        return span > 0 ? static_cast<int>(
                              std::clamp<qint64>((t - t0) * (width - 1) / span, 0, width - 1))
                        : 0;
    };
    const auto startOf = [&](int x) { // the first time of column x
        return t0 + (qint64(x) * span + (width - 1) - 1) / std::max(width - 1, 1);
    };
    out.reserve(static_cast<std::size_t>(std::min(size_, width)));
    TrendColumn c; // the column being filled, kept out of the vector
    qint64 nextStart = std::numeric_limits<qint64>::min();
    for (int i = 0; i < size_; ++i) {
        const TrendPoint& p = at(i);
        if (i == 0 || p.elapsed >= nextStart) {
            const int x = columnOf(p.elapsed);
            if (i == 0 || x > c.x) {
                if (i > 0)
                    out.push_back(c);
                c.x = x;
                c.min = c.max = c.first = c.last = p.value;
                c.flags = p.flags;
                c.joined = i > 0 && !p.afterFailure;
                c.firstIndex = c.lastIndex = i;
                nextStart =
                    x + 1 < width && span > 0 ? startOf(x + 1) : std::numeric_limits<qint64>::max();
                continue;
            }
        }
        c.min = std::min(c.min, p.value);
        c.max = std::max(c.max, p.value);
        c.last = p.value;
        c.flags |= p.flags;
        c.lastIndex = i;
    }
    out.push_back(c);
    return out;
}
