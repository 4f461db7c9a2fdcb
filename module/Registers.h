// The module's holding registers, who may read and write each, the formats
// packed into them, and the module's link values (speeds, addresses, the
// factory link).
//
// Every register is one 16-bit word; the tool reads with Modbus function 3 and
// writes with function 16. Each packed format is encoded and decoded here and
// nowhere else. Header-only and free of Qt, so the simulated module uses the
// very same definitions.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

namespace reg {

// Passport
constexpr uint16_t SerialNumber = 0;    // serial-number word
constexpr uint16_t ManufactureDate = 1; // PackedDate
// Calibration coefficients, 32-bit unsigned, low word in the lower register
constexpr uint16_t GainCurrent = 8;
constexpr uint16_t OffsetCurrent = 10;
constexpr uint16_t GainVoltage = 12;
constexpr uint16_t OffsetVoltage = 14;
constexpr uint16_t CalibrationDate = 256; // PackedDate
// The module's own link parameters
constexpr uint16_t OwnAddress = 257; // MinAddress..MaxAddress
constexpr uint16_t OwnSpeed = 258;   // speed code (bit/s / 100)
constexpr uint16_t OwnParity = 259;  // ParityOfWord
constexpr uint16_t RestartCounter = 260;
// Measurement parameters
constexpr uint16_t Mode = 264;            // 1 current, 2 voltage
constexpr uint16_t IntegrationTime = 265; // ms
// Identification
constexpr uint16_t TypeCode = 768;
constexpr uint16_t Version = 769; // version word
// Live data
constexpr uint16_t FlagsA = 1024;
constexpr uint16_t InputValue = 1025; // uA in current mode, mV in voltage mode
constexpr uint16_t FlagsB = 1026;
// Commands (write only)
constexpr uint16_t Apply = 1911;  // takes UnlockKey: apply the measurement parameters
constexpr uint16_t Unlock = 1912; // takes UnlockKey: unlock the next protected write

constexpr uint16_t UnlockKey = 0x5A3C;

// Modbus slave addresses a module may have (0 is the broadcast address,
// 248..255 are reserved).
constexpr int MinAddress = 1;
constexpr int MaxAddress = 247;

// A new module's link, which is also the tool's while its settings file says
// nothing else.
constexpr int FactoryBaud = 19200;
constexpr int FactoryParity = 2; // even
constexpr int FactoryAddress = 1;

constexpr uint16_t ModeCurrent = 1;
constexpr uint16_t ModeVoltage = 2;

// The module type this tool serves.
constexpr uint16_t TypeQS730 = 17;

// Status flags A (register 1024)
constexpr uint16_t FlagInRAM = 0x0001;
constexpr uint16_t FlagFLASH = 0x0004;
constexpr uint16_t FlagParamsChecksum = 0x0008;
constexpr uint16_t FlagADC = 0x0010;
// Status flags B (register 1026)
constexpr uint16_t FlagOutOfRange = 0x0001;
constexpr uint16_t FlagDataInvalid = 0x0002;

// ---- Access to each register. No other register is accessed.

// Locked: written only right after UnlockKey went to Unlock. Applied: takes
// effect only when UnlockKey goes to Apply.
enum Access : uint8_t { Read = 1, Write = 2, Locked = 4, Applied = 8 };

struct Register {
    uint16_t first;
    uint16_t count;
    uint8_t access;
};

constexpr Register Map[] = {
    {SerialNumber, 2, Read | Write | Locked},    // serial-number word, PackedDate
    {GainCurrent, 8, Read | Write | Locked},     // the four 32-bit coefficients
    {CalibrationDate, 1, Read | Write | Locked}, // PackedDate
    {OwnAddress, 4, Read | Write},               // address, speed code, parity word, restarts
    {Mode, 2, Read | Write | Applied},           // mode, integration time
    {TypeCode, 2, Read},                         // type code, version word
    {FlagsA, 3, Read},                           // status flags A, input value, status flags B
    {Apply, 2, Write},                           // Apply, Unlock: UnlockKey only, never read
};

// The access bits of register r; 0 outside the map.
constexpr uint8_t AccessOf(uint16_t r) {
    for (const Register& e : Map)
        if (r >= e.first && r - e.first < e.count)
            return e.access;
    return 0;
}
constexpr bool IsReadable(uint16_t r) {
    return AccessOf(r) & Read;
}
constexpr bool IsWritable(uint16_t r) {
    return AccessOf(r) & Write;
}
constexpr bool IsProtected(uint16_t r) {
    return AccessOf(r) & Locked;
}

// ---- Serial-number word: bits 0-10 the number, bits 11-15 letter index + 1.

// letterIndex 0 = 'A' .. 25 = 'Z'. The sum is kept to 16 bits, as the module
// does; callers refuse a number outside 0..2047 before they get here.
constexpr uint16_t EncodeSerial(int letterIndex, int number) {
    return static_cast<uint16_t>((number + (letterIndex + 1) * 2048) & 0xFFFF);
}
constexpr int SerialNumberPart(uint16_t word) {
    return word & 0x7FF;
}
// -1 when the word carries no letter (letter code 0); may exceed 25 for codes 27..31.
constexpr int SerialLetterIndex(uint16_t word) {
    return (word & 0xF800) / 2048 - 1;
}
constexpr int MaxSerialNumber = 2047;

// ---- PackedDate: day in bits 0-4; bit 5 selects the layout.

struct Date {
    int day = 0;
    int month = 0;
    int year = 0; // year within the century
};

constexpr int MaxPackedYear = 63;

// Always the layout with bit 5 set.
constexpr uint16_t PackDate(int day, int month, int year) {
    return static_cast<uint16_t>((day & 0x1F) | 0x20 | ((month & 0x0F) << 6) |
                                 (((year % 100) & 0x3F) << 10));
}

constexpr Date UnpackDate(uint16_t w) {
    Date d;
    d.day = w & 0x1F;
    if (w & 0x20) {
        d.month = (w >> 6) & 0x0F;
        d.year = (w >> 10) & 0x3F;
    } else {
        d.month = (w >> 8) & 0x0F;
        d.year = (w >> 12) & 0x0F;
    }
    return d;
}

// The two-digit year is taken as the year itself: year 0 is not a date, and
// February has 29 days in every year divisible by 4.
constexpr bool IsValidDate(const Date& d) {
    if (d.year < 1 || d.month < 1 || d.month > 12 || d.day < 1)
        return false;
    constexpr int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int len = days[d.month - 1];
    if (d.month == 2 && d.year % 4 == 0)
        len = 29;
    return d.day <= len;
}

// "dd.mm.yy"
inline std::string DateText(const Date& d) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%02d", d.day % 100, d.month % 100, d.year % 100);
    return buf;
}

// ---- Parity word (register 259): only the low byte counts.

constexpr int MaxParity = 2; // 0 none, 1 odd, 2 even
constexpr int ParityOfWord(uint16_t w) {
    return w & 0xFF;
}

// ---- Speed code (register 258) and the speed list shared by the dialogs.

constexpr std::array<int, 8> Speeds = {2400, 4800, 9600, 19200, 28800, 38400, 57600, 115200};

constexpr uint16_t SpeedCode(int baud) {
    return static_cast<uint16_t>(baud / 100);
}

// Index into Speeds, or -1.
constexpr int SpeedIndex(long long baud) {
    for (std::size_t i = 0; i < Speeds.size(); ++i)
        if (Speeds[i] == baud)
            return static_cast<int>(i);
    return -1;
}

// Index into Speeds, or -1 when the code matches no speed (every speed is a
// whole number of hundreds).
constexpr int SpeedIndexOfCode(uint16_t code) {
    return SpeedIndex(code * 100LL);
}

// ---- Version word: high byte major, low byte minor, "%02hd.%02hd".

inline std::string VersionText(uint16_t w) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02hd.%02hd", static_cast<short>(w >> 8),
                  static_cast<short>(w & 0xFF));
    return buf;
}

// ---- 32-bit coefficients: two words, low word first.

constexpr uint32_t JoinWords(uint16_t low, uint16_t high) {
    return static_cast<uint32_t>(low) | (static_cast<uint32_t>(high) << 16);
}
constexpr std::array<uint16_t, 2> SplitWords(uint32_t v) {
    return {static_cast<uint16_t>(v & 0xFFFF), static_cast<uint16_t>(v >> 16)};
}

constexpr uint32_t DefaultGainCurrent = 10094759;
constexpr uint32_t DefaultOffsetCurrent = 1769246;
constexpr uint32_t DefaultGainVoltage = 8085460;
constexpr uint32_t DefaultOffsetVoltage = 1770476;

} // namespace reg
