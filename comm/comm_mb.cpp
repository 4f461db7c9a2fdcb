// The library's exported entry points. Nothing thrown inside may cross into
// the caller, which is not C++.
#include "comm_mb.h"

#include "Library.h"
#include "PortName.h"

namespace {

comm::Library& library() {
    static comm::Library instance(comm::defaultIniFile());
    return instance;
}

template <typename F> int32_t guarded(F&& f) {
    try {
        return f();
    } catch (...) {
        return COMM_IO_ERROR;
    }
}

} // namespace

extern "C" {

COMM_MB_API int32_t init_comm(const char* port, int32_t baud, uint8_t parity) {
    return guarded([&] { return library().initComm(port, baud, parity); });
}

COMM_MB_API int32_t invoke_modb(uint8_t address, uint8_t function, uint16_t first, uint16_t count,
                                uint16_t* data) {
    return guarded([&] { return library().invoke(address, function, first, count, data); });
}

COMM_MB_API int32_t EnumParameters(const char* port, int32_t type_code, uint16_t serial,
                                   int32_t address, int32_t* baud, uint8_t* parity) {
    return guarded(
        [&] { return library().enumParameters(port, type_code, serial, address, baud, parity); });
}

COMM_MB_API int32_t read_frames(uint64_t after, comm_frame* frames, int32_t capacity,
                                int32_t frame_size, int32_t* count, uint64_t* lost) {
    return guarded([&] {
        return comm::Library::readFrames(after, frames, capacity, frame_size, count, lost);
    });
}

COMM_MB_API int32_t scan_read(uint8_t address, uint16_t first, uint16_t count, uint16_t* data,
                              uint8_t patient, uint8_t* other) {
    return guarded([&] { return library().scanRead(address, first, count, data, patient, other); });
}

COMM_MB_API int32_t listen_start(const char* port, int32_t baud, uint8_t parity) {
    return guarded([&] { return library().listenStart(port, baud, parity); });
}

COMM_MB_API int32_t listen_read(comm_heard* frames, int32_t capacity, int32_t frame_size,
                                int32_t wait_ms, int32_t* count, uint64_t* lost) {
    return guarded(
        [&] { return library().listenRead(frames, capacity, frame_size, wait_ms, count, lost); });
}

COMM_MB_API int32_t listen_stop(void) {
    return guarded([&] { return library().listenStop(); });
}

} // extern "C"
