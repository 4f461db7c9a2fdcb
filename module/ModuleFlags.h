// The module's six error flags as the tool shows them: the bits of registers
// 1024 and 1026 in the order of the main window's labels, and their captions.
#pragma once

#include <QStringList>
#include <cstdint>

// The six flags as bits 0 to 5, in the order of the labels from top to bottom.
constexpr int FlagCount = 6;
uint8_t FlagBits(uint16_t flagsA, uint16_t flagsB);
// The captions of those labels, in the same order.
const QStringList& FlagCaptions();
// The captions of the flags raised in `bits`.
QStringList FlagNames(uint8_t bits);
