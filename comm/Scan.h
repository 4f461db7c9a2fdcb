// The bus scan: how long a quick look at one address waits for its reply.
//
// Link::probe (defined in Scan.cpp) makes the look itself.
#pragma once

#include <chrono>
#include <cstdint>

namespace comm {

// Parts of the quick reply allowance (see scanAllowance).
constexpr std::chrono::microseconds ModuleTurnaround{10'000};
constexpr std::chrono::microseconds ScanAdapterLatency{16'000};
constexpr std::chrono::microseconds ScanSchedulingMargin{4'000};

// How long a quick look waits for the reply to start once the request is on
// the line (the request's own time on the line, with the silence that ends
// it, comes on top, as for every exchange):
//
//     allowance = 4.5 character times + 10 ms + 16 ms + 4 ms
//
// A module may start its reply only after a silence of 3.5 characters, and
// the PC sees the reply once its first character is whole; the module itself
// answers within a few milliseconds (10 ms); a USB adapter holds received
// bytes up to its latency timer (16 ms on FTDI chips); the PC's scheduling
// and the USB frames take a few more (4 ms). So 32.6 ms at 19200 bit/s,
// 30.4 ms at 115200, 50.6 ms at 2400. A slower installation, one whose
// comm_mb.ini gives a ResponseTimeout above the default, gets the excess on
// top. A reply later than this is not lost: it comes during a later look and
// is reported there as a reply from another slave.
std::chrono::microseconds scanAllowance(int32_t baud, std::chrono::microseconds responseAllowance);

} // namespace comm
