#include "Link.h"

#include "Capture.h"
#include "Rtu.h"
#include "comm_mb.h"

#include <algorithm>
#include <cerrno>

namespace comm {

namespace {

using std::chrono::duration_cast;
using std::chrono::microseconds;

constexpr int32_t SupportedSpeeds[] = {1200, 2400, 4800, 9600, 19200, 28800, 38400, 57600, 115200};

constexpr uint8_t ReadFunction = 3;
constexpr uint8_t WriteFunction = 16;
constexpr microseconds ByteLatencyAllowance{20'000};
// The longest request and reply the tool makes: four registers written, and
// four read.
constexpr int LongestRequestBytes = 17;
constexpr int LongestReplyBytes = 13;
// A USB adapter holds received bytes up to its latency timer (16 ms on FTDI
// chips) in each direction.
constexpr microseconds AdapterLatency{32'000};

// Character time in microseconds, times two to keep the half character of the
// 3.5-character frame gap exact in integers.
int64_t twiceCharUs(int32_t baud) {
    return rtu::charsUs(2, baud);
}

microseconds frameTime(int32_t baud, int bytes) {
    return microseconds((2 * bytes + 7) * twiceCharUs(baud) / 4);
}

// Results that mean a reply to the request may still be on its way: nothing
// came in time, or what came was not its intact answer.
bool replyMayStillCome(int32_t code) {
    return code == COMM_NO_REPLY || code == COMM_BAD_CRC || code == COMM_BAD_REPLY ||
           code == COMM_WRONG_SLAVE;
}

} // namespace

bool isSupportedSpeed(int32_t baud) {
    return std::find(std::begin(SupportedSpeeds), std::end(SupportedSpeeds), baud) !=
           std::end(SupportedSpeeds);
}

bool isSupportedParity(int32_t parity) {
    return parity >= 0 && parity <= 2;
}

Timeouts timeoutsFor(int32_t baud, int requestBytes, microseconds allowance) {
    return {frameTime(baud, requestBytes) + allowance,
            microseconds(3 * rtu::charsUs(1, baud)) + ByteLatencyAllowance};
}

int requestBytes(uint8_t function, uint16_t count) {
    // Read: address, function, first (2), count (2), CRC (2).
    // Write: the same plus the byte count and two bytes per register.
    return function == WriteFunction ? 9 + 2 * count : 8;
}

Link::~Link() {
    close();
}

void Link::closePort() {
    line_.close();
}

void Link::close() {
    closePort();
    lost_ = false;
}

void Link::lose() {
    closePort();
    lost_ = true;
    forgetOwed();
}

void Link::forgetOwed() {
    owed_ = 0;
    lastRequest_.clear();
    failedAttempts_ = 0;
}

void Link::setNetworkTimes(microseconds allowance, std::chrono::milliseconds connect) {
    networkAllowance_ = std::clamp<microseconds>(allowance, microseconds(0), MaxNetworkAllowance);
    connectTimeout_ = std::clamp(connect, MinConnectTimeout, MaxConnectTimeout);
}

microseconds Link::networkExtra() const {
    return line_.isNetwork() ? networkAllowance_ : microseconds(0);
}

microseconds Link::replyAllowance() const {
    return allowance_ + networkExtra();
}

void Link::setResponseAllowance(microseconds allowance) {
    allowance_ = std::clamp<microseconds>(allowance, MinResponseAllowance, MaxResponseAllowance);
}

int32_t Link::open(const std::string& device, int32_t baud, int32_t parity) {
    close();
    openError_ = 0;
    if (!isSupportedSpeed(baud) || !isSupportedParity(parity)) {
        openError_ = EINVAL;
        return COMM_BAD_PARAMETER;
    }
    // Late replies still due belong to the line: they outlive a reopening of
    // the same device at other settings, but not a change of device.
    if (device != device_) {
        forgetOwed();
    }
    // Replies at the settings before are no answer to a retry at these.
    failedAttempts_ = 0;
    device_ = device;
    baud_ = baud;
    parity_ = parity;
    if (device.empty()) {
        openError_ = ENOENT;
        return COMM_OPEN_FAILED;
    }
    if (const int error = line_.open(device, baud, parity, connectTimeout_); error != 0) {
        openError_ = error;
        return COMM_OPEN_FAILED;
    }
    return COMM_OK;
}

int32_t Link::reopenIfLost() {
    // A gateway that closed the connection meanwhile is reconnected now,
    // rather than fail the request.
    if (line_.isOpen() && line_.peerClosed()) {
        lose();
    }
    if (!line_.isOpen()) {
        if (!lost_) {
            return COMM_NOT_OPEN;
        }
        // The device went away: one try to get it back under its old name.
        if (open(std::string(device_), baud_, parity_) != COMM_OK) {
            lost_ = true;
            return COMM_IO_ERROR;
        }
    }
    return COMM_OK;
}

microseconds Link::silenceSpan() const {
    // After the latest request, or the latest reply (once it is out the
    // module takes up the next request), the next reply owed starts within
    // the late-reply window, and then takes its own time.
    const microseconds late = std::max<microseconds>(LateReplyWindow, allowance_) + networkExtra();
    return frameTime(baud_, LongestRequestBytes) + late + frameTime(baud_, LongestReplyBytes) +
           timeoutsFor(baud_, LongestReplyBytes, allowance_).byte + AdapterLatency;
}

void Link::noteHeard(int32_t code, Clock::time_point deadline) {
    const auto now = Clock::now();
    if (code != COMM_NO_REPLY) {
        // A frame: whole, damaged or not the answer asked for, it is the reply
        // owed longest.
        owed_ = std::max(owed_ - 1, 0);
        lastHeard_ = now;
    } else if (now + std::chrono::milliseconds(1) < deadline) {
        lastHeard_ = now; // bytes that made no frame, then a pause
    }
}

void Link::settle() {
    if (!line_.isOpen()) {
        return;
    }
    uint8_t frame[rtu::MaxFrameBytes];
    const microseconds gap = timeoutsFor(baud_, 8, allowance_).byte;
    // Each reply may be followed by the next one owed, a silence span later
    // at most; a line that babbles on ends the wait after as many spans as a
    // retried exchange can owe.
    const auto giveUp = Clock::now() + std::clamp(owed_, 1, AttemptsPerExchange) * silenceSpan();
    Capture::instance().beginWait();
    while (owed_ > 0) {
        const auto now = Clock::now();
        const auto until = std::min(lastHeard_ + silenceSpan(), giveUp);
        if (now >= until) {
            break;
        }
        int length = 0;
        const Got got =
            readReply(line_, frame, length,
                      std::max(duration_cast<microseconds>(until - now), microseconds(1)), gap);
        int32_t code = COMM_OK;
        switch (got) {
        case Got::Frame:
            // Only a frame of the address asked last has its CRC looked at.
            if ((frame[0] == lastAddress_ || frame[0] == 0) &&
                !rtu::crcFits(frame, static_cast<std::size_t>(length))) {
                code = COMM_BAD_CRC;
            }
            break;
        case Got::Nothing:
        case Got::Cut:
            code = COMM_NO_REPLY;
            break;
        case Got::TooLong:
            code = COMM_BAD_REPLY;
            break;
        case Got::Failed:
            code = COMM_IO_ERROR;
            break;
        }
        Capture::instance().heardLate(code);
        if (code == COMM_IO_ERROR) {
            Capture::instance().endWait();
            lose();
            return;
        }
        noteHeard(code, until);
    }
    Capture::instance().endWait();
    owed_ = 0; // silence: the rest will not come
    line_.flush();
}

int32_t Link::ask(const uint8_t* request, int length, const Timeouts& t, uint16_t* data) {
    if (!line_.send(request, length)) {
        return COMM_IO_ERROR;
    }
    uint8_t frame[rtu::MaxFrameBytes];
    int got = 0;
    switch (readReply(line_, frame, got, t.response, t.byte)) {
    case Got::Frame:
        return judgeReply(request, frame, got, data);
    case Got::Nothing:
    case Got::Cut:
        return COMM_NO_REPLY;
    case Got::TooLong:
        return COMM_BAD_REPLY;
    case Got::Failed:
        break;
    }
    return COMM_IO_ERROR;
}

int32_t Link::exchange(uint8_t address, uint8_t function, uint16_t first, uint16_t count,
                       uint16_t* data, Guard guard) {
    if (function != ReadFunction && function != WriteFunction) {
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
    if (const int32_t rc = reopenIfLost(); rc != COMM_OK) {
        return rc;
    }

    std::vector<uint16_t> request = {address, function, first, count};
    if (function == WriteFunction) {
        request.insert(request.end(), data, data + count);
    }
    if (line_.kind() == Line::Kind::ModbusTcp) {
        // Each reply names its request (the transaction number): one owed to
        // an earlier request is never taken for this one's, so none is
        // waited for.
        owed_ = 0;
    }
    if (owed_ > 0 && Clock::now() >= lastHeard_ + silenceSpan()) {
        owed_ = 0; // the line has been silent: nothing owed will come
    }
    const bool retry =
        request == lastRequest_ && failedAttempts_ > 0 && failedAttempts_ < AttemptsPerExchange;
    if (owed_ > 0 && !retry && guard == Guard::Settle) {
        settle();
        if (!line_.isOpen()) {
            return COMM_IO_ERROR;
        }
    } else if (owed_ == 0 || !retry) {
        line_.flush(); // whatever stray bytes came in since
    }
    // A retry goes out at once: a late reply to an earlier attempt answers it
    // as well, so what has come of that reply is kept.
    lastRequest_ = std::move(request);
    lastAddress_ = address;

    uint8_t frame[9 + 2 * 4 + 2];
    int length = 0;
    for (const uint8_t b :
         {address, function, static_cast<uint8_t>(first >> 8), static_cast<uint8_t>(first & 0xFF),
          static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count & 0xFF)}) {
        frame[length++] = b;
    }
    if (function == WriteFunction) {
        frame[length++] = static_cast<uint8_t>(2 * count);
        for (int i = 0; i < count; ++i) {
            frame[length++] = static_cast<uint8_t>(data[i] >> 8);
            frame[length++] = static_cast<uint8_t>(data[i] & 0xFF);
        }
    }
    rtu::putCrc(frame, static_cast<std::size_t>(length));
    length += 2;

    Timeouts t = timeoutsFor(baud_, length, replyAllowance());
    t.byte += networkExtra() / 2; // a network hands a reply on in pieces
    Capture::instance().beginAttempt(retry ? failedAttempts_ + 1 : 1);
    const auto sent = Clock::now();
    ++owed_;
    lastHeard_ = sent;
    const int32_t code = ask(frame, length, t, data);
    Capture::instance().endAttempt(code);

    if (code == COMM_IO_ERROR) {
        lose();
        return code;
    }
    noteHeard(code, sent + t.response);
    failedAttempts_ = replyMayStillCome(code) ? (retry ? failedAttempts_ + 1 : 1) : 0;
    return code;
}

} // namespace comm
