// What a frame on the line means, in the module's own terms: which
// registers a request reads or writes, what a reply holds, and what went
// wrong. Read through the register table (Registers.h); no widgets.
#pragma once

#include <QString>
#include <cstdint>

#include "comm_mb.h"

// What a reply is checked against: the function and registers of the request
// it answers.
struct RequestShape {
    bool known = false;
    uint8_t function = 0;
    uint16_t first = 0;
    uint16_t count = 0;
};

// The shape of a request frame as it went out; not known for bytes that are
// no whole request with a right CRC.
RequestShape ShapeOfRequest(const comm_frame& request);

// The Modbus RTU CRC of `length` bytes; it goes on the line low byte first.
uint16_t ModbusCrc(const uint8_t* data, int length);

// Whether the frame's bytes are a whole RTU frame (at least four bytes with
// a right CRC).
bool IsWholeFrame(const uint8_t* data, int length);

struct FrameMeaning {
    QString text;
    bool failed = false; // the row stands out: it is not what a healthy exchange shows
};

// `request` is the shape of the request a reply answers (unknown for the
// other kinds). Examples: "Чтение 1024-1026 (флаги, значение, флаги)",
// "значение 12003, флаги: нет", "Запись 1912 = ключ (разблокировка)",
// "исключение 2: Недопустимый адрес данных", "CRC неверна",
// "нет ответа за 257 мс", "запоздавший ответ отброшен",
// "поиск: 9600 бод Odd — Чтение 768 (тип модуля)". A Modbus TCP frame
// (COMM_FRAME_MBAP) is read as the RTU frame it stands for, after its header:
// "MBAP: транзакция 5, протокол 0, длина 6, устройство 1 — Чтение 768 (тип
// модуля)".
FrameMeaning MeaningOf(const comm_frame& frame, const RequestShape& request);

// MeaningOf(frame, ...).failed without making the text.
bool FrameFailed(const comm_frame& frame);

// The row that stands for records the library's ring lost before the tool
// read them.
FrameMeaning LostMeaning(uint64_t records);

// The bytes in hex, "01 03 04 00 00 03 44 3B".
QString HexBytes(const comm_frame& frame);
