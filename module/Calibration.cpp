#include "Calibration.h"

#include <QDate>
#include <cmath>
#include <cstdlib>

#include "Convert.h"
#include "Func.h"
#include "Seam.h"

const std::array<QString, 5> CalibrationPrompts = {
    QStringLiteral("Вас приветствует мастер калибровки!"),
    QStringLiteral("Подайте на вход(клеммы \"11\"+ \"10\"- )  ток  2 мА"),
    QStringLiteral("Подайте на вход(клеммы \"11\"+ \"10\"- )  ток  20 мА"),
    QStringLiteral("Подайте на вход(клеммы \"9\"+ \"12\"-)  напряжение  1 В"),
    QStringLiteral("Подайте на вход(клеммы \"9\"+ \"12\"-)  напряжение  10 В"),
};

namespace {

// The nominal low and high readings after doubling (current) or quadrupling
// (voltage): 2 x 2000 and 2 x 20000, 4 x 1000 and 4 x 10000.
constexpr double NominalLow = 4000.0;
constexpr double NominalHigh = 40000.0;

constexpr std::array<uint32_t, 4> Windows = {CurrentWindow, CurrentWindow, VoltageWindow,
                                             VoltageWindow};

// Truncated toward zero, then its low 32 bits (two's complement for negative
// values). A value that is no number at all (the readings of a range equal)
// cannot come out of the wizard, whose readings lie far apart; it gives 0
// rather than undefined behaviour.
uint32_t Low32(double v) {
    if (!std::isfinite(v))
        return 0;
    constexpr double TwoTo32 = 4294967296.0;
    double m = std::fmod(std::trunc(v), TwoTo32);
    if (m < 0)
        m += TwoTo32;
    return static_cast<uint32_t>(m);
}

// Two coefficients as their four register words, low word first.
void PutWords(uint16_t* words, uint32_t first, uint32_t second) {
    const auto a = reg::SplitWords(first);
    const auto b = reg::SplitWords(second);
    words[0] = a[0];
    words[1] = a[1];
    words[2] = b[0];
    words[3] = b[1];
}

} // namespace

Coefficients CalibrateRange(uint32_t gain, uint32_t offset, int16_t lowReading, int16_t highReading,
                            int factor) {
    const double a = gain;
    const double b = offset;
    const double x1 = static_cast<double>(factor) * lowReading;
    const double x2 = static_cast<double>(factor) * highReading;
    const double span = NominalHigh - NominalLow;
    const double newGain = a * span / (x2 - x1);
    const double t = (NominalLow * x2 - NominalHigh * x1) / (a * std::ldexp(1.0, -28) * span);
    return {Low32(newGain), Low32(b - t)};
}

uint32_t CheckCoefficient(uint32_t value, uint32_t def, uint32_t window) {
    const int64_t diff = static_cast<int64_t>(value) - static_cast<int64_t>(def);
    return std::llabs(diff) > static_cast<int64_t>(window) ? def : value;
}

bool ReadingAccepted(int step, uint16_t reading) {
    if (step < 1 || step > 4)
        return false;
    return std::abs(static_cast<int>(reading) - ExpectedReadings[static_cast<std::size_t>(step)]) <=
           ReadingTolerance;
}

ModuleRecordId ReadModuleRecordId() {
    ModuleRecordId id;
    uint16_t passport[2] = {};
    uint16_t identification[2] = {};
    ReadRegisters(reg::SerialNumber, 2, passport);
    ReadRegister(reg::CalibrationDate, id.calibrationDate);
    ReadRegisters(reg::TypeCode, 2, identification);
    id.serial = passport[0];
    id.manufactureDate = passport[1];
    id.type = identification[0];
    id.version = identification[1];
    return id;
}

QString RegistrationText(uint16_t serialWord, const QString& noLetter) {
    const int letter = reg::SerialLetterIndex(serialWord);
    const QString number =
        QStringLiteral("%1").arg(reg::SerialNumberPart(serialWord), 4, 10, QLatin1Char('0'));
    if (letter < 0 || letter > 25)
        return noLetter + number;
    return QChar(QLatin1Char(static_cast<char>('A' + letter))) + number;
}

QString PackedDateText(uint16_t packed) {
    const reg::Date d = reg::UnpackDate(packed);
    if (!reg::IsValidDate(d))
        return QStringLiteral("—");
    return QDate(2000 + d.year, d.month, d.day).toString(QStringLiteral("dd.MM.yyyy"));
}

CoefficientSet DefaultCoefficients() {
    return {reg::DefaultGainCurrent, reg::DefaultOffsetCurrent, reg::DefaultGainVoltage,
            reg::DefaultOffsetVoltage};
}

CoefficientSet ReadCoefficients() {
    uint16_t current[4];
    uint16_t voltage[4];
    ReadRegisters(reg::GainCurrent, 4, current);
    ReadRegisters(reg::GainVoltage, 4, voltage);
    return {reg::JoinWords(current[0], current[1]), reg::JoinWords(current[2], current[3]),
            reg::JoinWords(voltage[0], voltage[1]), reg::JoinWords(voltage[2], voltage[3])};
}

void WriteCoefficients(const CoefficientSet& c) {
    constexpr std::array<uint16_t, 4> numbers = {reg::GainCurrent, reg::OffsetCurrent,
                                                 reg::GainVoltage, reg::OffsetVoltage};
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        const auto w = reg::SplitWords(c[i]);
        const uint16_t words[2] = {w[0], w[1]};
        WriteRegistersUnlocked(numbers[i], 2, words);
        seam::pause(20);
    }
}

// ---- Calibration

Calibration::Calibration() {
    result_.asRead = DefaultCoefficients();
    result_.held = DefaultCoefficients();
}

void Calibration::saveUserSettings() {
    ReadRegister(reg::Mode, savedMode_);
    ReadRegister(reg::IntegrationTime, savedIntegrationTime_);
}

void Calibration::switchMode(uint16_t mode, int pauseMs) {
    WriteRegister(reg::Mode, mode);
    WriteRegister(reg::Apply, UnlockKey);
    seam::pause(pauseMs);
}

void Calibration::enterCurrentRange() {
    CoefficientSet& held = result_.held;
    uint16_t flags = 0;
    ReadRegister(reg::FlagsA, flags);
    result_.checksumError = flags & reg::FlagParamsChecksum;
    if (!result_.checksumError)
        held = ReadCoefficients();
    result_.asRead = held;
    const CoefficientSet defaults = DefaultCoefficients();
    for (std::size_t i = 0; i < held.size(); ++i) {
        held[i] = CheckCoefficient(held[i], defaults[i], Windows[i]);
        result_.reset[i] = held[i] != result_.asRead[i];
    }

    uint16_t words[4];
    PutWords(words, held[0], held[1]);
    WriteRegistersUnlocked(reg::GainCurrent, 4, words);
    PutWords(words, held[2], held[3]);
    WriteRegistersUnlocked(reg::GainVoltage, 4, words);

    switchMode(reg::ModeCurrent, 3000);
}

void Calibration::takeReading(int step) {
    seam::pause(6000);
    uint16_t reading = 0;
    ReadRegister(reg::InputValue, reading);
    if (!ReadingAccepted(step, reading))
        throw Exception(QStringLiteral(
            "Неправильное значение!\nПроверьте подключение\nили исправность модуля"));
    result_.readings[static_cast<std::size_t>(step - 1)] = reading;
}

void Calibration::computeAndWrite() {
    const auto r = [this](int i) {
        return static_cast<int16_t>(result_.readings[static_cast<std::size_t>(i)]);
    };
    const CoefficientSet& held = result_.held;
    const Coefficients current = CalibrateRange(held[0], held[1], r(0), r(1), 2);
    const Coefficients voltage = CalibrateRange(held[2], held[3], r(2), r(3), 4);
    result_.written = {current.gain, current.offset, voltage.gain, voltage.offset};

    WriteCoefficients(result_.written);
    const reg::Date today = Today();
    const uint16_t date = reg::PackDate(today.day, today.month, today.year);
    WriteRegisterUnlocked(reg::CalibrationDate, date);
    result_.dateWritten = date;
    result_.complete = true;
}

void Calibration::restoreUserSettings() const {
    WriteRegister(reg::Mode, savedMode_);
    WriteRegister(reg::IntegrationTime, savedIntegrationTime_);
    // Applied, so that the module measures what register 264 says: left
    // unapplied, a wizard closed in the voltage range would go on measuring
    // millivolts under a mode register that reads current.
    WriteRegister(reg::Apply, UnlockKey);
}
