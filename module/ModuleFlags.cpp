#include "ModuleFlags.h"

#include "Registers.h"

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
