// The line's health in figures: what the register operations' exchanges with
// the module came to, since the start of the program or the last reset, and
// plain rules that say what the figures point to.
//
// The register operations count every exchange through one CountedExchange;
// OpenPort tells the counter of every reopening of the link. Counting is a
// few additions and two readings of a monotonic clock per library call, on
// the user-interface thread only (like the operations themselves).
#pragma once

#include <QString>
#include <QStringList>
#include <array>
#include <chrono>
#include <cstdint>
#include <vector>

#include "FrameLog.h"
#include "comm_mb.h"

// ---- The counts

// What an exchange was for. The register operations talk to the tool's
// module at its link. The bus scan looks at every address, where no answer is
// the usual one: its looks are counted with the rest, but they say nothing
// of the tool's own link ("since the link was last opened" below), and a
// look that found no module is no failure in the advice.
enum class ExchangeKind { Module, ScanLook };

struct LinkCounts {
    // Result codes 0 to 30 are counted each in a slot of its own, every other
    // code (negative ones included) in the last slot.
    static constexpr int CodeSlots = 32;
    static constexpr int slot(int code) {
        return code >= 0 && code < CodeSlots - 1 ? code : CodeSlots - 1;
    }
    // Upper bounds of the response-time classes, ms; the last class is
    // everything longer.
    static constexpr std::array<double, 4> TimeBounds = {10, 50, 100, 250};

    // ---- Since the start of the program or the last reset

    uint64_t exchanges = 0;                // calls of a register operation
    uint64_t attempts = 0;                 // library calls
    std::array<uint64_t, 3> succeededAt{}; // exchanges that succeeded at the 1st, 2nd, 3rd attempt
    std::array<uint64_t, CodeSlots> failedWith{}; // failed exchanges, by the last attempt's code
    std::array<uint64_t, CodeSlots> attemptsFailedWith{}; // failed attempts, by code
    // Looks of the bus scan among the failed exchanges that got no reply:
    // addresses without a module.
    uint64_t silentLooks = 0;
    // The first register of the last failed exchange that drew Modbus
    // exception code i (1 to 8); -1 while none did.
    std::array<int, 9> exceptionRegister = {-1, -1, -1, -1, -1, -1, -1, -1, -1};

    // Times of the successful library calls, ms: the exchange alone, from
    // the request going out to the end of its answer, where the library's
    // records tell it (timesFromLibrary, as for the last call timed);
    // otherwise the whole call, the wait for owed replies included.
    uint64_t timed = 0;
    double lastMs = 0, minMs = 0, maxMs = 0, sumMs = 0;
    std::array<uint64_t, TimeBounds.size() + 1> timeClasses{};
    bool timesFromLibrary = false;

    // The waits for replies still owed to earlier requests before a call's
    // request went out, as the library's records tell them (waitsKnown).
    bool waitsKnown = false;
    uint64_t waits = 0; // calls that waited
    double waitLastMs = 0, waitMaxMs = 0, waitSumMs = 0;

    // ---- Since the link was last opened; kept over a reset, which clears
    // only the figures above, not what is known of the present settings.

    bool portOpen = false; // the last OpenPort succeeded
    bool portLost = false; // the last call found the port failed (an adapter pulled)
    uint64_t exchangesSinceOpen = 0;
    uint64_t attemptsSinceOpen = 0;
    uint64_t silentAttemptsSinceOpen = 0; // attempts that got no reply at all
    uint64_t answeredSinceOpen = 0;       // attempts the module answered: data or an exception
    uint64_t succeededSinceOpen = 0;
    // Exchanges in a row, up to the last one, that failed with no reply.
    uint64_t silentRun = 0;

    uint64_t succeeded() const { return succeededAt[0] + succeededAt[1] + succeededAt[2]; }
    uint64_t failed() const { return exchanges - succeeded(); }
    // What the advice judges: all exchanges but the scan's silent looks.
    uint64_t judged() const { return exchanges - silentLooks; }
    uint64_t judgedFailures() const { return failed() - silentLooks; }
    uint64_t failedAttempts() const { return attempts - succeeded(); }
    // Exchanges that failed with a Modbus exception (codes 1 to 8).
    uint64_t exceptions() const;
    // Failed exchanges and attempts with codes other than exceptions, no reply and CRC.
    uint64_t otherFailures() const;
    uint64_t otherFailedAttempts() const;
    double meanMs() const { return timed ? sumMs / static_cast<double>(timed) : 0; }
};

// ---- The process-wide counter

class LinkStats {
  public:
    using Clock = std::chrono::steady_clock;

    // The one counter of the program, fed by the register operations.
    static LinkStats& global();

    const LinkCounts& counts() const { return c_; }
    // Grows with every change of the counts: a view redraws only when it moved.
    uint64_t changes() const { return changes_; }

    // Clears the figures of the exchanges (not what is known of the present
    // link settings, see LinkCounts).
    void reset();
    // The link was (re)opened with new settings, or failed to open.
    void portOpened(bool opened);

    // One library call of an exchange, its duration and what the library's
    // records tell of it; the exchange's end.
    void attempt(int code, Clock::duration took, const CallTiming& timing = {},
                 ExchangeKind kind = ExchangeKind::Module);
    void exchange(uint16_t first, int attempts, int lastCode,
                  ExchangeKind kind = ExchangeKind::Module);

  private:
    LinkCounts c_;
    uint64_t changes_ = 0;
};

// Counts one exchange of a register operation: each library call goes
// through call(), and the exchange is counted when this goes out of scope,
// by the result of its last call (a failure without any call, when no
// library is bound, counts as an exchange without attempts).
class CountedExchange {
  public:
    explicit CountedExchange(uint16_t first, LinkStats& stats = LinkStats::global(),
                             ExchangeKind kind = ExchangeKind::Module) noexcept
        : stats_(stats), first_(first), kind_(kind) {}
    ~CountedExchange() { stats_.exchange(first_, attempts_, code_, kind_); }
    CountedExchange(const CountedExchange&) = delete;
    CountedExchange& operator=(const CountedExchange&) = delete;

    template <class F, class... Args> int32_t call(F&& library, Args... args) {
        const auto start = LinkStats::Clock::now();
        const int32_t code = library(args...);
        const auto took = LinkStats::Clock::now() - start;
        stats_.attempt(code, took, FrameLog::global().afterCall(), kind_);
        ++attempts_;
        code_ = code;
        return code;
    }

  private:
    LinkStats& stats_;
    uint16_t first_;
    ExchangeKind kind_;
    int attempts_ = 0;
    int32_t code_ = COMM_NOT_OPEN; // what the operation reports when it cannot call
};

// ---- What the figures point to

// One rule: when it holds on the counts, its one or two sentences go into
// the advice. `atLeast` and `share` are its thresholds (how they are used is
// the rule's own: see the table in LinkStats.cpp).
struct LinkRule {
    const char* name;
    uint64_t atLeast;
    double share;
    bool (*holds)(const LinkCounts& c, const LinkRule& rule);
    const char* sentence;       // UTF-8; %1, %2, %3 as filled in by the rule's name
    const char* more = nullptr; // a second sentence, or null
    // Said only when no other rule holds.
    bool fallback = false;
};

// The rules, in the order of their weight.
const std::vector<LinkRule>& LinkRules();

// The sentences of the first rules that hold, at most two sentences in all
// (a rule is said whole or not at all); a fallback only when nothing else holds.
QStringList LinkAdvice(const LinkCounts& c);

// ---- The figures as the window and the report show them

struct LinkFigure {
    QString name;
    QString value;
};
struct LinkFigureGroup {
    QString title;
    std::vector<LinkFigure> figures;
};
std::vector<LinkFigureGroup> LinkFigures(const LinkCounts& c);

// The window's top line: the status line of the main window, and what the
// last call found of the port.
QString LinkStateLine(const LinkCounts& c);

// Plain text for a service report: a heading with `when` and the link state,
// the figures and the advice.
QString LinkReport(const LinkCounts& c, const QString& linkState, const QString& when);
