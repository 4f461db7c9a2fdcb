#include "TrendModel.h"

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
    p.value = outcome.value;
    p.flags = FlagBits(outcome.flagsA, outcome.flagsB);
    p.mode = static_cast<uint8_t>(outcome.mode <= 2 ? outcome.mode : 0);
    p.afterFailure = failedSinceLast_ && size_ > 0;
    failedSinceLast_ = false;

    int k = head_ + size_;
    if (k >= capacity())
        k -= capacity();
    ring_[static_cast<std::size_t>(k)] = p;
    if (size_ < capacity()) {
        ++size_;
    } else if (++head_ == capacity()) {
        head_ = 0;
    }
}

void TrendModel::clear() {
    head_ = 0;
    size_ = 0;
    failedSinceLast_ = false;
}

TrendStats TrendModel::stats() const {
    TrendStats s;
    s.count = size_;
    s.stdDev = std::numeric_limits<double>::quiet_NaN();
    if (size_ == 0)
        return s;
    s.min = 0xFFFF;
    double sum = 0;
    for (int i = 0; i < size_; ++i) {
        const uint16_t v = at(i).value;
        s.min = std::min(s.min, v);
        s.max = std::max(s.max, v);
        sum += v;
    }
    s.mean = sum / size_;
    if (size_ > 1) {
        double squares = 0;
        for (int i = 0; i < size_; ++i) {
            const double d = at(i).value - s.mean;
            squares += d * d;
        }
        s.stdDev = std::sqrt(squares / (size_ - 1));
    }
    return s;
}

QString TrendModel::unit() const {
    bool current = false;
    bool voltage = false;
    for (int i = 0; i < size_ && !(current && voltage); ++i) {
        current = current || at(i).mode == 1;
        voltage = voltage || at(i).mode == 2;
    }
    if (current && voltage)
        return UnitText(0);
    if (current || voltage)
        return UnitText(current ? 1 : 2);
    return UnitText(lastMode_);
}

std::vector<TrendColumn> TrendModel::columns(int width) const {
    std::vector<TrendColumn> out;
    if (size_ == 0 || width < 1)
        return out;
    const qint64 t0 = at(0).msecs;
    const qint64 span = at(size_ - 1).msecs - t0;
    out.reserve(static_cast<std::size_t>(std::min(size_, width)));
    for (int i = 0; i < size_; ++i) {
        const TrendPoint& p = at(i);
        // A clock set back puts a point at the left edge rather than off the plot.
        int x = 0;
        if (span > 0)
            x = static_cast<int>(
                std::clamp<qint64>((p.msecs - t0) * (width - 1) / span, 0, width - 1));
        if (out.empty() || x > out.back().x) {
            TrendColumn c;
            c.x = x;
            c.min = c.max = c.first = c.last = p.value;
            c.flags = p.flags;
            c.joined = !out.empty() && !p.afterFailure;
            c.firstIndex = c.lastIndex = i;
            out.push_back(c);
            continue;
        }
        TrendColumn& c = out.back();
        c.min = std::min(c.min, p.value);
        c.max = std::max(c.max, p.value);
        c.last = p.value;
        c.flags |= p.flags;
        c.lastIndex = i;
    }
    return out;
}
