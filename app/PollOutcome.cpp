#include "PollOutcome.h"

#include <QDateTime>
#include <QElapsedTimer>

#include "Registers.h"

PollClock PollClocks = {[] { return QDateTime::currentMSecsSinceEpoch(); },
                        [] {
                            static const QElapsedTimer start = [] {
                                QElapsedTimer t;
                                t.start();
                                return t;
                            }();
                            return start.elapsed();
                        }};

QString UnitText(uint16_t mode) {
    switch (mode) {
    case reg::ModeCurrent:
        return QStringLiteral("мкА");
    case reg::ModeVoltage:
        return QStringLiteral("мВ");
    default:
        return QStringLiteral("мВ/мкА");
    }
}

uint8_t FlagBits(uint16_t flagsA, uint16_t flagsB) {
    const bool raised[FlagCount] = {
        (flagsA & reg::FlagInRAM) != 0,          (flagsA & reg::FlagFLASH) != 0,
        (flagsA & reg::FlagParamsChecksum) != 0, (flagsA & reg::FlagADC) != 0,
        (flagsB & reg::FlagOutOfRange) != 0,     (flagsB & reg::FlagDataInvalid) != 0};
    uint8_t bits = 0;
    for (int i = 0; i < FlagCount; ++i)
        if (raised[i])
            bits |= static_cast<uint8_t>(1u << i);
    return bits;
}

const QStringList& FlagCaptions() {
    static const QStringList captions = {
        QStringLiteral("Ошибка внутреннего ОЗУ"), QStringLiteral("Ошибка КС FLASH"),
        QStringLiteral("Ошибка КС параметров"),   QStringLiteral("Ошибка чтения АЦП"),
        QStringLiteral("Выход за диапазон"),      QStringLiteral("Данные некорректны")};
    return captions;
}

QStringList FlagNames(uint8_t bits) {
    QStringList names;
    for (int i = 0; i < FlagCount; ++i)
        if (bits & (1u << i))
            names << FlagCaptions()[i];
    return names;
}
