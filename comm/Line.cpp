#include "Line.h"

#include "Capture.h"
#include "PortName.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace comm {

namespace {

// The capture of a build made without it (a benchmark's reference) sees
// nothing.
#if defined(COMM_MB_NO_CAPTURE)
constexpr bool Recorded = false;
#else
constexpr bool Recorded = true;
#endif

using Clock = std::chrono::steady_clock;
using std::chrono::duration_cast;
using std::chrono::microseconds;

// The rest of an MBAP frame once its first bytes are in: a gateway sends a
// frame in one go, so this is the network's own delay, not the module's.
constexpr microseconds MbapPieceWait{200'000};

uint16_t wordAt(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

} // namespace

bool pduLengthFits(const uint8_t* pdu, int length) {
    if (length < 2)
        return false;
    if (pdu[0] & 0x80)
        return length == 2;
    if (pdu[0] == 3)
        return length == 2 + pdu[1];
    if (pdu[0] == 16)
        return length == 5;
    return true;
}

int Line::open(const std::string& device, int32_t baud, int32_t parity,
               std::chrono::milliseconds connectTimeout) {
    close();
    NetAddress net;
    int error = 0;
    switch (parseNetName(device, &net)) {
    case NetName::NotNetwork:
        kind_ = Kind::Serial;
        error = port_.open(device, baud, parity);
        break;
    case NetName::Bad:
        return EINVAL;
    case NetName::Good:
        kind_ = net.kind == NetKind::RtuTcp ? Kind::RtuTcp : Kind::ModbusTcp;
        error = socket_.open(net.host, net.port, connectTimeout);
        break;
    }
    if (error == 0 && Recorded)
        Capture::instance().setLine(baud, parity, kind_ == Kind::ModbusTcp);
    return error;
}

void Line::close() {
    port_.close();
    socket_.close();
    ready_.clear();
    readyAt_ = 0;
}

bool Line::isOpen() const {
    return kind_ == Kind::Serial ? port_.isOpen() : socket_.isOpen();
}

bool Line::peerClosed() {
    return isNetwork() && socket_.isOpen() && socket_.peerClosed();
}

bool Line::send(const uint8_t* bytes, int length) {
    const uint8_t* out = bytes;
    int outLength = length;
    uint8_t adu[MbapHeaderBytes + rtu::MaxFrameBytes];
    if (kind_ == Kind::ModbusTcp) {
        // Unit and PDU, without the CRC.
        const int body = std::max(length - 2, 0);
        ++transaction_;
        unit_ = length > 0 ? bytes[0] : 0;
        adu[0] = static_cast<uint8_t>(transaction_ >> 8);
        adu[1] = static_cast<uint8_t>(transaction_ & 0xFF);
        adu[2] = 0;
        adu[3] = 0;
        adu[4] = static_cast<uint8_t>(body >> 8);
        adu[5] = static_cast<uint8_t>(body & 0xFF);
        std::memcpy(adu + 6, bytes, static_cast<std::size_t>(body));
        out = adu;
        outLength = 6 + body;
        // A reply to an earlier request is no answer to this one.
        ready_.clear();
        readyAt_ = 0;
    }
    const auto start = Capture::Clock::now();
    const bool taken =
        kind_ == Kind::Serial ? port_.write(out, outLength) : socket_.write(out, outLength);
    if (Recorded)
        Capture::instance().sent(out, outLength, taken, start, Capture::Clock::now());
    return taken;
}

int Line::readRaw(uint8_t* bytes, int max, microseconds timeout) {
    return kind_ == Kind::Serial ? port_.read(bytes, max, timeout)
                                 : socket_.read(bytes, max, timeout);
}

int Line::drain() {
    uint8_t rest[512];
    int n = 0;
    while ((n = socket_.read(rest, sizeof rest, microseconds(0))) > 0) {
    }
    return n;
}

int Line::readMbap(microseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        uint8_t adu[MbapHeaderBytes + 255];
        int have = 0;
        int wanted = MbapHeaderBytes;
        bool lost = false; // a header no frame has
        while (have < wanted && !lost) {
            const microseconds wait =
                have == 0 ? std::max(duration_cast<microseconds>(deadline - Clock::now()),
                                     microseconds(0))
                          : MbapPieceWait;
            const int n = socket_.read(adu + have, wanted - have, wait);
            if (n < 0) {
                if (have > 0 && Recorded)
                    Capture::instance().received(adu, have);
                return -1;
            }
            if (n == 0) {
                if (have > 0 && Recorded)
                    Capture::instance().discarded(adu, have, COMM_NO_REPLY);
                return 0;
            }
            have += n;
            if (have >= MbapHeaderBytes && wanted == MbapHeaderBytes) {
                const int length = wordAt(adu + 4);
                lost = length < 2 || length > 254;
                wanted = 6 + length;
            }
        }
        const int pduLength = wordAt(adu + 4) - 1;
        if (lost || !pduLengthFits(adu + 7, pduLength)) {
            // What the length left out may follow, and after a header no
            // frame has nothing there can be told apart: all of it goes.
            if (Recorded)
                Capture::instance().discarded(adu, have, COMM_BAD_REPLY);
            if (drain() < 0)
                return -1;
            continue; // wait on
        }
        if (wordAt(adu) != transaction_ || wordAt(adu + 2) != 0) {
            if (Recorded)
                Capture::instance().discarded(adu, have, COMM_WRONG_SLAVE);
            continue;
        }
        if (Recorded)
            Capture::instance().received(adu, have);
        ready_.assign(adu + 6, adu + have);
        ready_.resize(ready_.size() + 2);
        rtu::putCrc(ready_.data(), ready_.size() - 2);
        readyAt_ = 0;
        return static_cast<int>(ready_.size());
    }
}

int Line::read(uint8_t* bytes, int max, microseconds timeout) {
    if (kind_ == Kind::ModbusTcp) {
        if (readyAt_ >= ready_.size()) {
            const int n = readMbap(timeout);
            if (n <= 0)
                return n;
        }
        const int n = std::min<int>(max, static_cast<int>(ready_.size() - readyAt_));
        std::memcpy(bytes, ready_.data() + readyAt_, static_cast<std::size_t>(n));
        readyAt_ += static_cast<std::size_t>(n);
        return n;
    }
    const int n = readRaw(bytes, max, timeout);
    if (n > 0 && Recorded)
        Capture::instance().received(bytes, n);
    return n;
}

void Line::flush() {
    if (!isOpen())
        return;
    ready_.clear();
    readyAt_ = 0;
    if (kind_ == Kind::ModbusTcp) {
        // Bytes read now might end in the middle of a frame and leave the
        // stream at no header: what waits is read frame by frame with the
        // next reply, and a frame of an earlier transaction thrown away then.
        if (Recorded)
            Capture::instance().flushed();
        return;
    }
    uint8_t bytes[rtu::MaxFrameBytes];
    bool any = false;
    // A babbling line ends the drain after a few frames' worth.
    for (int i = 0; i < 64; ++i) {
        const int n = readRaw(bytes, sizeof bytes, std::chrono::microseconds(0));
        if (n <= 0)
            break;
        if (Recorded)
            Capture::instance().received(bytes, n);
        any = true;
    }
    if (Recorded)
        Capture::instance().flushed();
    if (kind_ != Kind::Serial)
        return; // a connection holds nothing back beyond what was read
#if defined(_WIN32)
    any = true; // the driver may hold bytes back that a read does not see yet
#endif
    // On a quiet line nothing waits: no further call.
    if (any)
        port_.discard();
}

} // namespace comm
