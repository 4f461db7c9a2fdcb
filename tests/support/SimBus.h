// The tool's link bound to the real communication library and opened on a
// simulated line of several modules, for end-to-end tests of the bus scan.
#pragma once

#include <QString>
#include <memory>
#include <vector>

#include "SimLine.h"

// One module of a line: address, registration number ("A0042"), speed,
// parity and type code.
sim::Options LineModule(uint8_t address, const char* serial, int baud = 19200, int parity = 2,
                        uint16_t type = 17);

// Register 0 of the module at the tool's link, read as the tool reads it.
uint16_t SerialAtTheToolsLink();

class SimBus {
  public:
    // Binds the library beside the test executable (unless bound already),
    // starts the line and opens the tool's link on it: its device as the
    // port, at `baud` and `parity`, address 1.
    explicit SimBus(const std::vector<sim::Options>& modules, int32_t baud = 19200,
                    uint8_t parity = 2);
    ~SimBus();

    sim::SimLine& line() { return *line_; }
    QString port() const;
    bool opened() const { return opened_; }
    // Whether any module of the line has been sent anything but reads.
    bool anyWrite() const;
    // The line goes away, as when the USB adapter is pulled out.
    void pull() { line_.reset(); }

  private:
    std::unique_ptr<sim::SimLine> line_;
    bool opened_ = false;
};
