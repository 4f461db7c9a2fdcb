#include "Library.h"

#include "PortName.h"
#include "Search.h"
#include "comm_mb.h"

namespace comm {

int32_t Library::initComm(const char* port, int32_t baud, uint8_t parity) {
    std::lock_guard lock(mutex_);
    link_.close();
    if (!isSupportedParity(parity) || !isSupportedSpeed(baud)) {
        return COMM_BAD_PARAMETER;
    }
    const auto device = resolvePort(port != nullptr ? port : "", iniFile_);
    if (!device) {
        return COMM_OPEN_FAILED;
    }
    return link_.open(*device, baud, parity);
}

int32_t Library::invoke(uint8_t address, uint8_t function, uint16_t first, uint16_t count,
                        uint16_t* data) {
    std::lock_guard lock(mutex_);
    return link_.exchange(address, function, first, count, data);
}

int32_t Library::enumParameters(const char* port, int32_t typeCode, uint16_t serial,
                                int32_t address, int32_t* baud, uint8_t* parity) {
    std::lock_guard lock(mutex_);
    if (baud == nullptr || parity == nullptr) {
        return COMM_BAD_BUFFER;
    }
    if (address < 1 || address > 247 || typeCode < 0 || typeCode > 0xFFFF) {
        return COMM_BAD_PARAMETER;
    }
    const auto device = resolvePort(port != nullptr ? port : "", iniFile_);
    if (!device) {
        return COMM_OPEN_FAILED;
    }
    link_.close();
    return searchModule(*device, static_cast<uint16_t>(typeCode), serial,
                        static_cast<uint8_t>(address), baud, parity);
}

} // namespace comm
