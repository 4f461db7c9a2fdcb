// The bus scan's quick look at one address (Link::probe, Library::scanRead).
#include "Scan.h"

#include "Capture.h"
#include "Library.h"
#include "Link.h"
#include "comm_mb.h"

#include <algorithm>
#include <cerrno>
#include <modbus.h>

namespace comm {

namespace {

using std::chrono::microseconds;

constexpr uint8_t ReadFunction = 3;
constexpr uint8_t ExceptionFlag = 0x80;
constexpr int ReadRequestBytes = 8;
// Frames heard before a look's own request goes out, at the most.
constexpr int EarlierFramesRead = 4;

uint16_t crc16(const uint8_t* data, int length) {
    uint16_t crc = 0xFFFF;
    for (int i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

// The length libmodbus reads of a reply from its function code (and, for
// reads, its byte count), as it does before it checks the CRC.
int replyLength(const uint8_t* frame) {
    switch (frame[1]) {
    case 5:
    case 6:
    case 15:
    case 16:
        return 8;
    case 22:
        return 10;
    case 17:
    case 23:
        return 5 + frame[2];
    default:
        return frame[1] <= 4 ? 5 + frame[2] : 5;
    }
}

bool crcFits(const uint8_t* frame, int length) {
    const uint16_t crc = crc16(frame, length - 2);
    return frame[length - 2] == (crc & 0xFF) && frame[length - 1] == (crc >> 8);
}

} // namespace

microseconds scanAllowance(int32_t baud, microseconds responseAllowance) {
    const microseconds chars(9 * 11 * 1'000'000LL / (2 * baud)); // 4.5 characters of 11 bits
    const microseconds slower =
        std::max<microseconds>(responseAllowance - DefaultResponseAllowance, microseconds(0));
    return chars + ModuleTurnaround + ScanAdapterLatency + ScanSchedulingMargin + slower;
}

Link::Heard Link::hearFrame(uint8_t address, microseconds within, uint8_t* frame, int& length) {
    // The first byte libmodbus stores tells whether anything came at all,
    // also when the rest never did.
    const uint8_t untouched = static_cast<uint8_t>(~address);
    frame[0] = untouched;
    const auto t = timeoutsFor(baud_, ReadRequestBytes, allowance_);
    modbus_set_response_timeout(
        ctx_, static_cast<uint32_t>(within.count() / 1'000'000),
        static_cast<uint32_t>(std::max<int64_t>(within.count() % 1'000'000, 1)));
    modbus_set_byte_timeout(ctx_, 0, static_cast<uint32_t>(t.byte.count()));
    errno = 0;
    const int rc = modbus_receive_confirmation(ctx_, frame);
    if (rc > 0) {
        length = rc;
        return frame[0] == address ? Heard::Own : Heard::Garbled;
    }
    if (rc == 0) { // another slave's: libmodbus has not checked its CRC
        length = replyLength(frame);
        return crcFits(frame, length) ? Heard::Foreign : Heard::Garbled;
    }
    const int32_t code = codeForModbusErrno(errno);
    if (code == COMM_IO_ERROR)
        return Heard::PortFailed;
    if (code == COMM_NO_REPLY && frame[0] == untouched)
        return Heard::Nothing;
    return Heard::Garbled; // a CRC error, a frame cut short or too long
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
    modbus_set_slave(ctx_, address);
    // The look is no retry of anything, and nothing after it is one of it.
    lastRequest_.clear();
    failedAttempts_ = 0;

    uint8_t frame[MODBUS_RTU_MAX_ADU_LENGTH];
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
            modbus_flush(ctx_);
    }

    const uint8_t request[6] = {address,
                                ReadFunction,
                                static_cast<uint8_t>(first >> 8),
                                static_cast<uint8_t>(first & 0xFF),
                                static_cast<uint8_t>(count >> 8),
                                static_cast<uint8_t>(count & 0xFF)};
    const microseconds allowance = patient ? allowance_ : scanAllowance(baud_, allowance_);
    // The monitor sees the look as an exchange of one attempt.
    const auto done = [](int32_t code) {
        Capture::instance().endAttempt(code);
        return code;
    };
    Capture::instance().beginAttempt(1);
    const auto sent = Clock::now();
    const auto deadline = sent + timeoutsFor(baud_, ReadRequestBytes, allowance).response;
    if (modbus_send_raw_request(ctx_, request, sizeof request) < 0) {
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
            modbus_flush(ctx_);
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
            exception < MODBUS_EXCEPTION_MAX)
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
