// The points of the trend: the value of every successful poll with its time,
// flags and mode, in a ring of fixed size, with what the plot needs of them.
// No widgets: the trend window draws it, the tests check it alone.
#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <vector>

#include "PollOutcome.h"

struct TrendPoint {
    qint64 msecs = 0;   // wall clock, for the times shown
    qint64 elapsed = 0; // steady clock, for the time axis
    uint16_t value = 0;
    uint8_t flags = 0;         // FlagBits
    uint8_t mode = 0;          // as in PollOutcome
    bool afterFailure = false; // a failed poll came between this point and the one before
};

struct TrendStats {
    int count = 0;
    uint16_t min = 0;
    uint16_t max = 0;
    double mean = 0;
    double stdDev = 0; // sample standard deviation; NaN below two points
};

// The points that fall on one pixel column of the plot.
struct TrendColumn {
    int x = 0;
    uint16_t min = 0;
    uint16_t max = 0;
    uint16_t first = 0;  // value of the column's first point
    uint16_t last = 0;   // and of its last
    uint8_t flags = 0;   // every flag raised in the column
    bool joined = false; // the line comes from the previous column (no failed poll between)
    int firstIndex = 0;  // points firstIndex..lastIndex
    int lastIndex = 0;
};

class TrendModel {
  public:
    // Enough for a day at one poll a second, or 100,000 points, whichever is more.
    static constexpr int DefaultCapacity = 131072;

    explicit TrendModel(int capacity = DefaultCapacity);

    // A successful poll becomes a point, dropping the oldest one when the ring
    // is full; a failed one breaks the line before the next point.
    void add(const PollOutcome& outcome);
    void clear();

    int size() const { return size_; }
    int capacity() const { return static_cast<int>(ring_.size()); }
    // 0 is the oldest point.
    const TrendPoint& at(int i) const {
        int k = head_ + i;
        if (k >= capacity())
            k -= capacity();
        return ring_[static_cast<std::size_t>(k)];
    }

    TrendStats stats() const;

    // The unit of the points: the one mode known among them; "мВ/мкА" when
    // they were taken in both modes; with no known mode among them, the unit
    // of the mode last handed over.
    QString unit() const;

    // The points spread over `width` pixel columns from the first point's
    // steady time (column 0) to the last one's (column width - 1); one column
    // for each column that holds points, left to right.
    std::vector<TrendColumn> columns(int width) const;

  private:
    std::vector<TrendPoint> ring_;
    int head_ = 0; // the oldest point
    int size_ = 0;
    bool failedSinceLast_ = false;
    uint16_t lastMode_ = 0;
    std::array<int, 3> modeCount_{}; // points per mode: unknown, current, voltage
};
