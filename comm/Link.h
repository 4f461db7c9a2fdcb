// The serial Modbus RTU master behind the library's entry points: one open
// port with its line settings, and single request/reply exchanges on it.
#pragma once

#include "Line.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace comm {

using Clock = std::chrono::steady_clock;

// Line speeds init_comm accepts, in bit/s. 1200 is not offered by the tool's
// speed list, but a search result or a hand-edited settings file may bring it.
bool isSupportedSpeed(int32_t baud);

// Parity index as the tool passes it: 0 none (two stop bits), 1 odd, 2 even
// (one stop bit each).
bool isSupportedParity(int32_t parity);

// How long the module (with the adapter and the driver in between) gets to
// start its reply once the request is on the line. comm_mb.ini [Link]
// ResponseTimeout sets it in milliseconds, within the bounds below; anything
// else means the default.
//
// The default is 250 ms: a module answers within a few milliseconds, but
// takes longer while it stores settings in its flash memory; a USB adapter
// holds received bytes up to its latency timer (16 ms on FTDI chips) in each
// direction, and a busy PC adds scheduling delays. 250 ms meets all of that
// with a wide margin and keeps the freeze of an exchange that gets no answer
// (three attempts) under 0.8 s at 19200 bit/s.
constexpr std::chrono::milliseconds DefaultResponseAllowance{250};
constexpr std::chrono::milliseconds MinResponseAllowance{20};
constexpr std::chrono::milliseconds MaxResponseAllowance{5000};

// Over a gateway on the network the reply also makes the network's round
// trip, and the gateway's own turn: comm_mb.ini [Link] NetworkAllowance sets
// what comes on top of the response allowance there, in milliseconds (0 to
// 5000; anything else means the default, 200 ms, which covers a plant's
// network with a margin). [Link] ConnectTimeout is how long a connection to
// the gateway may take to be made (100 to 30000 ms; default 2000 ms): a dead
// gateway costs that much once per request.
constexpr std::chrono::milliseconds DefaultNetworkAllowance{200};
constexpr std::chrono::milliseconds MaxNetworkAllowance{5000};
constexpr std::chrono::milliseconds DefaultConnectTimeout{2000};
constexpr std::chrono::milliseconds MinConnectTimeout{100};
constexpr std::chrono::milliseconds MaxConnectTimeout{30000};

// How late a reply may come and still be told apart from the answer to a
// later request. A module answers in order: it takes up a request once the
// request is whole and its reply to the one before has gone out, and starts
// the reply to it within this window (see Link::exchange). A longer response
// allowance widens it.
constexpr std::chrono::milliseconds LateReplyWindow{1000};

// The tool's register operations make up to this many attempts at one
// exchange, each right after the one before failed (see Link::exchange).
constexpr int AttemptsPerExchange = 3;

// Time-outs of one exchange on an RTU line.
//
// Every character is 11 bits on the line whatever the parity (start, 8 data,
// parity or a second stop bit, stop), so one character takes 11 / baud s
// (rtu::BitsPerChar).
//
// The response time-out runs from the moment the request is handed to the
// port driver until the first byte of the reply arrives. write() returns as
// soon as the request sits in the driver's buffer, so the time-out covers
// sending the request itself (its length plus the 3.5-character silence that
// closes an RTU frame) and then the response allowance:
//
//     response = (request bytes + 3.5) * char time + allowance
//
// The byte time-out is the longest allowed pause between two pieces of one
// reply. The module sends its reply in one go, so the pause is a few character
// times, but an adapter delivers bytes in bursts, hence the fixed part:
//
//     byte = 3 * char time + 20 ms
//
// With the default allowance:
//     2400 bit/s:   char 4.58 ms; read request (8 bytes) 303 ms, write of 4
//                   registers (17 bytes) 344 ms; byte 34 ms
//     19200 bit/s:  read 257 ms
//     115200 bit/s: char 0.095 ms; read 251 ms, write 252 ms; byte 20.3 ms
struct Timeouts {
    std::chrono::microseconds response;
    std::chrono::microseconds byte;
};
Timeouts timeoutsFor(int32_t baud, int requestBytes,
                     std::chrono::microseconds allowance = DefaultResponseAllowance);

// Length in bytes of the RTU request for `function` (3 or 16) and `count`.
int requestBytes(uint8_t function, uint16_t count);

// The result code of comm_mb.h for the errno libmodbus leaves after a failed
// exchange. The library gives the same codes for the same replies; the tests
// that run libmodbus beside it compare through this. Defined with libmodbus's
// error numbers in tests/comm/ModbusCodes.cpp: only the tests build it.
int32_t codeForModbusErrno(int error);

class Link {
  public:
    Link() = default;
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // Opens `device` (a device path, or a network port's one spelling,
    // PortName.h) at `baud` and `parity`, closing whatever
    // was open before. Returns COMM_OK only when the port is this process's
    // alone and the line is verified to run at exactly these settings;
    // COMM_BAD_PARAMETER for an unsupported speed or parity; COMM_OPEN_FAILED
    // when the device cannot be claimed, opened or set, with the reason in
    // openError() (an errno value).
    int32_t open(const std::string& device, int32_t baud, int32_t parity);
    void close();
    bool isOpen() const { return line_.isOpen(); }
    int32_t baud() const { return baud_; }
    // The device opened last, also while it is away or closed.
    const std::string& device() const { return device_; }
    int openError() const { return openError_; }

    // The response allowance of the following exchanges (clamped to the
    // bounds above).
    void setResponseAllowance(std::chrono::microseconds allowance);
    std::chrono::microseconds responseAllowance() const { return allowance_; }
    // What a network line adds to it, and the time a connection may take.
    void setNetworkTimes(std::chrono::microseconds allowance, std::chrono::milliseconds connect);
    bool isNetwork() const { return line_.isNetwork(); }
    Line::Kind lineKind() const { return line_.kind(); }

    // Whether an exchange waits for the replies still owed to earlier
    // requests (see exchange).
    enum class Guard {
        Settle, // it waits, as every exchange of the tool does
        Sweep,  // the search: no waiting; it settles itself before it trusts a find
    };

    // One exchange: function 3 reads `count` registers from `first` into
    // `data`, function 16 writes them from `data`. Arguments are checked in
    // this order: function (COMM_BAD_FUNCTION), buffer and count
    // (COMM_BAD_BUFFER), address 1..247 (COMM_BAD_PARAMETER), then the port
    // (COMM_NOT_OPEN).
    //
    // A reply is never taken for the answer to another request, nor for that
    // of a later exchange of the same request. The link counts the replies it
    // is owed: one for every request sent, less one for every reply heard
    // (whole, damaged or not the one asked for); a module answers in order,
    // so the reply that comes is the one owed longest. Before a request goes
    // out, the replies still owed are waited for and thrown away (settle);
    // the wait ends when all of them have come or when the line has been
    // silent for a late-reply window since the latest request or reply: the
    // rest will not come. A healthy line owes nothing and never waits.
    //
    // Through a Modbus TCP gateway nothing is waited for: every reply carries
    // the transaction number of its request, and one of an earlier request
    // is thrown away as it comes (Line.h).
    //
    // Only the tool's retries go out at once: the same request again right
    // after it got no intact answer, up to AttemptsPerExchange attempts in a
    // row and without a reopening in between. A late reply to an earlier
    // attempt holds the same registers and answers the retry as well, so
    // what has come of it is kept. Once an attempt has been answered,
    // whatever is still owed is waited for before the next request, the same
    // one included; so is a further repeat after the last attempt, which
    // begins a new exchange. Replies later than the window are beyond this
    // guarantee.
    //
    // When the device goes away (an I/O error, as when a USB adapter is
    // unplugged, or a gateway's connection drops: also when it is found
    // closed before the request goes out) the port is closed, so the system can give the adapter
    // its name again when it comes back, and each later exchange first tries once to open it again
    // with the same device, speed and parity. Until that succeeds the exchange fails with
    // COMM_IO_ERROR.
    int32_t exchange(uint8_t address, uint8_t function, uint16_t first, uint16_t count,
                     uint16_t* data, Guard guard = Guard::Settle);

    // Waits until no reply to an earlier request can come any more, throwing
    // away whatever arrives meanwhile; returns at once when nothing is
    // owed.
    void settle();
    // Requests whose replies may still come.
    int unanswered() const { return owed_; }

    // The bus scan's look at one address (Scan.cpp): one read of `count`
    // (1..4) registers from `first`, a single attempt. It waits for the reply
    // the short allowance of scanAllowance, or with `patient` the response
    // allowance; it does not wait for the replies still owed to earlier
    // requests, but hears them out: an intact reply from another slave, before
    // the request or after it, is no answer, and its address goes to *other
    // (0 when none came; `other` may be null). Results as exchange's, except
    // COMM_BAD_CRC for bytes that made no intact frame (a damaged reply, or
    // two slaves answering at once) and COMM_BAD_REPLY for an intact reply
    // of this address that does not answer this read.
    int32_t probe(uint8_t address, uint16_t first, uint16_t count, uint16_t* data, bool patient,
                  uint8_t* other);

  private:
    // COMM_OK when the port is open, if need be after one try to get a lost
    // device back; else COMM_NOT_OPEN or COMM_IO_ERROR.
    int32_t reopenIfLost();
    // One frame heard within `within` (Scan.cpp).
    enum class Heard { Nothing, Own, Foreign, Garbled, PortFailed };
    Heard hearFrame(uint8_t address, std::chrono::microseconds within, uint8_t* frame, int& length);
    // Sends `request` (CRC included) and reads the reply within `t`.
    int32_t ask(const uint8_t* request, int length, const Timeouts& t, uint16_t* data);
    void closePort();
    void lose(); // the device went away
    void forgetOwed();
    std::chrono::microseconds silenceSpan() const;
    // The response allowance with what the network adds.
    std::chrono::microseconds replyAllowance() const;
    std::chrono::microseconds networkExtra() const;
    void noteHeard(int32_t code, Clock::time_point deadline);

    Line line_;
    std::string device_;
    int32_t baud_ = 0;
    int32_t parity_ = 0;
    bool lost_ = false; // device_ went away; reopen before the next exchange
    int openError_ = 0;
    std::chrono::microseconds allowance_ = DefaultResponseAllowance;
    std::chrono::microseconds networkAllowance_ = DefaultNetworkAllowance;
    std::chrono::milliseconds connectTimeout_ = DefaultConnectTimeout;

    int owed_ = 0;                  // replies still owed to requests sent
    Clock::time_point lastHeard_{}; // the latest request sent or reply heard
    uint8_t lastAddress_ = 0;       // of the latest request
    std::vector<uint16_t> lastRequest_;
    int failedAttempts_ = 0; // of lastRequest_ in a row, without an intact answer
};

} // namespace comm
