#include "Link.h"

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
// The longest reply the tool asks for: four registers read.
constexpr int LongestReplyBytes = 13;

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
    unanswered_ = 0;
    lastRequest_.clear();
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
        unanswered_ = 0;
        lastRequest_.clear();
    }
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
    static constexpr char ParityChar[] = {'N', 'O', 'E'};
    // No parity takes a second stop bit, so every character is 11 bits long.
    modbus_t* ctx =
        modbus_new_rtu(device.c_str(), baud, ParityChar[parity], 8, parity == 0 ? 2 : 1);
    if (ctx == nullptr) {
        openError_ = errno;
        releasePort(claim);
        return COMM_OPEN_FAILED;
    }
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

void Link::noteUnanswered(Clock::time_point sent, const Timeouts& t) {
    // The request is on the line once the time-out's allowance begins; its
    // reply may start until the late-reply window (or a longer allowance) has
    // passed, and then takes its own time.
    const microseconds requestOnLine = t.response - allowance_;
    const microseconds late = std::max<microseconds>(LateReplyWindow, allowance_);
    quietAfter_ = std::max(quietAfter_, sent + requestOnLine + late +
                                            frameTime(baud_, LongestReplyBytes) + t.byte);
}

void Link::settle() {
    if (ctx_ == nullptr) {
        return;
    }
    uint8_t frame[MODBUS_RTU_MAX_ADU_LENGTH];
    setTimeout(ctx_, timeoutsFor(baud_, 8, allowance_).byte, modbus_set_byte_timeout);
    while (unanswered_ > 0) {
        const auto now = Clock::now();
        if (now >= quietAfter_) {
            break;
        }
        setTimeout(ctx_, duration_cast<microseconds>(quietAfter_ - now),
                   modbus_set_response_timeout);
        errno = 0;
        const int rc = modbus_receive_confirmation(ctx_, frame);
        if (rc >= 0) {
            --unanswered_; // a whole frame: one of the late replies
        } else if (codeForModbusErrno(errno) == COMM_IO_ERROR) {
            lose();
            return;
        }
        // Silence, or bytes that made no frame: listen on until the window ends.
    }
    unanswered_ = 0;
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
    if (modbus_set_slave(ctx_, address) != 0) {
        return COMM_BAD_PARAMETER;
    }

    std::vector<uint16_t> request = {address, function, first, count};
    if (function == MODBUS_FC_WRITE_MULTIPLE_REGISTERS) {
        request.insert(request.end(), data, data + count);
    }
    if (unanswered_ > 0 && Clock::now() >= quietAfter_) {
        unanswered_ = 0;
    }
    const bool repeat = request == lastRequest_;
    if (unanswered_ > 0 && guard == Guard::Settle && !repeat) {
        settle();
        if (ctx_ == nullptr) {
            return COMM_IO_ERROR;
        }
    } else if (unanswered_ == 0 || !repeat) {
        modbus_flush(ctx_); // whatever stray bytes came in since
    }
    // A repeat goes out at once: a late reply to the earlier one answers it as
    // well, so what has come of that reply is kept too.
    lastRequest_ = std::move(request);

    const Timeouts t = timeoutsFor(baud_, requestBytes(function, count), allowance_);
    setTimeout(ctx_, t.response, modbus_set_response_timeout);
    setTimeout(ctx_, t.byte, modbus_set_byte_timeout);
    const auto sent = Clock::now();
    errno = 0;
    const int rc = function == MODBUS_FC_READ_HOLDING_REGISTERS
                       ? modbus_read_registers(ctx_, first, count, data)
                       : modbus_write_registers(ctx_, first, count, data);
    int32_t code = COMM_OK;
    if (rc != count) {
        code = rc >= 0 ? COMM_BAD_REPLY : codeForModbusErrno(errno);
    }

    if (code == COMM_IO_ERROR) {
        lose();
    } else if (replyMayStillCome(code)) {
        ++unanswered_;
        noteUnanswered(sent, t);
    } else if (unanswered_ > 0) {
        // An answer came while an earlier request was outstanding: it may have
        // been that one's, so this request's own reply may follow.
        noteUnanswered(sent, t);
    }
    return code;
}

} // namespace comm
