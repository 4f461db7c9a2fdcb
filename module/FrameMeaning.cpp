#include "FrameMeaning.h"

#include <QStringList>
#include <algorithm>
#include <cstring>

#include "Calibration.h"
#include "Errors.h"
#include "Func.h"
#include "PollOutcome.h"
#include "Registers.h"
#include "Rtu.h"

namespace {

constexpr uint8_t ReadFunction = 3;
constexpr uint8_t WriteFunction = 16;

uint16_t Word(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

// The register's short name in a row.
QString RegisterName(uint16_t r) {
    using namespace reg;
    switch (r) {
    case SerialNumber:
        return QStringLiteral("серийный номер");
    case ManufactureDate:
        return QStringLiteral("дата изготовления");
    case CalibrationDate:
        return QStringLiteral("дата калибровки");
    case OwnAddress:
        return QStringLiteral("адрес");
    case OwnSpeed:
        return QStringLiteral("скорость");
    case OwnParity:
        return QStringLiteral("чётность");
    case RestartCounter:
        return QStringLiteral("рестарты");
    case Mode:
        return QStringLiteral("режим");
    case IntegrationTime:
        return QStringLiteral("время интегрирования");
    case TypeCode:
        return QStringLiteral("тип модуля");
    case Version:
        return QStringLiteral("версия");
    case FlagsA:
    case FlagsB:
        return QStringLiteral("флаги");
    case InputValue:
        return QStringLiteral("значение");
    case Apply:
        return QStringLiteral("применить");
    case Unlock:
        return QStringLiteral("разблокировка");
    default:
        break;
    }
    if (r >= GainCurrent && r < OffsetVoltage + 2) {
        static const char* const names[] = {"усиление тока", "смещение тока", "усиление напряжения",
                                            "смещение напряжения"};
        return QString::fromUtf8(names[(r - GainCurrent) / 2]) +
               ((r - GainCurrent) % 2 ? QStringLiteral(", ст.") : QStringLiteral(", мл."));
    }
    return QStringLiteral("нет в карте");
}

// A register's value as the module's windows show it.
QString RegisterValue(uint16_t r, uint16_t v) {
    using namespace reg;
    switch (r) {
    case SerialNumber:
        return RegistrationText(v, QStringLiteral("?"));
    case ManufactureDate:
    case CalibrationDate:
        return QString::fromStdString(DateText(UnpackDate(v)));
    case OwnSpeed:
        return QString::number(v * 100) + QStringLiteral(" бод");
    case OwnParity:
        return ParityName(ParityOfWord(v));
    case Mode:
        return v == ModeCurrent   ? QStringLiteral("ток")
               : v == ModeVoltage ? QStringLiteral("напряжение")
                                  : QString::number(v);
    case IntegrationTime:
        return QString::number(v) + QStringLiteral(" мс");
    case Version:
        return QString::fromStdString(VersionText(v));
    case Apply:
    case Unlock:
        return v == reg::UnlockKey ? QStringLiteral("ключ") : QString::number(v);
    default:
        return QString::number(v);
    }
}

QString Range(uint16_t first, uint16_t count) {
    return count > 1 ? QStringLiteral("%1-%2").arg(first).arg(first + count - 1)
                     : QString::number(first);
}

QString Names(uint16_t first, uint16_t count) {
    QStringList names;
    for (int i = 0; i < count && i < 4; ++i)
        names << RegisterName(static_cast<uint16_t>(first + i));
    return QStringLiteral(" (") + names.join(QStringLiteral(", ")) +
           (count > 4 ? QStringLiteral(", ...)") : QStringLiteral(")"));
}

QString RequestText(const comm_frame& f) {
    const RequestShape s = ShapeOfRequest(f);
    if (!s.known)
        return QStringLiteral("запрос не по форме");
    if (s.function == ReadFunction)
        return QStringLiteral("Чтение ") + Range(s.first, s.count) + Names(s.first, s.count);
    if (s.function == WriteFunction) {
        QStringList values;
        for (int i = 0; i < s.count && 7 + 2 * i + 1 < f.length - 2; ++i)
            values << RegisterValue(static_cast<uint16_t>(s.first + i), Word(f.data + 7 + 2 * i));
        return QStringLiteral("Запись ") + Range(s.first, s.count) + QStringLiteral(" = ") +
               values.join(QStringLiteral(", ")) + Names(s.first, s.count);
    }
    return QStringLiteral("Функция %1").arg(s.function);
}

// Bytes of the whole reply to the request, 0 when not known.
int ReplyLength(const RequestShape& s) {
    if (!s.known)
        return 0;
    return s.function == ReadFunction ? 5 + 2 * s.count : 8;
}

QString ReadValues(const comm_frame& f, const RequestShape& s) {
    const int words = std::min<int>(s.count, (f.length - 5) / 2);
    if (s.first == reg::FlagsA && words == 3) { // the poll
        const QStringList flags = FlagNames(FlagBits(Word(f.data + 3), Word(f.data + 7)));
        return QStringLiteral("значение %1, флаги: %2")
            .arg(Word(f.data + 5))
            .arg(flags.isEmpty() ? QStringLiteral("нет") : flags.join(QStringLiteral(", ")));
    }
    QStringList parts;
    for (int i = 0; i < words; ++i) {
        const auto r = static_cast<uint16_t>(s.first + i);
        const uint16_t v = Word(f.data + 3 + 2 * i);
        if (r == reg::FlagsA || r == reg::FlagsB) {
            const QStringList flags = FlagNames(r == reg::FlagsA ? FlagBits(v, 0) : FlagBits(0, v));
            parts << QStringLiteral("флаги: ") + (flags.isEmpty()
                                                      ? QStringLiteral("нет")
                                                      : flags.join(QStringLiteral(", ")));
        } else {
            parts << RegisterName(r) + QLatin1Char(' ') + RegisterValue(r, v);
        }
    }
    return parts.join(QStringLiteral(", "));
}

QString ReplyText(const comm_frame& f, const RequestShape& s) {
    const int code = f.code;
    if (code == COMM_OK) {
        if (s.known && s.function == ReadFunction)
            return ReadValues(f, s);
        if (s.known && s.function == WriteFunction)
            return QStringLiteral("запись подтверждена");
        return QStringLiteral("ответ");
    }
    if (code >= 1 && code <= 11) {
        // 10 and 11 are a gateway's own: the module behind it not reached.
        const QString name = code <= 8 || code == 10 || code == 11
                                 ? QStringLiteral(": ") + ECommError::messageFor(code)
                                 : QString();
        return QStringLiteral("исключение %1").arg(code) + name;
    }
    switch (code) {
    case COMM_BAD_CRC:
        return QStringLiteral("CRC неверна");
    case COMM_WRONG_SLAVE:
        return QStringLiteral("ответ с чужого адреса %1").arg(f.length > 0 ? f.data[0] : 0);
    case COMM_NO_REPLY: {
        const int whole = ReplyLength(s);
        return whole > f.length
                   ? QStringLiteral("ответ оборван: %1 из %2 байт").arg(f.length).arg(whole)
                   : QStringLiteral("ответ оборван: %1 байт").arg(f.length);
    }
    default:
        return QStringLiteral("ответ не по форме (код %1)").arg(code);
    }
}

QString Ms(int64_t us) {
    return QString::number((us + 500) / 1000);
}

// A Modbus TCP frame's header: transaction, protocol, length, unit.
constexpr int MbapHeader = 7;

bool IsMbap(const comm_frame& f) {
    return (f.flags & COMM_FRAME_MBAP) != 0;
}

// "MBAP: транзакция 5, протокол 0, длина 6, устройство 1"; what is there of
// it for a frame cut short.
QString MbapText(const comm_frame& f) {
    if (f.length < MbapHeader)
        return QStringLiteral("MBAP: заголовок оборван (%1 байт)").arg(f.length);
    return QStringLiteral("MBAP: транзакция %1, протокол %2, длина %3, устройство %4")
        .arg(Word(f.data))
        .arg(Word(f.data + 2))
        .arg(Word(f.data + 4))
        .arg(f.data[6]);
}

// The RTU frame a Modbus TCP frame stands for: the unit and the PDU, with
// their CRC put on. Frames of a serial line stay as they are.
comm_frame AsRtu(const comm_frame& f) {
    if (!IsMbap(f))
        return f;
    comm_frame r = f;
    r.flags = static_cast<uint8_t>(r.flags & ~COMM_FRAME_MBAP);
    if (f.length < MbapHeader) {
        r.length = 0;
        return r;
    }
    const int body = std::min<int>(f.length - 6, COMM_FRAME_BYTES - 2);
    std::memcpy(r.data, f.data + 6, static_cast<std::size_t>(body));
    const uint16_t crc = ModbusCrc(r.data, body);
    r.data[body] = static_cast<uint8_t>(crc & 0xFF);
    r.data[body + 1] = static_cast<uint8_t>(crc >> 8);
    r.length = static_cast<uint16_t>(body + 2);
    return r;
}

// A Modbus TCP reply the library threw away at once.
QString MbapStrayText(const comm_frame& f) {
    switch (f.code) {
    case COMM_WRONG_SLAVE:
        return QStringLiteral("ответ не на этот запрос (чужая транзакция или протокол) отброшен");
    case COMM_BAD_REPLY:
        return QStringLiteral("ответ отброшен: длина MBAP не сходится с байтами");
    case COMM_NO_REPLY:
        return QStringLiteral("ответ оборван и отброшен");
    default:
        return QStringLiteral("байты без запроса отброшены");
    }
}

} // namespace

RequestShape ShapeOfRequest(const comm_frame& frame) {
    const comm_frame f = AsRtu(frame);
    RequestShape s;
    if (f.length < 8 || !IsWholeFrame(f.data, f.length))
        return s;
    s.function = f.data[1];
    s.first = Word(f.data + 2);
    s.count = Word(f.data + 4);
    s.known = s.function != WriteFunction || f.length == 9 + 2 * s.count;
    return s;
}

uint16_t ModbusCrc(const uint8_t* data, int length) {
    return rtu::crc16(data, static_cast<std::size_t>(std::max(length, 0)));
}

bool IsWholeFrame(const uint8_t* data, int length) {
    return length >= 4 && rtu::crcFits(data, static_cast<std::size_t>(length));
}

bool FrameFailed(const comm_frame& f) {
    switch (f.kind) {
    case COMM_FRAME_REQUEST: // the port did not take it
    case COMM_FRAME_REPLY:   // anything but the answer asked for
        return f.code != COMM_OK;
    case COMM_FRAME_WAIT:
        return false;
    default: // late replies, stray bytes, silence, and what is not known
        return true;
    }
}

// What a frame of a serial line (or the RTU frame a Modbus TCP frame stands
// for) means.
static FrameMeaning MeaningOfRtu(const comm_frame& f, const RequestShape& request) {
    FrameMeaning m;
    m.failed = FrameFailed(f);
    switch (f.kind) {
    case COMM_FRAME_REQUEST:
        m.text = RequestText(f);
        if (f.attempt > 1)
            m.text += QStringLiteral(", попытка %1").arg(f.attempt);
        if (f.code != COMM_OK)
            m.text += QStringLiteral(": порт не принял запрос");
        if (f.flags & COMM_FRAME_SEARCH)
            m.text = QStringLiteral("поиск: %1 бод %2 — ").arg(f.baud).arg(ParityName(f.parity)) +
                     m.text;
        break;
    case COMM_FRAME_REPLY:
        m.text = ReplyText(f, request);
        break;
    case COMM_FRAME_LATE:
        m.text = QStringLiteral("запоздавший ответ отброшен");
        break;
    case COMM_FRAME_STRAY:
        m.text = QStringLiteral("байты без запроса отброшены");
        if (!IsWholeFrame(f.data, f.length))
            m.text += QStringLiteral(" (не кадр Modbus)");
        break;
    case COMM_FRAME_SILENCE:
        m.text = f.code == COMM_IO_ERROR
                     ? QStringLiteral("порт отказал")
                     : QStringLiteral("нет ответа за %1 мс").arg(Ms(f.end_us - f.time_us));
        break;
    case COMM_FRAME_WAIT:
        m.text = QStringLiteral("ожидание запоздавших ответов %1 мс").arg(Ms(f.end_us - f.time_us));
        break;
    default:
        m.text = QStringLiteral("неизвестная запись (вид %1)").arg(f.kind);
        break;
    }
    if (f.dropped > 0)
        m.text += QStringLiteral("; длиннее любого кадра: ещё %1 байт не показаны").arg(f.dropped);
    return m;
}

FrameMeaning MeaningOf(const comm_frame& frame, const RequestShape& request) {
    FrameMeaning m = MeaningOfRtu(AsRtu(frame), request);
    if (!IsMbap(frame))
        return m;
    if (frame.kind == COMM_FRAME_STRAY)
        m.text = MbapStrayText(frame);
    if (frame.length > 0)
        m.text = MbapText(frame) + QStringLiteral(" — ") + m.text;
    return m;
}

FrameMeaning LostMeaning(uint64_t records) {
    return {QStringLiteral("потеряно кадров: %1 (буфер библиотеки переполнился)").arg(records),
            true};
}

QString HexBytes(const comm_frame& f) {
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(f.data), f.length).toHex(' ').toUpper());
}
