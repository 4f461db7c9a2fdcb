#include "Line.h"

#include "Capture.h"

namespace comm {

namespace {

// The capture of a build made without it (a benchmark's reference) sees
// nothing.
#if defined(COMM_MB_NO_CAPTURE)
constexpr bool Recorded = false;
#else
constexpr bool Recorded = true;
#endif

} // namespace

int Line::open(const std::string& device, int32_t baud, int32_t parity) {
    const int error = port_.open(device, baud, parity);
    if (error == 0 && Recorded)
        Capture::instance().setLine(baud, parity);
    return error;
}

bool Line::send(const uint8_t* bytes, int length) {
    const auto start = Capture::Clock::now();
    const bool taken = port_.write(bytes, length);
    if (Recorded)
        Capture::instance().sent(bytes, length, taken, start, Capture::Clock::now());
    return taken;
}

int Line::read(uint8_t* bytes, int max, std::chrono::microseconds timeout) {
    const int n = port_.read(bytes, max, timeout);
    if (n > 0 && Recorded)
        Capture::instance().received(bytes, n);
    return n;
}

void Line::flush() {
    if (!port_.isOpen())
        return;
    uint8_t bytes[rtu::MaxFrameBytes];
    bool any = false;
    // A babbling line ends the drain after a few frames' worth.
    for (int i = 0; i < 64; ++i) {
        if (read(bytes, sizeof bytes, std::chrono::microseconds(0)) <= 0)
            break;
        any = true;
    }
    if (Recorded)
        Capture::instance().flushed();
#if defined(_WIN32)
    any = true; // the driver may hold bytes back that a read does not see yet
#endif
    // On a quiet line nothing waits: no further call.
    if (any)
        port_.discard();
}

} // namespace comm
