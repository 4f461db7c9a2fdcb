#include "Link.h"

#include "LineCheck.h"
#include "comm_mb.h"

#include <cerrno>
#include <modbus.h>

namespace comm {

namespace {

constexpr int32_t SupportedSpeeds[] = {1200, 2400, 4800, 9600, 19200, 28800, 38400, 57600, 115200};

constexpr int BitsPerChar = 11;
constexpr std::chrono::microseconds TurnaroundAllowance{100'000};
constexpr std::chrono::microseconds ByteLatencyAllowance{20'000};

void setTimeout(modbus_t* ctx, std::chrono::microseconds t,
                int (*setter)(modbus_t*, uint32_t, uint32_t)) {
    const auto us = t.count();
    setter(ctx, static_cast<uint32_t>(us / 1'000'000), static_cast<uint32_t>(us % 1'000'000));
}

} // namespace

bool isSupportedSpeed(int32_t baud) {
    for (int32_t s : SupportedSpeeds) {
        if (s == baud) {
            return true;
        }
    }
    return false;
}

bool isSupportedParity(int32_t parity) {
    return parity >= 0 && parity <= 2;
}

Timeouts timeoutsFor(int32_t baud, int requestBytes) {
    // Character time in microseconds, times two to keep the half character of
    // the 3.5-character frame gap exact in integers.
    const int64_t charUs = BitsPerChar * 1'000'000LL / baud;
    const int64_t frameUs = (2 * requestBytes + 7) * charUs / 2;
    return {std::chrono::microseconds(frameUs) + TurnaroundAllowance,
            std::chrono::microseconds(3 * charUs) + ByteLatencyAllowance};
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

void Link::close() {
    if (ctx_ != nullptr) {
        modbus_close(ctx_);
        modbus_free(ctx_);
        ctx_ = nullptr;
    }
    baud_ = 0;
}

int32_t Link::open(const std::string& device, int32_t baud, int32_t parity) {
    close();
    if (!isSupportedSpeed(baud) || !isSupportedParity(parity)) {
        return COMM_BAD_PARAMETER;
    }
    if (device.empty()) {
        return COMM_OPEN_FAILED;
    }
    static constexpr char ParityChar[] = {'N', 'O', 'E'};
    // No parity takes a second stop bit, so every character is 11 bits long.
    modbus_t* ctx =
        modbus_new_rtu(device.c_str(), baud, ParityChar[parity], 8, parity == 0 ? 2 : 1);
    if (ctx == nullptr) {
        return COMM_OPEN_FAILED;
    }
    if (modbus_connect(ctx) != 0) {
        modbus_free(ctx);
        return COMM_OPEN_FAILED;
    }
    // libmodbus may have put the line to 9600 instead of the speed asked for.
    if (!setAndCheckLine(modbus_get_socket(ctx), baud, parity)) {
        modbus_close(ctx);
        modbus_free(ctx);
        return COMM_OPEN_FAILED;
    }
    ctx_ = ctx;
    baud_ = baud;
    return COMM_OK;
}

int32_t Link::exchange(uint8_t address, uint8_t function, uint16_t first, uint16_t count,
                       uint16_t* data) {
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
        return COMM_NOT_OPEN;
    }
    if (modbus_set_slave(ctx_, address) != 0) {
        return COMM_BAD_PARAMETER;
    }
    const Timeouts t = timeoutsFor(baud_, requestBytes(function, count));
    setTimeout(ctx_, t.response, modbus_set_response_timeout);
    setTimeout(ctx_, t.byte, modbus_set_byte_timeout);
    // A late reply to an earlier request must not be taken for this one.
    modbus_flush(ctx_);

    errno = 0;
    const int rc = function == MODBUS_FC_READ_HOLDING_REGISTERS
                       ? modbus_read_registers(ctx_, first, count, data)
                       : modbus_write_registers(ctx_, first, count, data);
    if (rc == count) {
        return COMM_OK;
    }
    if (rc >= 0) {
        return COMM_BAD_REPLY;
    }
    return codeForModbusErrno(errno);
}

} // namespace comm
