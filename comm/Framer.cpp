#include "Framer.h"

#include "comm_mb.h"

namespace comm {

namespace {

constexpr uint8_t ReadFunction = 3;
constexpr uint8_t WriteFunction = 16;
constexpr uint8_t ExceptionFlag = 0x80;
constexpr uint8_t HighestException = 11;

uint16_t wordAt(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

} // namespace

Got readReply(ByteSource& source, uint8_t* frame, int& length, std::chrono::microseconds first,
              std::chrono::microseconds gap) {
    length = 0;
    int wanted = rtu::replyLength(frame, 0);
    while (length < wanted) {
        const int n = source.read(frame + length, wanted - length, length == 0 ? first : gap);
        if (n < 0)
            return Got::Failed;
        if (n == 0)
            return length == 0 ? Got::Nothing : Got::Cut;
        length += n;
        wanted = rtu::replyLength(frame, length);
        if (wanted > rtu::MaxFrameBytes)
            return Got::TooLong;
    }
    return Got::Frame;
}

int32_t judgeReply(const uint8_t* request, const uint8_t* frame, int length, uint16_t* data) {
    const uint8_t address = request[0];
    const uint8_t function = request[1];
    const uint16_t count = wordAt(request + 4);
    // Another slave's frame is no answer, whatever its CRC.
    if (frame[0] != address && frame[0] != 0)
        return COMM_WRONG_SLAVE;
    if (!rtu::crcFits(frame, static_cast<std::size_t>(length)))
        return COMM_BAD_CRC;
    if (frame[0] != address)
        return COMM_WRONG_SLAVE;
    if (frame[1] & ExceptionFlag) {
        const uint8_t code = frame[2];
        if (length == 5 && frame[1] == (function | ExceptionFlag) && code >= 1 &&
            code <= HighestException)
            return code;
        return COMM_BAD_REPLY;
    }
    if (frame[1] != function)
        return COMM_BAD_REPLY;
    if (function == ReadFunction) {
        if (length != 5 + 2 * count || frame[2] != 2 * count)
            return COMM_BAD_REPLY;
        for (int i = 0; i < count; ++i)
            data[i] = wordAt(frame + 3 + 2 * i);
        return COMM_OK;
    }
    if (function == WriteFunction && length == 8 && wordAt(frame + 4) == count)
        return COMM_OK;
    return COMM_BAD_REPLY;
}

} // namespace comm
