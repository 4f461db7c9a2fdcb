// The CRC of a Modbus RTU frame (the library's own rule, comm/rtu/Rtu.h), for
// what the simulator builds and checks by itself (libmodbus does it for every
// good frame it sends on its own line).
#pragma once

#include "Rtu.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

inline uint16_t Crc16(const uint8_t* data, std::size_t length) {
    return rtu::crc16(data, length);
}

// Whether the last two bytes of `frame` are the CRC of the rest (low byte first).
inline bool CrcFits(const uint8_t* frame, std::size_t length) {
    return rtu::crcFits(frame, length);
}

// The frame on the line: `pdu` and its CRC, low byte first; a spoilt CRC has
// its high byte inverted.
inline std::vector<uint8_t> WithCrc(std::vector<uint8_t> pdu, bool spoil = false) {
    const uint16_t crc = Crc16(pdu.data(), pdu.size());
    pdu.push_back(static_cast<uint8_t>(crc & 0xFF));
    pdu.push_back(static_cast<uint8_t>((crc >> 8) ^ (spoil ? 0xFF : 0)));
    return pdu;
}

} // namespace sim
