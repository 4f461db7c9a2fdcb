#include "SimModule.h"

#include "Frame.h"
#include "LineSettings.h"
#include "Pty.h"
#include "Registers.h"

#include <modbus/modbus.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <optional>
#include <poll.h>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace sim {

namespace {

constexpr uint8_t FnRead = 3;
constexpr uint8_t FnWrite = 16;
constexpr uint8_t ExIllegalFunction = 1;
constexpr uint8_t ExIllegalAddress = 2;
constexpr uint8_t ExIllegalValue = 3;
constexpr int MaxReadCount = 125;
constexpr int MaxWriteCount = 123;

// What a noisy line puts between two frames.
const std::vector<uint8_t> Noise = {0xFF, 0x00, 0xA5};

// Pause allowed between two bytes of one request before it counts as broken.
constexpr uint32_t ByteTimeoutUs = 50000;

// Which registers may be read and written: the register table.
using reg::IsReadable;
using reg::IsWritable;

// Whether the module takes this value in this register at all.
bool IsAcceptable(uint16_t r, uint16_t v) {
    switch (r) {
    case reg::OwnAddress:
        return v >= reg::MinAddress && v <= reg::MaxAddress;
    case reg::OwnSpeed:
        return reg::SpeedIndexOfCode(v) >= 0;
    case reg::OwnParity:
        return reg::ParityOfWord(v) <= reg::MaxParity;
    case reg::RestartCounter:
        return v == 0;
    case reg::Mode:
        return v == reg::ModeCurrent || v == reg::ModeVoltage;
    case reg::Apply:
    case reg::Unlock:
        return v == reg::UnlockKey;
    default:
        return true;
    }
}

uint16_t Word(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

void PutWord(std::vector<uint8_t>& out, uint16_t w) {
    out.push_back(static_cast<uint8_t>(w >> 8));
    out.push_back(static_cast<uint8_t>(w & 0xFF));
}

void CheckLink(int address, int baud, int parity) {
    if (address < reg::MinAddress || address > reg::MaxAddress)
        throw std::invalid_argument("module address must be 1..247");
    if (reg::SpeedIndex(baud) < 0)
        throw std::invalid_argument("unsupported speed");
    if (parity < 0 || parity > reg::MaxParity)
        throw std::invalid_argument("parity must be 0, 1 or 2");
}

// What goes back for one request.
struct Reply {
    bool send = false;
    std::vector<uint8_t> pdu; // address, function, data; no CRC
    int delayMs = 0;
    bool corruptCrc = false;
    bool foreign = false;     // from another address
    bool cut = false;         // only the first half
    bool garbage = false;     // noise after it
    bool linkChanged = false; // registers 257-259 written: switch after the answer
};

} // namespace

struct SimModule::Impl {
    mutable std::mutex m;

    // Registers as the module holds them; 1025 is computed, 1911/1912 hold nothing.
    std::map<uint16_t, uint16_t> regs;
    uint16_t appliedMode = reg::ModeCurrent;
    uint16_t appliedIntTime = 100;
    uint32_t currentUa = 0;
    uint32_t voltageMv = 0;
    double gainError[2] = {0, 0};   // current, voltage
    double offsetError[2] = {0, 0}; // uA, mV
    std::optional<uint16_t> pinnedInput;
    bool unlocked = false;

    uint8_t address = 1;
    int baud = 19200;
    int parity = 2;
    LinkChange linkChange = LinkChange::AtOnce;

    int dropLeft = 0;
    int corruptLeft = 0;
    int exceptionLeft = 0;
    int exceptionCode = 0;
    std::map<uint16_t, uint8_t> refusedWrites; // register: exception code
    std::map<uint16_t, int> lostWriteReplies;  // register: writes left whose answers go missing
    int delayLeft = 0;                         // below 0: every request
    int delayMs = 0;
    int foreignLeft = 0;
    int cutLeft = 0;
    int garbageLeft = 0;
    std::atomic<bool> inOrder{false};

    std::deque<Request> log;
    std::deque<WireFrame> wire;
    void logWire(bool fromModule, const uint8_t* bytes, std::size_t length);
    std::vector<std::string> links;

    std::string path;
    int master = -1;
    int slave = -1; // held open so the pty keeps its settings and never hangs up
    int wake[2] = {-1, -1};
    modbus_t* ctx = nullptr;
    std::atomic<bool> stop{false};
    std::thread thread;

    // Late answers waiting for their time, earliest first: each goes out its
    // delay after its own request, whatever comes in meanwhile (in order: at
    // most one, and nothing comes in meanwhile).
    using Clock = std::chrono::steady_clock;
    std::multimap<Clock::time_point, Reply> due;

    ~Impl();
    void init(const Options& o); // registers and link, no line
    void open(const Options& o);
    void newContext();
    void run();
    void drainInput();
    bool waitStop(int milliseconds);
    int msToNextDue() const;
    void sendDue();
    void answer(const Reply& reply); // sends it, then takes up a new link setting
    void send(const Reply& reply);

    // Below: called with the mutex held.
    uint16_t read(uint16_t r) const;
    uint16_t measured() const;
    void applyLinkFromRegs();
    Reply handle(const uint8_t* req, int length);
    bool loseReply(const uint8_t* req, int length);
    uint8_t doRead(uint16_t first, uint16_t count, std::vector<uint8_t>& data) const;
    uint8_t doWrite(const uint8_t* req, bool& linkChanged);
};

SimModule::Impl::~Impl() {
    if (thread.joinable()) {
        stop = true;
        const char c = 'q';
        [[maybe_unused]] ssize_t n = ::write(wake[1], &c, 1);
        thread.join();
    }
    if (ctx)
        modbus_free(ctx); // leaves the socket alone
    for (int fd : {master, slave, wake[0], wake[1]})
        if (fd >= 0)
            ::close(fd);
    UnlinkPty(links, path);
}

void SimModule::Impl::init(const Options& o) {
    CheckLink(o.address, o.baud, o.parity);
    address = o.address;
    baud = o.baud;
    parity = o.parity;
    linkChange = o.linkChange;
    currentUa = o.appliedCurrentUa;
    voltageMv = o.appliedVoltageMv;
    gainError[0] = o.currentGainError;
    offsetError[0] = o.currentOffsetError;
    gainError[1] = o.voltageGainError;
    offsetError[1] = o.voltageOffsetError;
    appliedMode = o.mode;
    appliedIntTime = o.integrationTime;
    for (const auto& [r, code] : o.refusals)
        if (code != 0)
            refusedWrites[r] = code;
    for (const auto& [r, n] : o.lostWriteReplies)
        if (n > 0)
            lostWriteReplies[r] = n;

    regs[reg::SerialNumber] = o.serial;
    regs[reg::ManufactureDate] = o.manufactureDate;
    const uint32_t coefficients[4] = {reg::DefaultGainCurrent, reg::DefaultOffsetCurrent,
                                      reg::DefaultGainVoltage, reg::DefaultOffsetVoltage};
    for (int i = 0; i < 4; ++i) {
        const auto words = reg::SplitWords(coefficients[i]);
        regs[static_cast<uint16_t>(reg::GainCurrent + 2 * i)] = words[0];
        regs[static_cast<uint16_t>(reg::GainCurrent + 2 * i + 1)] = words[1];
    }
    regs[reg::CalibrationDate] = o.calibrationDate;
    regs[reg::OwnAddress] = o.address;
    regs[reg::OwnSpeed] = reg::SpeedCode(o.baud);
    regs[reg::OwnParity] = static_cast<uint16_t>(o.parity);
    regs[reg::RestartCounter] = 1;
    regs[reg::Mode] = o.mode;
    regs[reg::IntegrationTime] = o.integrationTime;
    regs[reg::TypeCode] = o.typeCode;
    regs[reg::Version] = o.version;
    regs[reg::FlagsA] = o.flagsA;
    regs[reg::InputValue] = 0;
    regs[reg::FlagsB] = o.flagsB;
}

void SimModule::Impl::open(const Options& o) {
    init(o);
    const Pty pty = OpenPty(static_cast<unsigned>(baud), parity);
    master = pty.master;
    slave = pty.slave;
    path = pty.path;
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("cannot create a pipe");
    newContext();
    thread = std::thread([this] { run(); });
}

// libmodbus frames and checks the requests. A fresh context is taken after a
// frame for another slave: the RTU context would otherwise take the next frame
// for that slave's answer and skip it, and here the next frame is always a
// request.
void SimModule::Impl::newContext() {
    if (ctx)
        modbus_free(ctx);
    ctx = modbus_new_rtu(path.c_str(), 19200, 'E', 8, 1);
    if (!ctx)
        throw std::runtime_error("cannot create a Modbus context");
    modbus_set_socket(ctx, master);
    modbus_set_byte_timeout(ctx, 0, ByteTimeoutUs);
    modbus_set_indication_timeout(ctx, 0, 200000);
}

void SimModule::Impl::drainInput() {
    uint8_t junk[256];
    while (::read(master, junk, sizeof junk) > 0) {
    }
}

// Sleeps; true when the slave is being stopped meanwhile.
bool SimModule::Impl::waitStop(int milliseconds) {
    pollfd p{wake[0], POLLIN, 0};
    ::poll(&p, 1, milliseconds);
    return stop;
}

// Milliseconds until the next late answer is due (-1: none waits).
int SimModule::Impl::msToNextDue() const {
    if (due.empty())
        return -1;
    const auto left = due.begin()->first - Clock::now();
    return static_cast<int>(
        std::max<int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
}

void SimModule::Impl::sendDue() {
    while (!due.empty() && due.begin()->first <= Clock::now()) {
        const Reply reply = due.begin()->second;
        due.erase(due.begin());
        answer(reply);
    }
}

void SimModule::Impl::run() {
    uint8_t req[MODBUS_RTU_MAX_ADU_LENGTH];
    while (!stop) {
        // Working on a late answer in order, the module reads no request.
        const bool busy = inOrder && !due.empty();
        pollfd fds[2] = {{wake[0], POLLIN, 0}, {master, POLLIN, 0}};
        if (::poll(fds, busy ? 1 : 2, msToNextDue()) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (stop || fds[0].revents)
            break;
        sendDue();
        if (busy)
            continue;
        if (!(fds[1].revents & POLLIN)) {
            if (fds[1].revents && waitStop(20)) // hang-up or error without data: do not spin
                break;
            continue;
        }
        {
            std::lock_guard lock(m);
            modbus_set_slave(ctx, address);
        }
        const int n = modbus_receive(ctx, req);
        if (n > 0) {
            std::lock_guard lock(m);
            logWire(false, req, static_cast<std::size_t>(n));
        }
        if (n < 0) { // broken frame or bad CRC: drop whatever is left of it
            drainInput();
            continue;
        }
        if (n == 0) { // a frame for another slave
            newContext();
            continue;
        }
        LineSettings line;
        if (!ReadLineSettings(master, line))
            continue;
        Reply reply;
        {
            std::lock_guard lock(m);
            if (line.baud != static_cast<unsigned>(baud) || line.parity != parity)
                continue; // the module cannot make sense of it
            reply = handle(req, n);
        }
        if (!reply.send)
            continue;
        if (reply.delayMs > 0) {
            due.emplace(Clock::now() + std::chrono::milliseconds(reply.delayMs), reply);
            continue;
        }
        answer(reply);
    }
}

void SimModule::Impl::answer(const Reply& reply) {
    std::lock_guard lock(m);
    send(reply);
    if (reply.linkChanged)
        applyLinkFromRegs();
}

void SimModule::Impl::logWire(bool fromModule, const uint8_t* bytes, std::size_t length) {
    wire.push_back({fromModule, std::vector<uint8_t>(bytes, bytes + length)});
    if (wire.size() > 2 * RequestLogWindow)
        wire.pop_front();
}

void SimModule::Impl::send(const Reply& reply) {
    std::vector<uint8_t> pdu = reply.pdu;
    if (reply.foreign)
        pdu[0] = static_cast<uint8_t>(pdu[0] >= reg::MaxAddress ? 1 : pdu[0] + 1);
    std::vector<uint8_t> frame = WithCrc(std::move(pdu), reply.corruptCrc);
    if (reply.cut)
        frame.resize(frame.size() / 2);
    logWire(true, frame.data(), frame.size());
    if (reply.garbage) {
        // In the same write: the noise is there before the master reads on.
        logWire(true, Noise.data(), Noise.size());
        frame.insert(frame.end(), Noise.begin(), Noise.end());
    }
    [[maybe_unused]] ssize_t n = ::write(master, frame.data(), frame.size());
}

uint16_t SimModule::Impl::read(uint16_t r) const {
    if (r == reg::InputValue) {
        if (pinnedInput)
            return *pinnedInput;
        return measured();
    }
    auto it = regs.find(r);
    return it == regs.end() ? 0 : it->second;
}

// The reading of register 1025. The raw count is what a module whose
// coefficients are the defaults turns into (1 + gain error) x signal +
// offset error; the coefficients held in registers 8-15 then make the
// reading. So a calibration against exact references writes the
// coefficients that make this module read the signal itself.
uint16_t SimModule::Impl::measured() const {
    const bool voltage = appliedMode == reg::ModeVoltage;
    const int range = voltage ? 1 : 0;
    const double factor = voltage ? 4.0 : 2.0;
    const double signal = voltage ? voltageMv : currentUa;
    const uint16_t first = voltage ? reg::GainVoltage : reg::GainCurrent;
    const double defaultGain = voltage ? reg::DefaultGainVoltage : reg::DefaultGainCurrent;
    const double defaultOffset = voltage ? reg::DefaultOffsetVoltage : reg::DefaultOffsetCurrent;
    const double scale = std::ldexp(1.0, 28);
    const double seen = signal * (1.0 + gainError[range]) + offsetError[range];
    const double u = std::round(defaultOffset + factor * seen * scale / defaultGain);
    const double gain = reg::JoinWords(read(first), read(static_cast<uint16_t>(first + 1)));
    const double offset = reg::JoinWords(read(static_cast<uint16_t>(first + 2)),
                                         read(static_cast<uint16_t>(first + 3)));
    const double reading = std::round(gain * (u - offset) / scale / factor);
    return static_cast<uint16_t>(std::clamp(reading, 0.0, 65535.0));
}

void SimModule::Impl::applyLinkFromRegs() {
    const uint16_t a = read(reg::OwnAddress);
    if (a >= reg::MinAddress && a <= reg::MaxAddress)
        address = static_cast<uint8_t>(a);
    const int speed = reg::SpeedIndexOfCode(read(reg::OwnSpeed));
    if (speed >= 0)
        baud = reg::Speeds[static_cast<size_t>(speed)];
    const int p = reg::ParityOfWord(read(reg::OwnParity));
    if (p <= reg::MaxParity)
        parity = p;
}

Reply SimModule::Impl::handle(const uint8_t* req, int length) {
    const uint8_t to = req[0];
    const uint8_t fn = req[1];
    const bool broadcast = to == 0;

    Request logged;
    logged.function = fn;
    if (length >= 8) { // address, function, two words, CRC
        logged.first = Word(req + 2);
        logged.count = Word(req + 4);
    }
    if (fn == FnWrite && length >= 9) {
        const int words = std::min<int>(req[6], length - 9) / 2;
        for (int i = 0; i < words; ++i)
            logged.values.push_back(Word(req + 7 + 2 * i));
    }
    log.push_back(std::move(logged));
    if (log.size() > RequestLogWindow)
        log.pop_front();

    Reply out;
    bool drop = false;
    int injected = 0;
    if (!broadcast) {
        if (dropLeft > 0) {
            --dropLeft;
            drop = true;
        }
        if (exceptionLeft > 0) {
            --exceptionLeft;
            injected = exceptionCode;
        }
        if (delayLeft != 0) {
            if (delayLeft > 0)
                --delayLeft;
            out.delayMs = delayMs;
        }
        if (corruptLeft > 0) {
            --corruptLeft;
            out.corruptCrc = true;
        }
        for (auto [left, flag] :
             {std::pair{&foreignLeft, &out.foreign}, std::pair{&cutLeft, &out.cut},
              std::pair{&garbageLeft, &out.garbage}}) {
            if (*left > 0) {
                --*left;
                *flag = true;
            }
        }
    }
    if (drop) // lost on the way: never seen by the module
        return {};

    std::vector<uint8_t> data;
    uint8_t code = 0;
    if (injected) {
        code = static_cast<uint8_t>(injected);
        if (fn != FnRead)
            unlocked = false;
    } else if (fn == FnRead) {
        code = doRead(Word(req + 2), Word(req + 4), data);
    } else if (fn == FnWrite) {
        code = doWrite(req, out.linkChanged);
        if (code == 0)
            data.assign(req + 2, req + 6);
    } else {
        code = ExIllegalFunction;
        unlocked = false;
    }

    if (broadcast || (fn == FnWrite && loseReply(req, length))) {
        if (out.linkChanged)
            applyLinkFromRegs();
        return {};
    }
    out.send = true;
    out.pdu = {to, code ? static_cast<uint8_t>(fn | 0x80) : fn};
    if (code)
        out.pdu.push_back(code);
    else
        out.pdu.insert(out.pdu.end(), data.begin(), data.end());
    if (code)
        out.linkChanged = false;
    return out;
}

// Whether the answer to this write is to go missing: it touches a register
// with lost answers left (one is used up).
bool SimModule::Impl::loseReply(const uint8_t* req, int length) {
    if (length < 8)
        return false;
    const int first = Word(req + 2);
    const int count = Word(req + 4);
    for (auto it = lostWriteReplies.begin(); it != lostWriteReplies.end(); ++it) {
        if (it->first < first || it->first >= first + count)
            continue;
        if (--it->second <= 0)
            lostWriteReplies.erase(it);
        return true;
    }
    return false;
}

uint8_t SimModule::Impl::doRead(uint16_t first, uint16_t count, std::vector<uint8_t>& data) const {
    if (count < 1 || count > MaxReadCount)
        return ExIllegalValue;
    if (first + count > 0x10000)
        return ExIllegalAddress;
    for (int r = first; r < first + count; ++r)
        if (!IsReadable(static_cast<uint16_t>(r)))
            return ExIllegalAddress;
    data.push_back(static_cast<uint8_t>(count * 2));
    for (int r = first; r < first + count; ++r)
        PutWord(data, read(static_cast<uint16_t>(r)));
    return 0;
}

uint8_t SimModule::Impl::doWrite(const uint8_t* req, bool& linkChanged) {
    // Whatever comes of it, this write uses up an unlock.
    const bool wasUnlocked = unlocked;
    unlocked = false;

    const uint16_t first = Word(req + 2);
    const uint16_t count = Word(req + 4);
    const uint8_t bytes = req[6];
    if (count < 1 || count > MaxWriteCount || bytes != count * 2)
        return ExIllegalValue;
    if (first + count > 0x10000)
        return ExIllegalAddress;
    for (int i = 0; i < count; ++i)
        if (!IsWritable(static_cast<uint16_t>(first + i)))
            return ExIllegalAddress;
    for (int i = 0; i < count; ++i)
        if (const auto refused = refusedWrites.find(static_cast<uint16_t>(first + i));
            refused != refusedWrites.end())
            return refused->second;
    for (int i = 0; i < count; ++i) {
        const auto r = static_cast<uint16_t>(first + i);
        const uint16_t v = Word(req + 7 + 2 * i);
        if ((reg::IsProtected(r) && !wasUnlocked) || !IsAcceptable(r, v))
            return ExIllegalValue;
    }

    bool apply = false;
    for (int i = 0; i < count; ++i) {
        const auto r = static_cast<uint16_t>(first + i);
        const uint16_t v = Word(req + 7 + 2 * i);
        if (r == reg::Unlock)
            unlocked = true;
        else if (r == reg::Apply)
            apply = true;
        else
            regs[r] = v;
        if (r >= reg::OwnAddress && r <= reg::OwnParity)
            linkChanged = linkChange == LinkChange::AtOnce;
    }
    if (apply) {
        appliedMode = read(reg::Mode);
        appliedIntTime = read(reg::IntegrationTime);
    }
    return 0;
}

// ---- Public side

SimModule::SimModule(const Options& options) : d(std::make_unique<Impl>()) {
    d->open(options);
}

SimModule::~SimModule() = default;

std::string SimModule::devicePath() const {
    return d->path;
}

bool SimModule::linkAt(const std::string& path) {
    if (!LinkPty(path, d->path))
        return false;
    std::lock_guard lock(d->m);
    d->links.push_back(path);
    return true;
}

uint16_t SimModule::reg(uint16_t number) const {
    std::lock_guard lock(d->m);
    return d->read(number);
}

void SimModule::setReg(uint16_t number, uint16_t value) {
    std::lock_guard lock(d->m);
    if (number == reg::InputValue) {
        d->pinnedInput = value;
        return;
    }
    if (!IsReadable(number))
        return;
    d->regs[number] = value;
    if (number == reg::Mode)
        d->appliedMode = value;
    else if (number == reg::IntegrationTime)
        d->appliedIntTime = value;
    else if (number >= reg::OwnAddress && number <= reg::OwnParity)
        d->applyLinkFromRegs();
}

uint8_t SimModule::address() const {
    std::lock_guard lock(d->m);
    return d->address;
}

int SimModule::baud() const {
    std::lock_guard lock(d->m);
    return d->baud;
}

int SimModule::parity() const {
    std::lock_guard lock(d->m);
    return d->parity;
}

void SimModule::setLink(uint8_t address, int baud, int parity) {
    CheckLink(address, baud, parity);
    std::lock_guard lock(d->m);
    d->address = address;
    d->baud = baud;
    d->parity = parity;
    d->regs[reg::OwnAddress] = address;
    d->regs[reg::OwnSpeed] = reg::SpeedCode(baud);
    d->regs[reg::OwnParity] = static_cast<uint16_t>(parity);
}

LinkChange SimModule::linkChange() const {
    std::lock_guard lock(d->m);
    return d->linkChange;
}

void SimModule::setLinkChange(LinkChange change) {
    std::lock_guard lock(d->m);
    d->linkChange = change;
}

void SimModule::setAppliedCurrent(uint32_t microamperes) {
    std::lock_guard lock(d->m);
    d->currentUa = microamperes;
}

void SimModule::setAppliedVoltage(uint32_t millivolts) {
    std::lock_guard lock(d->m);
    d->voltageMv = millivolts;
}

void SimModule::setReadingErrors(double currentGain, double currentOffset, double voltageGain,
                                 double voltageOffset) {
    std::lock_guard lock(d->m);
    d->gainError[0] = currentGain;
    d->offsetError[0] = currentOffset;
    d->gainError[1] = voltageGain;
    d->offsetError[1] = voltageOffset;
}

void SimModule::setInput(uint16_t value) {
    std::lock_guard lock(d->m);
    d->pinnedInput = value;
}

void SimModule::clearInput() {
    std::lock_guard lock(d->m);
    d->pinnedInput.reset();
}

void SimModule::dropNext(int n) {
    std::lock_guard lock(d->m);
    d->dropLeft = std::max(n, 0);
}

void SimModule::corruptCrcNext(int n) {
    std::lock_guard lock(d->m);
    d->corruptLeft = std::max(n, 0);
}

void SimModule::refuseWrites(uint16_t reg, int code) {
    std::lock_guard lock(d->m);
    if (code & 0xFF)
        d->refusedWrites[reg] = static_cast<uint8_t>(code & 0xFF);
    else
        d->refusedWrites.erase(reg);
}

void SimModule::loseWriteReplies(uint16_t reg, int n) {
    std::lock_guard lock(d->m);
    if (n > 0)
        d->lostWriteReplies[reg] = n;
    else
        d->lostWriteReplies.erase(reg);
}

void SimModule::exceptionNext(int code, int n) {
    std::lock_guard lock(d->m);
    d->exceptionCode = code & 0xFF;
    d->exceptionLeft = code & 0xFF ? std::max(n, 0) : 0;
}

void SimModule::delayNext(int milliseconds, int n) {
    std::lock_guard lock(d->m);
    d->delayMs = std::max(milliseconds, 0);
    d->delayLeft = std::max(n, 0);
}

void SimModule::foreignNext(int n) {
    std::lock_guard lock(d->m);
    d->foreignLeft = std::max(n, 0);
}

void SimModule::cutNext(int n) {
    std::lock_guard lock(d->m);
    d->cutLeft = std::max(n, 0);
}

void SimModule::garbageNext(int n) {
    std::lock_guard lock(d->m);
    d->garbageLeft = std::max(n, 0);
}

void SimModule::delayAll(int milliseconds) {
    std::lock_guard lock(d->m);
    d->delayMs = std::max(milliseconds, 0);
    d->delayLeft = d->delayMs > 0 ? -1 : 0;
}

void SimModule::answerInOrder(bool inOrder) {
    d->inOrder = inOrder;
}

std::vector<Request> SimModule::requests() const {
    std::lock_guard lock(d->m);
    return {d->log.begin(), d->log.end()};
}

void SimModule::clearRequests() {
    std::lock_guard lock(d->m);
    d->log.clear();
}

std::vector<WireFrame> SimModule::wire() const {
    std::lock_guard lock(d->m);
    return {d->wire.begin(), d->wire.end()};
}

void SimModule::clearWire() {
    std::lock_guard lock(d->m);
    d->wire.clear();
}

void SimModule::restart() {
    std::lock_guard lock(d->m);
    uint16_t& starts = d->regs[reg::RestartCounter];
    if (starts < 0xFFFF)
        ++starts;
    d->unlocked = false;
    // Parameters written but never applied are lost with the power.
    d->regs[reg::Mode] = d->appliedMode;
    d->regs[reg::IntegrationTime] = d->appliedIntTime;
    d->applyLinkFromRegs();
}

// ---- On a line shared with other modules

SimModule::SimModule(const Options& options, Shared) : d(std::make_unique<Impl>()) {
    d->init(options);
}

std::optional<SimModule::Answer> SimModule::hear(const uint8_t* frame, int length, unsigned baud,
                                                 int parity) {
    std::lock_guard lock(d->m);
    if (length < 4 || (frame[0] != d->address && frame[0] != 0))
        return std::nullopt;
    if (baud != static_cast<unsigned>(d->baud) || parity != d->parity)
        return std::nullopt; // the module cannot make sense of it
    const Reply reply = d->handle(frame, length);
    if (!reply.send)
        return std::nullopt;
    return Answer{WithCrc(reply.pdu, reply.corruptCrc), reply.delayMs, reply.linkChanged};
}

void SimModule::answered(const Answer& answer) {
    if (!answer.linkChanged)
        return;
    std::lock_guard lock(d->m);
    d->applyLinkFromRegs();
}

} // namespace sim
