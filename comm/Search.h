// The search for a module whose link settings are unknown.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace comm {

struct LineSetting {
    int32_t baud;
    uint8_t parity; // 0 none, 1 odd, 2 even
};

// The settings the search tries, most likely first: the factory setting
// 19200 even, then the other parities at 19200, then 9600, 115200, 38400,
// 57600, 4800, 2400 and 28800, each with even, none and odd parity.
const std::vector<LineSetting>& searchOrder();

// Looks for the module answering at `address` on `device` whose register 768
// holds `typeCode` and register 0 holds `serial`.
//
// At each setting the port is opened anew and register 768 is read; when the
// type matches, register 0 follows. No reply at a setting moves on at once
// (one response time-out); a corrupted reply is tried up to three times at the
// same setting, since the module is probably there. When one pass over all 24
// settings finds nothing, a second pass follows, so one lost reply does not
// hide the module. With no module on the line a pass takes about 3 s, the
// whole search about 6 s.
//
// Returns COMM_OK with *baud and *parity set; COMM_BAD_CRC when replies came
// but every one was corrupted; COMM_NO_REPLY when nothing answered or only
// modules of another type or serial number did ("no matching module");
// COMM_OPEN_FAILED when the port cannot be opened. The port is closed again on
// return. Arguments are the caller's to check.
int32_t searchModule(const std::string& device, uint16_t typeCode, uint16_t serial, uint8_t address,
                     int32_t* baud, uint8_t* parity);

} // namespace comm
