// The bus scan's quick look at one address (Link::probe, Library::scanRead).
#include "Scan.h"

#include "Capture.h"
#include "Library.h"
#include "Link.h"
#include "comm_mb.h"

#include "Rtu.h"

#include <algorithm>

namespace comm {

namespace {

using std::chrono::microseconds;

constexpr uint8_t ReadFunction = 3;
constexpr uint8_t ExceptionFlag = 0x80;
constexpr int ReadRequestBytes = 8;
// Frames heard before a look's own request goes out, at the most.
constexpr int EarlierFramesRead = 4;

constexpr uint8_t HighestException = 11;

} // namespace

microseconds scanAllowance(int32_t baud, microseconds responseAllowance) {
    const microseconds chars(rtu::charsUs(9, 2 * baud)); // 4.5 characters
    const microseconds slower =
        std::max<microseconds>(responseAllowance - DefaultResponseAllowance, microseconds(0));
    return chars + ModuleTurnaround + ScanAdapterLatency + ScanSchedulingMargin + slower;
}

Link::Heard Link::hearFrame(uint8_t address, microseconds within, uint8_t* frame, int& length) {
    const auto gap = timeoutsFor(baud_, ReadRequestBytes, allowance_).byte + networkExtra() / 2;
    switch (readReply(line_, frame, length, std::max(within, microseconds(1)), gap)) {
    case Got::Nothing:
        return Heard::Nothing;
    case Got::Failed:
        return Heard::PortFailed;
    case Got::Cut:
    case Got::TooLong:
        return Heard::Garbled;
    case Got::Frame:
        break;
    }
    if (!rtu::crcFits(frame, static_cast<std::size_t>(length)))
        return Heard::Garbled; // a CRC error, or two slaves at once
    if (frame[0] == address)
        return Heard::Own;
    return frame[0] == 0 ? Heard::Garbled : Heard::Foreign; // no slave answers as 0
}

int32_t Link::probe(uint8_t address, uint16_t first, uint16_t count, uint16_t* data, bool patient,
                    uint8_t* other) {
    if (data == nullptr || count < 1 || count > 4)
        return COMM_BAD_BUFFER;
    if (address < 1 || address > 247)
        return COMM_BAD_PARAMETER;
    if (other != nullptr)
        *other = 0;
    if (const int32_t rc = reopenIfLost(); rc != COMM_OK)
        return rc;
    // The look is no retry of anything, and nothing after it is one of it.
    lastRequest_.clear();
    failedAttempts_ = 0;

    uint8_t frame[rtu::MaxFrameBytes];
    int length = 0;
    const auto heard = [&](Heard h) {
        if (h == Heard::Foreign && other != nullptr)
            *other = frame[0];
        if (h != Heard::Nothing) {
            owed_ = std::max(owed_ - 1, 0);
            lastHeard_ = Clock::now();
        }
    };
    // Replies to earlier requests that came in meanwhile: a slow module's
    // answer to an earlier look. Damaged bytes before the request are nobody's.
    for (int i = 0; i < EarlierFramesRead; ++i) {
        const Heard h = hearFrame(address, microseconds(1), frame, length);
        if (h == Heard::PortFailed) {
            lose();
            return COMM_IO_ERROR;
        }
        heard(h);
        if (h == Heard::Nothing)
            break;
        Capture::instance().heardLate(h == Heard::Garbled ? COMM_BAD_CRC : COMM_OK);
        if (h == Heard::Garbled || h == Heard::Own)
            line_.flush();
    }

    uint8_t request[ReadRequestBytes] = {address,
                                         ReadFunction,
                                         static_cast<uint8_t>(first >> 8),
                                         static_cast<uint8_t>(first & 0xFF),
                                         static_cast<uint8_t>(count >> 8),
                                         static_cast<uint8_t>(count & 0xFF)};
    rtu::putCrc(request, ReadRequestBytes - 2);
    lastAddress_ = address;
    const microseconds allowance =
        (patient ? allowance_ : scanAllowance(baud_, allowance_)) + networkExtra();
    // The monitor sees the look as an exchange of one attempt.
    const auto done = [](int32_t code) {
        Capture::instance().endAttempt(code);
        return code;
    };
    Capture::instance().beginAttempt(1);
    const auto sent = Clock::now();
    const auto deadline = sent + timeoutsFor(baud_, ReadRequestBytes, allowance).response;
    if (!line_.send(request, sizeof request)) {
        lose();
        return done(COMM_IO_ERROR);
    }
    ++owed_;
    lastHeard_ = sent;
    for (;;) {
        const auto left = std::chrono::duration_cast<microseconds>(deadline - Clock::now());
        if (left <= microseconds(0))
            return done(COMM_NO_REPLY);
        const Heard h = hearFrame(address, left, frame, length);
        heard(h);
        switch (h) {
        case Heard::Nothing:
            return done(COMM_NO_REPLY);
        case Heard::PortFailed:
            lose();
            return done(COMM_IO_ERROR);
        case Heard::Garbled:
            line_.flush();
            return done(COMM_BAD_CRC);
        case Heard::Foreign:
            Capture::instance().heardLate(COMM_WRONG_SLAVE);
            continue; // its own reply may still come
        case Heard::Own:
            break;
        }
        if (frame[1] == ReadFunction && frame[2] == 2 * count && length == 5 + 2 * count) {
            for (int i = 0; i < count; ++i)
                data[i] = static_cast<uint16_t>(frame[3 + 2 * i] << 8 | frame[4 + 2 * i]);
            return done(COMM_OK);
        }
        const uint8_t exception = frame[2];
        if (frame[1] == (ReadFunction | ExceptionFlag) && length == 5 && exception >= 1 &&
            exception <= HighestException)
            return done(exception);
        return done(COMM_BAD_REPLY);
    }
}

int32_t Library::scanRead(uint8_t address, uint16_t first, uint16_t count, uint16_t* data,
                          uint8_t patient, uint8_t* other) {
    std::lock_guard lock(mutex_);
    return link_.probe(address, first, count, data, patient != 0, other);
}

} // namespace comm
