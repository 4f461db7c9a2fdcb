#include "Capture.h"

#include <algorithm>
#include <cstring>
#include <modbus.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <poll.h>
#include <sys/select.h>
#include <sys/time.h>
#include <unistd.h>
#endif

namespace comm {

namespace {

using std::chrono::duration_cast;
using std::chrono::microseconds;

int64_t us(Capture::Clock::time_point t) {
    return duration_cast<microseconds>(t.time_since_epoch()).count();
}

int64_t wallUs() {
    return duration_cast<microseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

constexpr int BitsPerChar = 11;

#if !defined(COMM_MB_NO_CAPTURE) && LIBMODBUS_VERSION_MAJOR == 3 &&                                \
    LIBMODBUS_VERSION_MINOR == 1 && LIBMODBUS_VERSION_MICRO == 6
#define COMM_CAN_TAP 1

// libmodbus 3.1.6 keeps its port functions in a table that each context
// points to (struct _modbus_backend and struct _modbus of its
// modbus-private.h). These are that layout; supported() checks them on a
// real context before anything relies on them.
struct Backend {
    unsigned int backend_type;
    unsigned int header_length;
    unsigned int checksum_length;
    unsigned int max_adu_length;
    int (*set_slave)(modbus_t*, int);
    int (*build_request_basis)(modbus_t*, int, int, int, uint8_t*);
    int (*build_response_basis)(void*, uint8_t*);
    int (*prepare_response_tid)(const uint8_t*, int*);
    int (*send_msg_pre)(uint8_t*, int);
    ssize_t (*send)(modbus_t*, const uint8_t*, int);
    int (*receive)(modbus_t*, uint8_t*);
    ssize_t (*recv)(modbus_t*, uint8_t*, int);
    int (*check_integrity)(modbus_t*, uint8_t*, const int);
    int (*pre_check_confirmation)(modbus_t*, const uint8_t*, const uint8_t*, int);
    int (*connect)(modbus_t*);
    void (*close)(modbus_t*);
    int (*flush)(modbus_t*);
    int (*select)(modbus_t*, fd_set*, struct timeval*, int);
    void (*free)(modbus_t*);
};

struct Context {
    int slave;
    int s;
    int debug;
    int error_recovery;
    struct timeval response_timeout;
    struct timeval byte_timeout;
    struct timeval indication_timeout;
    const Backend* backend;
    void* backend_data;
};

#if defined(_WIN32)
// The head of the RTU backend's own data (struct _modbus_rtu): the port's
// handle is the first member of its struct win32_ser.
struct RtuData {
    char* device;
    int baud;
    uint8_t data_bit;
    uint8_t stop_bit;
    char parity;
    HANDLE handle;
};
#endif

Context* insides(modbus_t* ctx) {
    return reinterpret_cast<Context*>(ctx);
}

const Backend* original = nullptr; // libmodbus's own table
Backend tapped;                    // the same with the tap's three functions

ssize_t tapSend(modbus_t* ctx, const uint8_t* req, int length) {
    const auto start = Capture::Clock::now();
    const ssize_t n = original->send(ctx, req, length);
    Capture::instance().sent(req, length, n == length, start, Capture::Clock::now());
    return n;
}

ssize_t tapRecv(modbus_t* ctx, uint8_t* rsp, int length) {
    const ssize_t n = original->recv(ctx, rsp, length);
    if (n > 0)
        Capture::instance().received(rsp, static_cast<int>(n));
    return n;
}

// Reads what waits at the port without waiting, so that a flush throws away
// nothing unseen. Returns false when nothing waited.
bool drain(modbus_t* ctx) {
    uint8_t bytes[COMM_FRAME_BYTES];
#if defined(_WIN32)
    const HANDLE h = static_cast<RtuData*>(insides(ctx)->backend_data)->handle;
    if (h == INVALID_HANDLE_VALUE || GetFileType(h) != FILE_TYPE_CHAR)
        return true;
    COMMTIMEOUTS saved{};
    if (!GetCommTimeouts(h, &saved))
        return true;
    COMMTIMEOUTS now{MAXDWORD, 0, 0, saved.WriteTotalTimeoutMultiplier,
                     saved.WriteTotalTimeoutConstant};
    SetCommTimeouts(h, &now); // return at once with what is there
    for (int i = 0; i < 64; ++i) {
        DWORD errors = 0;
        COMSTAT stat{};
        DWORD n = 0;
        if (!ClearCommError(h, &errors, &stat) || stat.cbInQue == 0 ||
            !ReadFile(h, bytes, std::min<DWORD>(stat.cbInQue, sizeof bytes), &n, nullptr) || n == 0)
            break;
        Capture::instance().received(bytes, static_cast<int>(n));
    }
    SetCommTimeouts(h, &saved);
    return true; // the port's own flush also clears what the driver holds back
#else
    const int fd = insides(ctx)->s;
    bool any = false;
    // A babbling line ends the drain after a few frames' worth.
    for (int i = 0; i < 64 && fd >= 0; ++i) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN))
            break;
        const ssize_t n = ::read(fd, bytes, sizeof bytes);
        if (n <= 0)
            break;
        Capture::instance().received(bytes, static_cast<int>(n));
        any = true;
    }
    return any || fd < 0;
#endif
}

int tapFlush(modbus_t* ctx) {
    // The port's own flush only when bytes waited: what it would throw away
    // has just been read, and a request goes out only after the one before
    // has left the port, so no output waits either. One system call, as
    // before, on a quiet line.
    const bool flush = drain(ctx);
    Capture::instance().flushed();
    return flush ? original->flush(ctx) : 0;
}

// Whether `ctx`, fresh from modbus_new_rtu, is laid out as above.
bool laidOutAsKnown(modbus_t* ctx) {
    const Context* c = insides(ctx);
    if (c->slave != -1 || c->s != -1 || c->debug != 0 || c->error_recovery != 0 ||
        c->backend == nullptr || c->backend_data == nullptr)
        return false;
    const Backend* b = c->backend;
    if (b != original && b != &tapped &&
        (b->backend_type != 0 || b->header_length != 1 || b->checksum_length != 2 ||
         b->max_adu_length != MODBUS_RTU_MAX_ADU_LENGTH || b->send == nullptr ||
         b->recv == nullptr || b->flush == nullptr || b->free == nullptr))
        return false;
    // Fields written through the public calls must show where expected.
    if (modbus_set_slave(ctx, 123) != 0 || c->slave != 123 ||
        modbus_set_response_timeout(ctx, 0, 123457) != 0 || c->response_timeout.tv_usec != 123457 ||
        modbus_set_byte_timeout(ctx, 0, 54321) != 0 || c->byte_timeout.tv_usec != 54321)
        return false;
    return true;
}

#endif

} // namespace

Capture& Capture::instance() {
    static Capture capture;
    return capture;
}

Capture::Capture() : ring_(COMM_FRAME_RING) {}

bool Capture::supported() {
#ifdef COMM_CAN_TAP
    static const bool known = [] {
        modbus_t* probe = modbus_new_rtu("probe", 19200, 'E', 8, 1);
        if (probe == nullptr)
            return false;
        const bool ok = laidOutAsKnown(probe);
        if (ok) {
            original = insides(probe)->backend;
            tapped = *original;
            tapped.send = tapSend;
            tapped.recv = tapRecv;
            tapped.flush = tapFlush;
        }
        modbus_free(probe);
        return ok;
    }();
    return known;
#else
    return false;
#endif
}

bool Capture::tap(_modbus* ctx) {
#ifdef COMM_CAN_TAP
    if (ctx == nullptr || !supported() || insides(ctx)->backend != original)
        return false;
    // The checks set the slave and the time-outs; the link sets its own
    // before every exchange.
    if (!laidOutAsKnown(ctx))
        return false;
    insides(ctx)->slave = -1;
    insides(ctx)->backend = &tapped;
    return true;
#else
    (void)ctx;
    return false;
#endif
}

comm_frame Capture::blank(uint8_t kind, Clock::time_point start) const {
    comm_frame f{};
    f.kind = kind;
    f.time_us = us(start);
    f.end_us = f.time_us;
    f.wall_us = wallUs() - (us(Clock::now()) - f.time_us);
    f.reply_us = -1;
    f.baud = baud_;
    f.parity = parity_;
    f.flags = flags_;
    f.exchange = exchange_;
    f.attempt = attempt_;
    return f;
}

void Capture::record(comm_frame& f) {
    f.number = next_++;
    ring_[(f.number - 1) % ring_.size()] = f;
}

void Capture::closePending(uint8_t kind, int32_t code) {
    if (!pendingOpen_)
        return;
    pendingOpen_ = false;
    pending_.kind = kind;
    pending_.code = code;
    // A late reply answers some earlier request, not the latest one.
    if (kind == COMM_FRAME_REPLY)
        pending_.reply_us = std::max<int64_t>(0, pending_.time_us - us(requestEnd_));
    if (kind != COMM_FRAME_REPLY) {
        // Not the answer of the attempt under way.
        pending_.exchange = 0;
        pending_.attempt = 0;
    }
    record(pending_);
}

void Capture::setLine(int32_t baud, int32_t parity) {
    std::lock_guard lock(mutex_);
    baud_ = baud;
    parity_ = static_cast<uint8_t>(parity);
}

void Capture::setSearch(bool on) {
    std::lock_guard lock(mutex_);
    flags_ = on ? COMM_FRAME_SEARCH : 0;
}

void Capture::beginAttempt(int attempt) {
    std::lock_guard lock(mutex_);
    closePending(COMM_FRAME_STRAY, COMM_OK);
    if (attempt <= 1 || exchange_ == 0)
        exchange_ = ++exchanges_;
    attempt_ = static_cast<uint8_t>(std::clamp(attempt, 1, 255));
}

void Capture::endAttempt(int32_t code) {
    std::lock_guard lock(mutex_);
    if (pendingOpen_) {
        closePending(COMM_FRAME_REPLY, code);
    } else if (code != COMM_OK) {
        comm_frame f = blank(COMM_FRAME_SILENCE, requestStart_);
        f.end_us = us(Clock::now());
        f.code = code;
        record(f);
    }
    attempt_ = 0;
    // Retries keep the number of their exchange; anything else starts anew.
    if (code == COMM_OK || (code >= 1 && code <= 11) || code == COMM_IO_ERROR)
        exchange_ = 0;
}

void Capture::beginWait() {
    std::lock_guard lock(mutex_);
    closePending(COMM_FRAME_STRAY, COMM_OK);
    waitStart_ = Clock::now();
}

void Capture::heardLate(int32_t code) {
    std::lock_guard lock(mutex_);
    closePending(COMM_FRAME_LATE, code);
}

void Capture::endWait() {
    std::lock_guard lock(mutex_);
    closePending(COMM_FRAME_LATE, COMM_NO_REPLY);
    comm_frame f = blank(COMM_FRAME_WAIT, waitStart_);
    f.exchange = 0;
    f.attempt = 0;
    f.end_us = us(Clock::now());
    record(f);
}

void Capture::sent(const uint8_t* bytes, int length, bool taken, Clock::time_point start,
                   Clock::time_point end) {
    std::lock_guard lock(mutex_);
    closePending(COMM_FRAME_STRAY, COMM_OK);
    comm_frame f = blank(COMM_FRAME_REQUEST, start);
    f.end_us = us(end);
    f.code = taken ? COMM_OK : COMM_IO_ERROR;
    const int kept = std::clamp(length, 0, COMM_FRAME_BYTES);
    std::memcpy(f.data, bytes, static_cast<std::size_t>(kept));
    f.length = static_cast<uint16_t>(kept);
    f.dropped = static_cast<uint32_t>(length - kept);
    record(f);
    requestStart_ = start;
    const auto onLine =
        microseconds(baud_ > 0 ? int64_t{length} * BitsPerChar * 1'000'000 / baud_ : 0);
    requestEnd_ = std::max(end, start + onLine);
}

void Capture::received(const uint8_t* bytes, int length) {
    std::lock_guard lock(mutex_);
    const auto now = Clock::now();
    if (!pendingOpen_) {
        pending_ = blank(COMM_FRAME_STRAY, now);
        pendingOpen_ = true;
    }
    pending_.end_us = us(now);
    const int room = COMM_FRAME_BYTES - pending_.length;
    const int kept = std::clamp(length, 0, room);
    std::memcpy(pending_.data + pending_.length, bytes, static_cast<std::size_t>(kept));
    pending_.length = static_cast<uint16_t>(pending_.length + kept);
    pending_.dropped += static_cast<uint32_t>(length - kept);
}

void Capture::flushed() {
    std::lock_guard lock(mutex_);
    closePending(COMM_FRAME_STRAY, COMM_OK);
}

int32_t Capture::read(uint64_t after, comm_frame* out, int32_t capacity, int32_t* count,
                      uint64_t* lost) {
    std::lock_guard lock(mutex_);
    const uint64_t held = std::min<uint64_t>(next_ - 1, ring_.size());
    const uint64_t oldest = next_ - held; // number of the oldest record held
    const uint64_t from = std::max(after + 1, oldest);
    if (lost != nullptr)
        *lost = from > after + 1 ? from - after - 1 : 0;
    int32_t n = 0;
    for (uint64_t number = from; number < next_ && n < capacity; ++number, ++n)
        out[n] = ring_[(number - 1) % ring_.size()];
    *count = n;
    return COMM_OK;
}

} // namespace comm
