// The rules of a Modbus RTU frame that the library, the tool's frame meanings
// and the simulated modules share: the CRC, how long a character is on the
// line, and how long a reply is from its first bytes. A header alone that
// needs nothing, so that module/ and sim/ can take it without the rest of the
// library.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rtu {

// The longest RTU frame: address, 253 bytes of PDU, CRC.
constexpr int MaxFrameBytes = 256;

// Every character is 11 bits on the line whatever the parity: start, 8 data
// bits, parity or a second stop bit, stop.
constexpr int BitsPerChar = 11;

// Microseconds `chars` characters take on the line at `baud` bit/s.
constexpr int64_t charsUs(int64_t chars, int32_t baud) {
    return baud > 0 ? chars * BitsPerChar * 1'000'000 / baud : 0;
}

// CRC-16/MODBUS (polynomial 0x8005 reflected, initial value 0xFFFF), sent low
// byte first.
constexpr uint16_t crc16(const uint8_t* data, std::size_t length) {
    uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

// Whether the last two bytes of a frame of `length` bytes are the CRC of the
// bytes before them (one at least).
constexpr bool crcFits(const uint8_t* frame, std::size_t length) {
    if (length < 3)
        return false;
    const uint16_t crc = crc16(frame, length - 2);
    return frame[length - 2] == (crc & 0xFF) && frame[length - 1] == (crc >> 8);
}

// Writes the CRC of the first `length` bytes behind them (two more bytes).
constexpr void putCrc(uint8_t* frame, std::size_t length) {
    const uint16_t crc = crc16(frame, length);
    frame[length] = static_cast<uint8_t>(crc & 0xFF);
    frame[length + 1] = static_cast<uint8_t>(crc >> 8);
}

// How long a reply (a slave's answer to a master) is in all, as far as its
// first `have` bytes tell: the function code (second byte) says whether the
// length is fixed or follows from a byte count (third byte). Until those
// bytes have come the answer is the length that reaches them, so reading
// until the answer stops growing reads the whole frame and nothing of the
// next. Exceptions and functions the rule does not know are 5 bytes long
// (address, function, one byte, CRC). A result above MaxFrameBytes is a
// byte count no frame can carry.
constexpr int replyLength(const uint8_t* frame, int have) {
    if (have < 2)
        return 2;
    const uint8_t function = frame[1];
    switch (function) {
    case 5:  // write single coil
    case 6:  // write single register
    case 15: // write multiple coils
    case 16: // write multiple registers
        return 8;
    case 22: // mask write register
        return 10;
    default:
        break;
    }
    const bool counted = function <= 4 || function == 17 || function == 23;
    if (!counted)
        return 5;
    return have < 3 ? 3 : 5 + frame[2];
}

// The length of a whole request from its first `have` bytes, for the
// functions whose request length the frame tells (1 to 6 fixed, 15 and 16
// from the byte count in the seventh byte): 0 while the bytes that tell it
// have not come, -1 for any other function (exceptions included), whose end
// only the line's silence shows.
constexpr int requestLength(const uint8_t* frame, int have) {
    if (have < 2)
        return 0;
    switch (frame[1]) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
        return 8;
    case 15:
    case 16:
        return have < 7 ? 0 : 9 + frame[6];
    default:
        return -1;
    }
}

} // namespace rtu
