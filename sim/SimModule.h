// A simulated QS-730 module: a Modbus RTU slave on a Linux pseudo-terminal.
//
// The tool (or any master) opens devicePath() like a serial port. The slave
// answers only when the speed and parity the master set on the line match the
// module's own, serves the module's register map, obeys the unlock key and the
// apply command, and can be told to misbehave (fault injection).
//
// All public members are thread-safe: the slave runs on a thread of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sim {

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
};

// One request as the slave received it (only requests addressed to it and
// received at the right line settings are logged).
struct Request {
    uint8_t function = 0;
    uint16_t first = 0;
    uint16_t count = 0;
    std::vector<uint16_t> values; // for writes
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

    // Registers, as the module holds them.
    uint16_t reg(uint16_t number) const;
    void setReg(uint16_t number, uint16_t value);

    // The module's own link parameters (registers 257-259 change them after
    // the reply to the write has gone out).
    uint8_t address() const;
    int baud() const;
    int parity() const;
    void setLink(uint8_t address, int baud, int parity);

    // Signals at the inputs. Register 1025 shows the one for the applied mode.
    void setAppliedCurrent(uint32_t microamperes);
    void setAppliedVoltage(uint32_t millivolts);
    // Pins register 1025 to a fixed value whatever the mode; clearInput() undoes it.
    void setInput(uint16_t value);
    void clearInput();

    // Fault injection; each counts down per request addressed to the module.
    void dropNext(int n);                    // no answer at all
    void corruptCrcNext(int n);              // answer with a wrong CRC
    void exceptionNext(int code, int n);     // answer with this exception code
    void delayNext(int milliseconds, int n); // answer late

    std::vector<Request> requests() const;
    void clearRequests();

    // Simulates a power cycle: counts a start in register 260.
    void restart();

  private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace sim
