// The search for a module whose link settings are unknown.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace comm {

class Link;

struct LineSetting {
    int32_t baud;
    uint8_t parity; // 0 none, 1 odd, 2 even
};

// The settings the search tries, most likely first: the factory setting
// 19200 even, then the other parities at 19200, then 9600, 115200, 38400,
// 57600, 4800, 2400 and 28800, each with even, none and odd parity.
const std::vector<LineSetting>& searchOrder();

// The response allowance of the search's first, quick pass.
constexpr std::chrono::milliseconds QuickPassAllowance{50};

// Looks for the module answering at `address` on `device` whose register 768
// holds `typeCode` and register 0 holds `serial`, through `link` (closed on
// return).
//
// At each setting the port is opened anew and register 768 is read; when the
// type matches, register 0 follows. No reply at a setting moves on at once
// (one response time-out); a corrupted reply is tried up to three times at the
// same setting, since the module is probably there. A first pass over all 24
// settings waits QuickPassAllowance for each reply; when it finds nothing, a
// second pass waits the link's own response allowance, so a slow module and
// one lost reply are found too. With no module on the line and the default
// allowance the search takes about 8 s.
//
// Moving on at once lets a late reply from the setting before arrive while
// the next one is tried. So a find counts only when no earlier request of the
// search can still be answered; otherwise the search waits until none can
// (Link::settle) and asks the module again at that setting.
//
// Returns COMM_OK with *baud and *parity set; COMM_BAD_CRC when replies came
// but every one was corrupted; COMM_NO_REPLY when nothing answered or only
// modules of another type or serial number did ("no matching module");
// Behind a gateway (a network port) there is no sweep: the gateway runs the
// serial line at its own settings, so the module is looked for once, at
// 19200 even (which only sizes the time-outs), and that is what a find
// reports.
// COMM_OPEN_FAILED when the port cannot be opened; COMM_IO_ERROR when it
// fails meanwhile. A setting the port cannot run at (28800 on a driver that
// does not make it) is skipped. Arguments are the caller's to check.
int32_t searchModule(Link& link, const std::string& device, uint16_t typeCode, uint16_t serial,
                     uint8_t address, int32_t* baud, uint8_t* parity);

} // namespace comm
