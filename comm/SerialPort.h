// Setting and verifying the line speed of an open port beyond what libmodbus
// knows: libmodbus 3.1.6 maps a speed it has no constant for (28800 on Linux)
// to 9600 without a word.
#pragma once

#include <cstdint>

namespace comm {

// Puts the port behind `fd` to exactly `baud` bit/s and checks that the line
// now runs at that speed with 8 data bits and the parity and stop bits of
// `parity` (0 none with two stop bits, 1 odd, 2 even). Returns false when the
// driver refuses the speed or reports other settings than asked for.
// A speed the driver rounds by up to 2 % (well inside what a UART tolerates)
// counts as set.
bool setAndCheckLine(int fd, int32_t baud, int32_t parity);

} // namespace comm
