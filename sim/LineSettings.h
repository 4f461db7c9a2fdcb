// Line settings of the pseudo-terminal, read and set through termios2.
//
// Kept apart from everything else because <asm/termbits.h> clashes with
// <termios.h>. Linux ptys keep the speed (also non-standard ones through
// BOTHER), PARODD and CSTOPB, but drop PARENB. The module uses 11-bit
// characters, so the parity is told apart like this:
//   none: CSTOPB set (the parity bit is replaced by a second stop bit)
//   odd:  PARODD set, CSTOPB clear
//   even: neither set
#pragma once

namespace sim {

struct LineSettings {
    unsigned baud = 0;
    int parity = -1; // 0 none, 1 odd, 2 even
};

// The speed and parity the master last set, read on either side of the pty.
bool ReadLineSettings(int fd, LineSettings& out);

// Puts the terminal in raw mode, 8 data bits, at this speed and parity.
bool SetRawLine(int fd, unsigned baud, int parity);

} // namespace sim
