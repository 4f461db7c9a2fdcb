// What the library does to a serial port beyond what libmodbus does: claiming
// it for this process alone, and setting and verifying the line speed
// (libmodbus 3.1.6 maps a speed it has no constant for, 28800 on Linux, to
// 9600 without a word). Linux and Windows each have a file of their own.
#pragma once

#include <cstdint>
#include <string>

namespace comm {

// Claims `device` before libmodbus opens it, without touching its line
// settings. Linux: opens it, checks that it is a terminal and takes an
// advisory lock (flock) that another opener honouring it, a second copy of
// this tool included, cannot get. Returns a claim (>= 0), to be given back with
// releasePort; or -1 with errno telling why: ENOENT (no such device), EACCES
// (no permission), EBUSY (held by another program), ENOTTY (not a serial
// port), or what else open() reported. Windows opens COM ports exclusively by
// itself; the claim there is a placeholder.
int claimPort(const std::string& device);

// After libmodbus has opened its own descriptor: refuses further opens of
// the terminal to everyone (TIOCEXCL). Root is not refused by the system; the
// lock of claimPort still holds a second copy of the tool off.
void makeExclusive(int claim);

// Undoes makeExclusive and gives the claim back (drops the lock).
void releasePort(int claim);

// Puts the port behind `fd` to exactly `baud` bit/s and checks that the line
// now runs at that speed with 8 data bits and the parity and stop bits of
// `parity` (0 none with two stop bits, 1 odd, 2 even). Returns false when the
// driver refuses the speed or reports other settings than asked for.
// A speed the driver rounds by up to 2 % (well inside what a UART tolerates)
// counts as set. On Windows the patched libmodbus does this check itself.
bool setAndCheckLine(int fd, int32_t baud, int32_t parity);

} // namespace comm
