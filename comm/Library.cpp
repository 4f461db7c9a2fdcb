#include "Library.h"

#include "Capture.h"
#include "PortName.h"
#include "Search.h"
#include "comm_mb.h"

#include <cerrno>

namespace comm {

std::chrono::milliseconds Library::responseAllowance() const {
    // Read as the tool reads its own settings file: 0x3E8 and +1000 are 1000.
    const auto ms = readIniInteger(iniFile_, "Link", "ResponseTimeout");
    if (!ms || *ms < MinResponseAllowance.count() || *ms > MaxResponseAllowance.count()) {
        return DefaultResponseAllowance; // a typo must not leave the tool deaf or frozen
    }
    return std::chrono::milliseconds(*ms);
}

void Library::applySettings() {
    // A number outside the bounds means the default, as for ResponseTimeout.
    const auto net = readIniInteger(iniFile_, "Link", "NetworkAllowance");
    const auto connect = readIniInteger(iniFile_, "Link", "ConnectTimeout");
    link_.setResponseAllowance(responseAllowance());
    link_.setNetworkTimes(
        net && *net >= 0 && *net <= MaxNetworkAllowance.count() ? std::chrono::milliseconds(*net)
                                                                : DefaultNetworkAllowance,
        connect && *connect >= MinConnectTimeout.count() && *connect <= MaxConnectTimeout.count()
            ? std::chrono::milliseconds(*connect)
            : DefaultConnectTimeout);
}

namespace {

// errno for a name that is no port: a network port spelt wrong is told apart.
int noPortError(const char* port) {
    return port != nullptr && parseNetName(port, nullptr) == NetName::Bad ? EINVAL : ENOENT;
}

} // namespace

int32_t Library::initComm(const char* port, int32_t baud, uint8_t parity) {
    std::lock_guard lock(mutex_);
    link_.close();
    if (!isSupportedParity(parity) || !isSupportedSpeed(baud)) {
        errno = EINVAL;
        return COMM_BAD_PARAMETER;
    }
    const auto device = resolvePort(port != nullptr ? port : "", iniFile_);
    if (!device) {
        errno = noPortError(port);
        return COMM_OPEN_FAILED;
    }
    applySettings();
    const int32_t rc = link_.open(*device, baud, parity);
    errno = rc == COMM_OK ? 0 : link_.openError();
    return rc;
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
        errno = noPortError(port);
        return COMM_OPEN_FAILED;
    }
    link_.close();
    applySettings();
    Capture::instance().setSearch(true);
    const int32_t rc = searchModule(link_, *device, static_cast<uint16_t>(typeCode), serial,
                                    static_cast<uint8_t>(address), baud, parity);
    Capture::instance().setSearch(false);
    const int error = link_.openError();
    link_.close();
    errno = rc == COMM_OPEN_FAILED ? error : 0;
    return rc;
}

int32_t Library::readFrames(uint64_t after, comm_frame* frames, int32_t capacity, int32_t frameSize,
                            int32_t* count, uint64_t* lost) {
    // Not under the link's lock: the ring has its own, and a reader never
    // waits for an exchange.
    if (count == nullptr || capacity < 0 || (frames == nullptr && capacity > 0) ||
        frameSize != static_cast<int32_t>(sizeof(comm_frame)))
        return COMM_BAD_BUFFER;
    *count = 0;
    if (!Capture::supported())
        return COMM_NO_CAPTURE;
    return Capture::instance().read(after, frames, capacity, count, lost);
}

int32_t Library::listenStart(const char* port, int32_t baud, uint8_t parity) {
    std::lock_guard listening(listenMutex_);
    listener_.stop();
    if (baud <= 0 || parity > 2) {
        errno = EINVAL;
        return COMM_BAD_PARAMETER;
    }
    const auto device = resolvePort(port != nullptr ? port : "", iniFile_);
    if (!device) {
        errno = noPortError(port);
        return COMM_OPEN_FAILED;
    }
    {
        std::lock_guard lock(mutex_);
        if (link_.device() == *device)
            link_.close();
    }
    const int32_t rc = listener_.start(*device, baud, parity);
    errno = listener_.openError();
    return rc;
}

int32_t Library::listenRead(comm_heard* frames, int32_t capacity, int32_t frameSize, int32_t waitMs,
                            int32_t* count, uint64_t* lost) {
    if (count == nullptr || capacity < 0 || (frames == nullptr && capacity > 0) ||
        frameSize != static_cast<int32_t>(sizeof(comm_heard)) || waitMs < 0 || waitMs > 1000)
        return COMM_BAD_BUFFER;
    return listener_.read(frames, capacity, waitMs, count, lost);
}

int32_t Library::listenStop() {
    std::lock_guard listening(listenMutex_);
    listener_.stop();
    return COMM_OK;
}

} // namespace comm
