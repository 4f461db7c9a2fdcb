// A reply read off the line as one RTU frame, and what it says as the answer
// to a request.
#pragma once

#include "Rtu.h"

#include <chrono>
#include <cstdint>

namespace comm {

// Where a reply's bytes come from: the line, or a script in the tests.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // Waits up to `timeout` for bytes: how many came (> 0, `max` at most), 0
    // for none in time, -1 when the port failed.
    virtual int read(uint8_t* bytes, int max, std::chrono::microseconds timeout) = 0;
};

enum class Got {
    Frame,   // as many bytes as the frame's first bytes call for
    Nothing, // no byte within the first wait
    Cut,     // bytes, then a pause longer than the gap before the frame was whole
    TooLong, // a byte count no frame can carry (the rest is left unread)
    Failed,  // the port failed
};

// Reads one reply into `frame` (rtu::MaxFrameBytes long), `length` bytes of
// it: the first byte within `first`, each further piece within `gap` of the
// one before. Exactly the frame is read (rtu::replyLength), so whatever
// follows it stays at the port: the next frame, or stray bytes.
Got readReply(ByteSource& source, uint8_t* frame, int& length, std::chrono::microseconds first,
              std::chrono::microseconds gap);

// What a whole frame of `length` bytes says as the reply to `request` (a
// read of function 3 or a write of function 16, CRC included), in the order
// the checks are made: COMM_WRONG_SLAVE for another slave's address (a
// broadcast address only with a right CRC), COMM_BAD_CRC, the exception code
// (1..11) for an exception to this function, COMM_BAD_REPLY for any other
// function, length, byte count or register count; else COMM_OK, with a
// read's registers in `data`.
int32_t judgeReply(const uint8_t* request, const uint8_t* frame, int length, uint16_t* data);

} // namespace comm
