#include "Link.h"

#include "Capture.h"
#include "SerialPort.h"
#include "comm_mb.h"

#include <algorithm>
#include <cerrno>
#include <modbus.h>

namespace comm {

namespace {

using std::chrono::duration_cast;
using std::chrono::microseconds;

constexpr int32_t SupportedSpeeds[] = {1200, 2400, 4800, 9600, 19200, 28800, 38400, 57600, 115200};

constexpr int BitsPerChar = 11;
constexpr microseconds ByteLatencyAllowance{20'000};
// The longest request and reply the tool makes: four registers written, and
// four read.
constexpr int LongestRequestBytes = 17;
constexpr int LongestReplyBytes = 13;
// A USB adapter holds received bytes up to its latency timer (16 ms on FTDI
// chips) in each direction.
constexpr microseconds AdapterLatency{32'000};

void setTimeout(modbus_t* ctx, microseconds t, int (*setter)(modbus_t*, uint32_t, uint32_t)) {
    const auto us = std::max<int64_t>(t.count(), 1);
    setter(ctx, static_cast<uint32_t>(us / 1'000'000), static_cast<uint32_t>(us % 1'000'000));
}

// Character time in microseconds, times two to keep the half character of the
// 3.5-character frame gap exact in integers.
int64_t twiceCharUs(int32_t baud) {
    return 2 * BitsPerChar * 1'000'000LL / baud;
}

microseconds frameTime(int32_t baud, int bytes) {
    return microseconds((2 * bytes + 7) * twiceCharUs(baud) / 4);
}

// Results that mean a reply to the request may still be on its way: nothing
// came in time, or what came was not its intact answer.
bool replyMayStillCome(int32_t code) {
    return code == COMM_NO_REPLY || code == COMM_BAD_CRC || code == COMM_BAD_REPLY ||
           code == COMM_WRONG_SLAVE;
}

} // namespace

bool isSupportedSpeed(int32_t baud) {
    return std::find(std::begin(SupportedSpeeds), std::end(SupportedSpeeds), baud) !=
           std::end(SupportedSpeeds);
}

bool isSupportedParity(int32_t parity) {
    return parity >= 0 && parity <= 2;
}

Timeouts timeoutsFor(int32_t baud, int requestBytes, microseconds allowance) {
    const int64_t charUs = BitsPerChar * 1'000'000LL / baud;
    return {frameTime(baud, requestBytes) + allowance,
            microseconds(3 * charUs) + ByteLatencyAllowance};
}

int requestBytes(uint8_t function, uint16_t count) {
    // Read: address, function, first (2), count (2), CRC (2).
    // Write: the same plus the byte count and two bytes per register.
    return function == MODBUS_FC_WRITE_MULTIPLE_REGISTERS ? 9 + 2 * count : 8;
}

int32_t codeForModbusErrno(int error) {
    if (error > MODBUS_ENOBASE && error < MODBUS_ENOBASE + MODBUS_EXCEPTION_MAX) {
        // An exception reply: libmodbus hands over the slave's code as
        // MODBUS_ENOBASE + code for codes 1 to 11.
        return error - MODBUS_ENOBASE;
    }
    switch (error) {
    case ETIMEDOUT:
        return COMM_NO_REPLY;
    case EMBBADCRC:
        return COMM_BAD_CRC;
    case EMBBADSLAVE:
        return COMM_WRONG_SLAVE;
    case EMBBADDATA:
    case EMBMDATA:
    case EMBBADEXC:
    case EMBUNKEXC:
        return COMM_BAD_REPLY;
    default:
        return COMM_IO_ERROR;
    }
}

Link::~Link() {
    close();
}

void Link::closePort() {
    if (ctx_ != nullptr) {
        modbus_close(ctx_);
        modbus_free(ctx_);
        ctx_ = nullptr;
    }
    releasePort(claim_);
    claim_ = -1;
}

void Link::close() {
    closePort();
    lost_ = false;
}

void Link::lose() {
    closePort();
    lost_ = true;
    forgetOwed();
}

void Link::forgetOwed() {
    owed_ = 0;
    lastRequest_.clear();
    failedAttempts_ = 0;
}

void Link::setResponseAllowance(microseconds allowance) {
    allowance_ = std::clamp<microseconds>(allowance, MinResponseAllowance, MaxResponseAllowance);
}

int32_t Link::open(const std::string& device, int32_t baud, int32_t parity) {
    close();
    openError_ = 0;
    if (!isSupportedSpeed(baud) || !isSupportedParity(parity)) {
        openError_ = EINVAL;
        return COMM_BAD_PARAMETER;
    }
    // Late replies still due belong to the line: they outlive a reopening of
    // the same device at other settings, but not a change of device.
    if (device != device_) {
        forgetOwed();
    }
    // Replies at the settings before are no answer to a retry at these.
    failedAttempts_ = 0;
    device_ = device;
    baud_ = baud;
    parity_ = parity;
    if (device.empty()) {
        openError_ = ENOENT;
        return COMM_OPEN_FAILED;
    }
    const int claim = claimPort(device);
    if (claim < 0) {
        openError_ = errno;
        return COMM_OPEN_FAILED;
    }
    Capture::instance().setLine(baud, parity);
    static constexpr char ParityChar[] = {'N', 'O', 'E'};
    // No parity takes a second stop bit, so every character is 11 bits long.
    modbus_t* ctx =
        modbus_new_rtu(device.c_str(), baud, ParityChar[parity], 8, parity == 0 ? 2 : 1);
    if (ctx == nullptr) {
        openError_ = errno;
        releasePort(claim);
        return COMM_OPEN_FAILED;
    }
    Capture::tap(ctx); // the line's bytes for read_frames, where this libmodbus allows
    if (modbus_connect(ctx) != 0) {
        openError_ = errno;
        modbus_free(ctx);
        releasePort(claim);
        return COMM_OPEN_FAILED;
    }
    makeExclusive(claim);
    // libmodbus may have put the line to 9600 instead of the speed asked for.
    if (!setAndCheckLine(modbus_get_socket(ctx), baud, parity)) {
        openError_ = EINVAL;
        modbus_close(ctx);
        modbus_free(ctx);
        releasePort(claim);
        return COMM_OPEN_FAILED;
    }
    ctx_ = ctx;
    claim_ = claim;
    return COMM_OK;
}

int32_t Link::reopenIfLost() {
    if (ctx_ == nullptr) {
        if (!lost_) {
            return COMM_NOT_OPEN;
        }
        // The device went away: one try to get it back under its old name.
        if (open(std::string(device_), baud_, parity_) != COMM_OK) {
            lost_ = true;
            return COMM_IO_ERROR;
        }
    }
    return COMM_OK;
}

microseconds Link::silenceSpan() const {
    // After the latest request, or the latest reply (once it is out the
    // module takes up the next request), the next reply owed starts within
    // the late-reply window, and then takes its own time.
    const microseconds late = std::max<microseconds>(LateReplyWindow, allowance_);
    return frameTime(baud_, LongestRequestBytes) + late + frameTime(baud_, LongestReplyBytes) +
           timeoutsFor(baud_, LongestReplyBytes, allowance_).byte + AdapterLatency;
}

void Link::noteHeard(int32_t code, Clock::time_point deadline) {
    const auto now = Clock::now();
    if (code != COMM_NO_REPLY) {
        // A frame: whole, damaged or not the answer asked for, it is the reply
        // owed longest.
        owed_ = std::max(owed_ - 1, 0);
        lastHeard_ = now;
    } else if (now + std::chrono::milliseconds(1) < deadline) {
        lastHeard_ = now; // bytes that made no frame, then a pause
    }
}

void Link::settle() {
    if (ctx_ == nullptr) {
        return;
    }
    uint8_t frame[MODBUS_RTU_MAX_ADU_LENGTH];
    setTimeout(ctx_, timeoutsFor(baud_, 8, allowance_).byte, modbus_set_byte_timeout);
    // Each reply may be followed by the next one owed, a silence span later
    // at most; a line that babbles on ends the wait after as many spans as a
    // retried exchange can owe.
    const auto giveUp = Clock::now() + std::clamp(owed_, 1, AttemptsPerExchange) * silenceSpan();
    Capture::instance().beginWait();
    while (owed_ > 0) {
        const auto now = Clock::now();
        const auto until = std::min(lastHeard_ + silenceSpan(), giveUp);
        if (now >= until) {
            break;
        }
        setTimeout(ctx_, duration_cast<microseconds>(until - now), modbus_set_response_timeout);
        errno = 0;
        const int rc = modbus_receive_confirmation(ctx_, frame);
        const int32_t code = rc >= 0 ? COMM_OK : codeForModbusErrno(errno);
        Capture::instance().heardLate(code);
        if (code == COMM_IO_ERROR) {
            Capture::instance().endWait();
            lose();
            return;
        }
        noteHeard(code, until);
    }
    Capture::instance().endWait();
    owed_ = 0; // silence: the rest will not come
    modbus_flush(ctx_);
}

int32_t Link::exchange(uint8_t address, uint8_t function, uint16_t first, uint16_t count,
                       uint16_t* data, Guard guard) {
    if (function != MODBUS_FC_READ_HOLDING_REGISTERS &&
        function != MODBUS_FC_WRITE_MULTIPLE_REGISTERS) {
        return COMM_BAD_FUNCTION;
    }
    if (data == nullptr || count < 1 || count > 4) {
        return COMM_BAD_BUFFER;
    }
    // 0 would be a broadcast, which no module answers; 248 and above are
    // reserved.
    if (address < 1 || address > 247) {
        return COMM_BAD_PARAMETER;
    }
    if (const int32_t rc = reopenIfLost(); rc != COMM_OK) {
        return rc;
    }
    if (modbus_set_slave(ctx_, address) != 0) {
        return COMM_BAD_PARAMETER;
    }

    std::vector<uint16_t> request = {address, function, first, count};
    if (function == MODBUS_FC_WRITE_MULTIPLE_REGISTERS) {
        request.insert(request.end(), data, data + count);
    }
    if (owed_ > 0 && Clock::now() >= lastHeard_ + silenceSpan()) {
        owed_ = 0; // the line has been silent: nothing owed will come
    }
    const bool retry =
        request == lastRequest_ && failedAttempts_ > 0 && failedAttempts_ < AttemptsPerExchange;
    if (owed_ > 0 && !retry && guard == Guard::Settle) {
        settle();
        if (ctx_ == nullptr) {
            return COMM_IO_ERROR;
        }
    } else if (owed_ == 0 || !retry) {
        modbus_flush(ctx_); // whatever stray bytes came in since
    }
    // A retry goes out at once: a late reply to an earlier attempt answers it
    // as well, so what has come of that reply is kept.
    lastRequest_ = std::move(request);

    const Timeouts t = timeoutsFor(baud_, requestBytes(function, count), allowance_);
    setTimeout(ctx_, t.response, modbus_set_response_timeout);
    setTimeout(ctx_, t.byte, modbus_set_byte_timeout);
    Capture::instance().beginAttempt(retry ? failedAttempts_ + 1 : 1);
    const auto sent = Clock::now();
    ++owed_;
    lastHeard_ = sent;
    errno = 0;
    const int rc = function == MODBUS_FC_READ_HOLDING_REGISTERS
                       ? modbus_read_registers(ctx_, first, count, data)
                       : modbus_write_registers(ctx_, first, count, data);
    int32_t code = COMM_OK;
    if (rc != count) {
        code = rc >= 0 ? COMM_BAD_REPLY : codeForModbusErrno(errno);
    }
    Capture::instance().endAttempt(code);

    if (code == COMM_IO_ERROR) {
        lose();
        return code;
    }
    noteHeard(code, sent + t.response);
    failedAttempts_ = replyMayStillCome(code) ? (retry ? failedAttempts_ + 1 : 1) : 0;
    return code;
}

} // namespace comm
