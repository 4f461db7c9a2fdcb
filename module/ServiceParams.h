// The module's identity and its service parameters: reading the passport and
// the module's own link, writing them in an order that cannot strand the
// module, and taking the tool's link over to the module's new one.
#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <optional>

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

struct WriteResult {
    LinkParams before;   // the tool's link when the write began
    LinkParams written;  // what the module was given
    uint16_t serial = 0; // its registration number: written, or read first
    bool linkChanged() const { return written != before; }
};

// Writes the passport (unlocked, while the link is known to work), then the
// address, speed and parity, each followed by a 300 ms pause. A module that
// takes a new value at once stops answering at the old settings: the tool
// then tries the values given so far and follows the module for the rest.
// When the module answers at neither, throws Exception with what happened.
// Before the link parameters of an unchanged passport, register 0 is read
// to know the module again afterwards. The tool's link settings, and the
// link it has open, are as before when this returns or throws.
WriteResult WriteServiceParams(const ServiceWrite& w);

enum class SwitchResult {
    Switched,     // the tool talks to the module at its new link; saved
    AfterRestart, // the module still answers at the old link only
    OtherModule,  // another module answers at the new link
    NotFound,     // nothing answers at either
};

// After the user's yes: the link settings take the module's new link,
// OpenPort opens it and register 0 is read there. The same registration
// number: the settings file is saved. Otherwise the link settings go back to
// the old link, OpenPort opens it again and register 0 tells whether the
// module answers there. `found` gets the registration number that answered.
SwitchResult SwitchToModuleLink(const WriteResult& r, uint16_t* found = nullptr);

} // namespace module
