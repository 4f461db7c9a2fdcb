// A simulated QS-730 module: a Modbus RTU slave on a Linux pseudo-terminal.
//
// The tool (or any master) opens devicePath() like a serial port. The slave
// answers only when the speed and parity the master set on the line match the
// module's own, serves the module's register map, obeys the unlock key and the
// apply command, and can be told to misbehave (fault injection).
//
// How the module behaves on the line:
// - Speed and parity are those the master set on the pty. Characters have 11
//   bits, so parity "none" means two stop bits; a master at 8N1 looks like
//   one at even parity. A request at other settings is read and discarded.
// - Requests for another address are ignored; broadcast (address 0) writes
//   are carried out without an answer.
// - Function 3 reads, 16 writes; any other function gets exception 1. A count
//   of 0 or above 125 (123 for writes) gets exception 3. Reading a register
//   outside the map (also inside a longer range) or the write-only 1911/1912,
//   and writing a read-only or unmapped register, get exception 2.
// - Registers 0, 1, 8-15 and 256 take a write only when the write request
//   just before it was UnlockKey to 1912; otherwise exception 3 (illegal data
//   value). Every request other than a read uses the unlock up, also a refused one; reads
//   do not. A value other than UnlockKey to 1911 or 1912 gets exception 3.
// - Registers 264 and 265 read back what was last written; the measurement
//   (register 1025) follows them only after UnlockKey goes to 1911. Mode
//   values other than 1 and 2 get exception 3.
// - Registers 257-259 (address 1..247, a speed code, parity 0..2 in the low
//   byte; else exception 3) switch the module's link after the answer, or,
//   for a module that takes them after a restart, at the next restart().
//   Register 260 takes only 0 (else exception 3).
//
// Construction throws std::invalid_argument for impossible link options and
// std::runtime_error when the pty cannot be set up.
//
// All public members are thread-safe: the slave runs on a thread of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sim {

// When a module takes new link parameters (registers 257-259): both kinds
// are in the field.
enum class LinkChange {
    AtOnce,       // right after its answer to the write
    AfterRestart, // it answers at the old ones until restart()
};

struct Options {
    uint8_t address = 1;
    int baud = 19200;
    int parity = 2;           // 0 none, 1 odd, 2 even
    uint16_t serial = 0x082A; // A0042
    uint16_t typeCode = 17;
    uint16_t version = 0x0203;
    uint16_t manufactureDate = 0x68EF; // 15.03.26
    uint16_t calibrationDate = 0x68EF;
    uint16_t mode = 1;
    uint16_t integrationTime = 100;
    uint32_t appliedCurrentUa = 12000; // signal at the current terminals, microamperes
    uint32_t appliedVoltageMv = 5000;  // signal at the voltage terminals, millivolts
    LinkChange linkChange = LinkChange::AtOnce;
    // The module's own error per range: with registers 8-15 at their defaults
    // it reads (1 + gain error) x signal + offset error. All zero (the
    // default) is a module whose default coefficients are right for it.
    double currentGainError = 0;   // relative: 0.006 reads 0.6 % high
    double currentOffsetError = 0; // microamperes
    double voltageGainError = 0;
    double voltageOffsetError = 0; // millivolts
    // The flag words it raises (registers 1024 and 1026), e.g. FlagADC in A.
    uint16_t flagsA = 0;
    uint16_t flagsB = 0;
    // Registers whose writes the module refuses, with the exception code of
    // each (as refuseWrites).
    std::vector<std::pair<uint16_t, uint8_t>> refusals{};
    // Registers whose next writes lose their answers, with how many (as
    // loseWriteReplies).
    std::vector<std::pair<uint16_t, int>> lostWriteReplies{};
};

// One request as the slave received it (only requests addressed to it and
// received at the right line settings are logged).
struct Request {
    uint8_t function = 0;
    uint16_t first = 0;
    uint16_t count = 0;
    std::vector<uint16_t> values; // for writes
};

// Bytes on the line as the module saw them: a request it read whole, or what
// it wrote in one go (an answer, a spoiled one, or noise).
struct WireFrame {
    bool fromModule = false;
    std::vector<uint8_t> bytes;
};

class SimModule {
  public:
    explicit SimModule(const Options& options = {});
    ~SimModule(); // stops the slave and closes the pseudo-terminal
    SimModule(const SimModule&) = delete;
    SimModule& operator=(const SimModule&) = delete;

    // The slave side of the pseudo-terminal, e.g. "/dev/pts/7".
    std::string devicePath() const;
    // Also reachable through a symbolic link at `path` (removed on destruction).
    bool linkAt(const std::string& path);

    // Registers, as the module holds them (0 for numbers outside the map).
    // setReg is a back door without value checks: 264/265 count as applied,
    // 1025 is pinned as by setInput, 257-259 also switch the link when the
    // word is a valid one, numbers outside the map are ignored.
    uint16_t reg(uint16_t number) const;
    void setReg(uint16_t number, uint16_t value);

    // The module's own link parameters (registers 257-259 change them after
    // the reply to the write has gone out).
    uint8_t address() const;
    int baud() const;
    int parity() const;
    // Takes effect at once; throws std::invalid_argument for impossible values.
    void setLink(uint8_t address, int baud, int parity);
    // How later writes of 257-259 take effect.
    LinkChange linkChange() const;
    void setLinkChange(LinkChange change);

    // Signals at the inputs. Register 1025 shows the one for the applied mode,
    // as the module measures it: the input's raw count u follows the signal
    // and the module's own gain and offset, and the reading comes from the
    // coefficients in registers 8-15 (gain A, offset B of the range) as
    // x = 2^-28 * A * (u - B), x / 2 in current mode and x / 4 in voltage
    // mode, rounded and kept within 0..65535.
    void setAppliedCurrent(uint32_t microamperes);
    void setAppliedVoltage(uint32_t millivolts);
    // The module's own gain and offset errors, as in Options, from now on.
    void setReadingErrors(double currentGain, double currentOffset, double voltageGain,
                          double voltageOffset);
    // Pins register 1025 to a fixed value whatever the mode; clearInput() undoes it.
    void setInput(uint16_t value);
    void clearInput();

    // Fault injection. Each counts down, independently of the others, per
    // request for the module's own address at its line settings (broadcasts
    // and other requests do not count); a new call replaces the old count.
    // A dropped request is logged but neither carried out nor answered, as if
    // lost on the way. An injected exception replaces the answer and the
    // request is not carried out. A late or spoiled answer follows a request
    // that was carried out; a late one goes out its delay after its own
    // request, while the requests that come meanwhile are served as usual.
    void dropNext(int n);                    // no answer at all
    void corruptCrcNext(int n);              // answer with a wrong CRC
    void exceptionNext(int code, int n);     // answer with this exception code
    void delayNext(int milliseconds, int n); // answer late
    void foreignNext(int n);                 // answer from the next address up (247: 1)
    void cutNext(int n);                     // send only the first half of the answer
    void garbageNext(int n);                 // send noise right after the answer
    // Refuses every write that touches `reg` with exception `code` from now
    // on, as a module does with a value it does not accept (the write uses
    // the unlock up); reads of it go on as usual. Code 0 takes it back.
    void refuseWrites(uint16_t reg, int code);
    // Carries out the next `n` writes that touch `reg` as usual (a new link
    // of 257-259 included), but their answers, whatever they are, are lost
    // on the way back: the master hears nothing. Broadcasts do not count;
    // 0 takes it back.
    void loseWriteReplies(uint16_t reg, int n = 1);
    // Answers every request this late from now on (a slow module); 0 ends it.
    // Replaces a count of delayNext.
    void delayAll(int milliseconds);
    // In order, as a real module with one thread of work does: while a late
    // answer is pending the module takes up no other request, so requests
    // wait in its input and each late answer delays those behind it (each is
    // handled, and its delay begins, once the answer before it is out).
    // Off at construction: the late answers then go out as described above.
    void answerInOrder(bool inOrder);

    // The requests received for the module's address or as a broadcast at the
    // right line settings, dropped ones included: the last RequestLogWindow of
    // them, so that a simulator polled for days keeps a bounded memory.
    static constexpr std::size_t RequestLogWindow = 10000;
    std::vector<Request> requests() const;
    void clearRequests();

    // The bytes read and written, in order: the last 2 x RequestLogWindow
    // frames at most.
    std::vector<WireFrame> wire() const;
    void clearWire();

    // Simulates a power cycle: counts a start in register 260 (1 after
    // construction), forgets the unlock and measurement parameters written
    // but not applied, and takes up the link of registers 257-259.
    void restart();

    // ---- On a line shared with other modules (SimLine)

    // A module without a pseudo-terminal or a thread of its own: the line it
    // is on hands it every request it hears (devicePath() is empty).
    struct Shared {};
    SimModule(const Options& options, Shared);

    // What the module sends back for one request.
    struct Answer {
        std::vector<uint8_t> frame; // with its CRC (a spoilt one when a fault says so)
        int delayMs = 0;            // goes out so long after the request
        bool linkChanged = false;   // registers 257-259 written: see answered()
    };
    // A whole request `frame` (its CRC checked by the line) heard while the
    // line runs at `baud` and `parity` (0 none, 1 odd, 2 even): the module's
    // answer, or nothing when it stays silent (another address, other line
    // settings, a broadcast, a request lost on the way).
    std::optional<Answer> hear(const uint8_t* frame, int length, unsigned baud, int parity);
    // Once the answer is out: a module that takes a new link at once does so now.
    void answered(const Answer& answer);

  private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace sim
