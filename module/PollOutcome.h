// What one poll of the value and the error flags brought: the three
// registers, or the message of the failed exchange. The main window hands it
// to the trend and the measurement log after each poll.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

#include "ModuleFlags.h"

struct PollOutcome {
    qint64 msecs = 0;   // when the poll ended, milliseconds since the epoch (UTC)
    qint64 elapsed = 0; // the same moment on the steady clock (PollClocks)
    uint16_t mode = 0;  // measurement mode last read or written: 1 current, 2 voltage, else unknown
    bool ok = false;    // false: the exchange failed with `error`
    uint16_t flagsA = 0; // register 1024
    uint16_t value = 0;  // register 1025
    uint16_t flagsB = 0; // register 1026
    QString error;
};

// The clocks a poll is stamped with: the wall clock (milliseconds since the
// epoch) for the times shown and logged, and a steady one (milliseconds from
// an arbitrary start) that only goes forward, whatever is done to the wall
// clock, for the trend's time axis. Tests put their own clocks here.
struct PollClock {
    std::function<qint64()> wall;
    std::function<qint64()> steady;
};
extern PollClock PollClocks;

// The unit of the input value: "мкА" in current mode, "мВ" in voltage mode,
// "мВ/мкА" while the mode is not known.
QString UnitText(uint16_t mode);
