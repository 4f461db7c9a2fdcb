// The module's identity and its service parameters: reading the passport and
// the module's own link, writing them in an order that cannot strand the
// module, and taking the tool's link over to the module's new one.
#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "Registers.h"

// Model names by module type code 1..19 (register 768); index 0 is code 1.
inline constexpr std::array<const char*, 19> ModuleTypeNames = {
    "RK-110",   "RK-130", "LN-A1",  "BX-1",   "RD-220", "RD-210", "RK-120",
    "RK-130.1", "QS-11M", "QS-42M", "QS-31M", "LN-A1X", "LN-A1Y", "PX-7",
    "QS-638",   "QS-639", "QS-730", "QS-740", "QS-519"};

// The name for a type code, "UNKNOWN" outside 1..19.
QString ModuleTypeName(uint16_t code);

namespace module {

// One side of a link: the module's address and the line's speed and parity.
struct LinkParams {
    int address = 0;
    int32_t baud = 0;
    int parity = 0; // 0 none, 1 odd, 2 even
    bool operator==(const LinkParams&) const = default;
};

// The tool's link settings as they stand.
LinkParams CurrentLink();
// "9600 бод, Even, адрес 5", with the parity names of the status line.
QString LinkText(const LinkParams& link);
// "A0042"
QString SerialText(uint16_t serialWord);

// What "Прочитать" finds. Each field is set once its register has been read
// (and, for a date, found valid), so a read that stops half-way leaves the
// fields read before it.
struct ServiceParams {
    std::optional<uint16_t> address;       // 257
    std::optional<int> speedIndex;         // 258: index into reg::Speeds, -1 for no speed
    std::optional<int> parity;             // 259, its low byte (may lie outside 0..2)
    std::optional<uint16_t> typeCode;      // 768
    std::optional<uint16_t> serial;        // 0
    std::optional<uint16_t> version;       // 769
    std::optional<reg::Date> manufactured; // 1
    std::optional<reg::Date> calibrated;   // 256
};

// Reads 257, 258, 259, 768, 0, 769, 1, 256 in this order, one ReadRegister
// each, into `out`. Throws ECommError at a failed exchange, and Exception
// "Некорректная дата изготовления!" or "Некорректная дата калибровки!..." for
// a word that holds no valid date (the calibration date is then not read
// after a bad manufacture date).
void ReadServiceParams(ServiceParams& out);

// What "Записать" sends. The passport goes only with the password.
struct ServiceWrite {
    LinkParams link; // the module's new address, speed, parity
    struct Passport {
        uint16_t serial = 0;    // serial-number word
        reg::Date manufactured; // refused by CheckManufactureYear before any write
    };
    std::optional<Passport> passport;
};

// Refuses a manufacture date that the module cannot store (Exception "Год
// изготовления должен быть от 2001 до 2063!").
void CheckManufactureYear(const reg::Date& made);

// Where a write of the module's address, speed and parity left the module.
// The tool's link settings, and the link it has open, are as before the
// write whatever it says.
struct ModuleLinkOutcome {
    LinkParams before; // the tool's link when the write began
    LinkParams target; // what the module was to be given
    // What the module holds now. After a complete write the target. After a
    // failure: read back where the module answered (a register that could
    // not be read gives the value it acknowledged last), or, when it answers
    // nowhere, the values it acknowledged before it fell silent.
    LinkParams holds;
    bool readBack = false; // `holds` read back from the module, all three registers
    // Where the module answers with its registration number after the write:
    // at the target (it took the values at once) or at the old link (it takes
    // them at its next restart); after a refusal where it refused. Nothing:
    // it answered at none of the links tried.
    std::optional<LinkParams> answersAt;
    uint16_t serial = 0; // its registration number: written, or read first
    // Empty when the module took every value. Otherwise the message of the
    // failure (the module's refusal, or its silence) and what was being
    // written when it came ("адреса", "скорости", "паритета").
    QString failure;
    QString stoppedAt;
    std::vector<LinkParams> silentAt; // where the tool looked for it in vain

    bool complete() const { return failure.isEmpty(); }
    // The module holds another link than the tool's: the tool offers to follow.
    bool linkChanged() const { return holds != before; }
    // It answers at its new link already, so "Нет" to the switch leaves the
    // tool unable to reach it.
    bool movedAlready() const { return answersAt && *answersAt != before; }

    // "Перейти на новые параметры связи (…)?", with what "Нет" means for a
    // module that has moved already.
    QString switchQuestion() const;
    // After a failure where the module answered: what stopped the write,
    // what the module holds and where it answers.
    QString failureReport() const;
    // After a failure where the module answered nowhere: what it had
    // acknowledged, where it was looked for, and the search offered.
    QString silenceQuestion() const;
};

// Writes the module's address (257), speed (258) and parity (259) in this
// order, each followed by a 300 ms pause, talking to the module wherever it
// is: a module that takes a new value at once stops answering at the old
// settings, and the tool then tries the values given so far and follows it
// for the rest. After every value went in, finds where the module answers
// (the target first, then the old link). After a failure half-way, whether
// a refusal or silence, reads back what the module holds where it answered.
// `serial` is the module's registration number, to know it again.
//
// Throws ECommError only for silence while the module's link was still as
// before and nowhere else to look for it: the module was never reached.
ModuleLinkOutcome WriteModuleLink(const LinkParams& target, uint16_t serial);

// Writes the passport (unlocked, while the link is known to work), then the
// module's link with WriteModuleLink. Without a passport, register 0 is read
// first to know the module again afterwards. A failure of the passport or of
// that read throws, with the module's link untouched: ECommError when the
// write of register 0 never went out (the passport is as it was), otherwise
// Exception saying what registers 0 and 1 hold now (read back where the
// module answers, else as far as its answers tell).
ModuleLinkOutcome WriteServiceParams(const ServiceWrite& w);

enum class SwitchResult {
    Switched,     // the tool talks to the module at its new link; saved
    AfterRestart, // the module still answers at the old link only
    OtherModule,  // another module answers at the new link
    NotFound,     // nothing answers at either
};

// After the user's yes: the link settings take the link the module holds,
// OpenPort opens it and register 0 is read there. The same registration
// number: the settings file is saved. Otherwise the link settings go back to
// the old link, OpenPort opens it again and register 0 tells whether the
// module answers there. `found` gets the registration number that answered.
SwitchResult SwitchToModuleLink(const ModuleLinkOutcome& r, uint16_t* found = nullptr);

} // namespace module
