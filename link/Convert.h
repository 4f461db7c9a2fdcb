// Conversions of typed text, with the toolkit's wording for their errors.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

#include "Registers.h"

// Whole text as a 32-bit integer: leading blanks, an optional sign, then
// decimal digits, or hexadecimal digits after "$" or "0x"/"0X". Anything else
// (empty text, trailing blanks, overflow) fails.
std::optional<int32_t> TryStrToInt(const QString& text);
// Throws EConvertError "'<text>' is not a valid integer value".
int32_t StrToInt(const QString& text);

// "dd.mm.yy" (one or two digits each, blanks around the parts allowed) as a
// calendar date; the two-digit year counts as 2000 + yy for leap years.
std::optional<reg::Date> TryStrToDate(const QString& text);
// Throws EConvertError "'<text>' is not a valid date".
reg::Date StrToDate(const QString& text);

// Today's date as a PackedDate-ready Date (year within the century).
reg::Date Today();

// Checks of typed values, each raising Exception with its message:
// an address outside 1..247 ("Адрес должен быть от 1 до 247!"), a serial
// number outside 0..2047, which would spill into the letter bits
// ("Номер модуля должен быть от 0 до 2047!").
void CheckModuleAddress(int32_t address);
void CheckSerialNumber(int32_t number);

// Typed number to a register word with a range check.
// kind 2: signed decimal (-32768..32767); kind 3: hexadecimal; any other
// kind: unsigned decimal (0..65535). Reads one number from the start of the
// text, ignores the rest; no number at all gives 0. Out of range throws
// Exception "Значение <text> выходит за пределы ...!".
uint16_t ParseWord(const QString& text, uint8_t kind);
