// The state behind the three entry points: the one open link, guarded so that
// calls from several threads take turns.
#pragma once

#include "Link.h"
#include "Listen.h"
#include "comm_mb.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <utility>

namespace comm {

class Library {
  public:
    // `iniFile`: the library's settings file (port names, response time-out).
    explicit Library(std::filesystem::path iniFile) : iniFile_(std::move(iniFile)) {}

    // init_comm: always closes the link opened before, then opens the new one.
    // A failed call leaves no link open; errno then tells why the port did not
    // open (see claimPort).
    int32_t initComm(const char* port, int32_t baud, uint8_t parity);

    // invoke_modb.
    int32_t invoke(uint8_t address, uint8_t function, uint16_t first, uint16_t count,
                   uint16_t* data);

    // EnumParameters: checks its arguments (COMM_BAD_BUFFER for missing
    // outputs, COMM_BAD_PARAMETER for an address outside 1..247 or a type code
    // outside 0..65535, COMM_OPEN_FAILED for a name that is no port) without
    // touching the link; then closes the link, since the search needs the port
    // for itself, and searches. Afterwards no link is open until the next
    // init_comm.
    int32_t enumParameters(const char* port, int32_t typeCode, uint16_t serial, int32_t address,
                           int32_t* baud, uint8_t* parity);

    // read_frames: the frames on the line (Capture.h).
    static int32_t readFrames(uint64_t after, comm_frame* frames, int32_t capacity,
                              int32_t frameSize, int32_t* count, uint64_t* lost);
    // scan_read: Link::probe on the open link (Scan.cpp).
    int32_t scanRead(uint8_t address, uint16_t first, uint16_t count, uint16_t* data,
                     uint8_t patient, uint8_t* other);

    // listen_start: closes the link first when it is on the same device.
    int32_t listenStart(const char* port, int32_t baud, uint8_t parity);
    // listen_read: never under the link's lock, so that it waits for no
    // exchange.
    int32_t listenRead(comm_heard* frames, int32_t capacity, int32_t frameSize, int32_t waitMs,
                       int32_t* count, uint64_t* lost);
    int32_t listenStop();

  private:
    // [Link] ResponseTimeout of the settings file, read anew at every open.
    std::chrono::milliseconds responseAllowance() const;
    // That and [Link] NetworkAllowance and ConnectTimeout, onto the link.
    void applySettings();

    std::mutex mutex_;
    std::filesystem::path iniFile_;
    Link link_;
    std::mutex listenMutex_; // of starting and stopping
    Listener listener_;
};

} // namespace comm
