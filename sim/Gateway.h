// A gateway stand-in on 127.0.0.1: simulated modules on an RS-485 line behind
// a TCP port, reached either as a Modbus TCP gateway (MBAP frames, the unit
// identifier as the module's address) or as a transparent serial server
// (RTU frames as they are over the connection).
//
// It serves one connection at a time; a new one takes the place of the one
// before. Each request goes to every module, as on a shared line running at
// the gateway's serial settings; the first answer goes back.
//
// The gateway's own faults (GatewayFault) spoil every N-th request each, as
// the line's --fault rules do.
//
// All public members are thread-safe: the gateway runs on a thread of its own.
#pragma once

#include "SimModule.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sim {

enum class GatewayKind {
    ModbusTcp, // "tcp:"
    RtuTcp,    // "rtu-tcp:"
};

enum class GatewayFault {
    NoPath,        // exception 10: no path to the module (nothing goes on the line)
    NoAnswer,      // exception 11: the module did not answer (it was asked, its answer lost)
    Delay,         // the answer goes out the gateway's delay late
    Drop,          // the connection is closed on the request, nothing answered
    DropMidReply,  // the first half of the answer goes out, then the connection is closed
    WrongId,       // the answer comes with another transaction number (Modbus TCP)
    Stale,         // a copy with the transaction number before, then the answer (Modbus TCP)
    WrongProtocol, // the answer comes with protocol 1 (Modbus TCP)
    ShortLength,   // the MBAP length one short of the bytes that follow (Modbus TCP)
};
constexpr int GatewayFaultKinds = 9;

// Name of a fault as the option spells it: "no-path", "no-answer", "delay",
// "drop", "drop-mid", "wrong-id", "stale", "wrong-protocol", "short-length".
const char* GatewayFaultName(GatewayFault fault);

class Gateway {
  public:
    // Listens at 127.0.0.1:`port` (0: a free port the system picks), the
    // serial line behind it at `baud` and `parity`. Throws std::runtime_error
    // when the port cannot be had, and as SimModule does.
    Gateway(GatewayKind kind, const std::vector<Options>& modules, uint16_t port = 0,
            int baud = 19200, int parity = 2);
    ~Gateway(); // closes the connection and the port
    Gateway(const Gateway&) = delete;
    Gateway& operator=(const Gateway&) = delete;

    GatewayKind kind() const;
    uint16_t port() const;
    // The port as the library's port names spell it: "tcp:127.0.0.1:5020".
    std::string portName() const;

    std::size_t size() const;
    SimModule& module(std::size_t i);

    // Spoils every `every`-th request with `fault` from now on (0 ends it);
    // the count starts anew.
    void setFault(GatewayFault fault, int every);
    void clearFaults();
    // The delay of GatewayFault::Delay (300 ms unless set).
    void setDelay(int milliseconds);
    // Closes the connection now, as a gateway restarting does.
    void dropConnection();

    // Connections taken since the start, and requests heard whole.
    int connections() const;
    int requests() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// A port on 127.0.0.1 that nothing listens at just now (one the system
// handed out and took back), for trials of a refused connection.
uint16_t UnusedPort();

} // namespace sim
