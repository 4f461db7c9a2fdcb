#include "Calib.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <cmath>
#include <cstdlib>

#include "Convert.h"
#include "Errors.h"
#include "Func.h"
#include "Seam.h"
#include "ui_Calib.h"

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

// A coefficient as its two register words, low word first.
void PutWords(uint16_t* words, uint32_t value) {
    const auto w = reg::SplitWords(value);
    words[0] = w[0];
    words[1] = w[1];
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

// ---- TCalibr1

TCalibr1::TCalibr1(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      ui(std::make_unique<Ui::TCalibr1>()) {
    ui->setupUi(this);
    setFixedSize(size());
    connect(ui->btNext, &QPushButton::clicked, this,
            [this] { seam::Guard([this] { btNextClick(); }); });
    connect(ui->btPrev, &QPushButton::clicked, this,
            [this] { seam::Guard([this] { btPrevClick(); }); });
    connect(ui->btCancel, &QPushButton::clicked, this,
            [this] { seam::Guard([this] { reject(); }); });

    GainCurrent = reg::DefaultGainCurrent;
    OffsetCurrent = reg::DefaultOffsetCurrent;
    GainVoltage = reg::DefaultGainVoltage;
    OffsetVoltage = reg::DefaultOffsetVoltage;
    ReadRegister(reg::Mode, SavedMode);
    ReadRegister(reg::IntegrationTime, SavedIntegrationTime);
    Step = 0;
    ShowStep(0);
}

TCalibr1::~TCalibr1() = default;

void TCalibr1::SwitchMode(uint16_t mode, int pauseMs) {
    WriteRegister(reg::Mode, mode);
    WriteRegister(reg::Apply, UnlockKey);
    seam::pause(pauseMs);
}

// Entering the current range: take the module's coefficients (unless their
// checksum is bad), put back the defaults for any that stray outside their
// window, write all four back and switch the module to current.
void TCalibr1::EnterCurrentRange() {
    uint16_t flags = 0;
    ReadRegister(reg::FlagsA, flags);
    if (!(flags & reg::FlagParamsChecksum)) {
        uint16_t current[4];
        uint16_t voltage[4];
        ReadRegisters(reg::GainCurrent, 4, current);
        ReadRegisters(reg::GainVoltage, 4, voltage);
        GainCurrent = reg::JoinWords(current[0], current[1]);
        OffsetCurrent = reg::JoinWords(current[2], current[3]);
        GainVoltage = reg::JoinWords(voltage[0], voltage[1]);
        OffsetVoltage = reg::JoinWords(voltage[2], voltage[3]);
    }
    GainCurrent = CheckCoefficient(GainCurrent, reg::DefaultGainCurrent, CurrentWindow);
    OffsetCurrent = CheckCoefficient(OffsetCurrent, reg::DefaultOffsetCurrent, CurrentWindow);
    GainVoltage = CheckCoefficient(GainVoltage, reg::DefaultGainVoltage, VoltageWindow);
    OffsetVoltage = CheckCoefficient(OffsetVoltage, reg::DefaultOffsetVoltage, VoltageWindow);

    uint16_t words[4];
    PutWords(words, GainCurrent);
    PutWords(words + 2, OffsetCurrent);
    WriteRegistersUnlocked(reg::GainCurrent, 4, words);
    PutWords(words, GainVoltage);
    PutWords(words + 2, OffsetVoltage);
    WriteRegistersUnlocked(reg::GainVoltage, 4, words);

    SwitchMode(reg::ModeCurrent, 3000);
}

void TCalibr1::ShowStep(int n) {
    if (n < 0 || n > 5)
        return;
    if (n == 0)
        ui->btPrev->hide();
    else if (n <= 4)
        ui->btPrev->show();
    if (n == 1)
        EnterCurrentRange();
    setWindowTitle(QStringLiteral("Калибровка - шаг ") + QString::number(n));
    // Step 5 has no prompt: the line stays empty while the results are written.
    ui->lbTip->setText(n <= 4 ? CalibrationPrompts[static_cast<std::size_t>(n)] : QString());
}

void TCalibr1::btNextClick() {
    const int s = Step;
    if (s >= 5) {
        // Only reachable when restoring the mode and integration time failed
        // after a successful calibration: try closing again.
        done(QDialog::Accepted);
        return;
    }
    if (s > 0) {
        seam::pause(6000);
        uint16_t reading = 0;
        ReadRegister(reg::InputValue, reading);
        if (!ReadingAccepted(s, reading))
            throw Exception(QStringLiteral(
                "Неправильное значение!\nПроверьте подключение\nили исправность модуля"));
        Readings[static_cast<std::size_t>(s)] = reading;
    }
    if (s == 2)
        SwitchMode(reg::ModeVoltage, 4000);
    ShowStep(s + 1);
    if (s == 4)
        ComputeAndFinish();
    Step = s + 1;
}

void TCalibr1::btPrevClick() {
    const int s = Step;
    if (s <= 0)
        return;
    if (s == 3)
        SwitchMode(reg::ModeCurrent, 4000);
    Step = s - 1;
    ShowStep(s - 1);
}

// The new coefficients are computed from those held since step 1 and are not
// taken over into them: should a write fail, accepting step 4 again computes
// the very same values instead of applying the correction twice.
void TCalibr1::ComputeAndFinish() {
    const auto r = [this](int i) {
        return static_cast<int16_t>(Readings[static_cast<std::size_t>(i)]);
    };
    const Coefficients current = CalibrateRange(GainCurrent, OffsetCurrent, r(1), r(2), 2);
    const Coefficients voltage = CalibrateRange(GainVoltage, OffsetVoltage, r(3), r(4), 4);

    const std::pair<uint16_t, uint32_t> writes[] = {
        {reg::GainCurrent, current.gain},
        {reg::OffsetCurrent, current.offset},
        {reg::GainVoltage, voltage.gain},
        {reg::OffsetVoltage, voltage.offset},
    };
    for (const auto& [number, value] : writes) {
        uint16_t words[2];
        PutWords(words, value);
        WriteRegistersUnlocked(number, 2, words);
        seam::pause(20);
    }
    const reg::Date today = Today();
    WriteRegisterUnlocked(reg::CalibrationDate, reg::PackDate(today.day, today.month, today.year));

    seam::message(this, QStringLiteral("Калибровка проведена успешно!"), QString(),
                  seam::Icon::Warning);
    done(QDialog::Accepted);
}

void TCalibr1::FormClose() {
    WriteRegister(reg::Mode, SavedMode);
    WriteRegister(reg::IntegrationTime, SavedIntegrationTime);
}

void TCalibr1::done(int result) {
    if (closing) { // a close event raised by the close itself
        QDialog::done(result);
        return;
    }
    bool restored = false;
    seam::Guard([&] {
        FormClose();
        restored = true;
    });
    if (!restored)
        return; // the wizard stays open and may be closed again
    closing = true;
    QDialog::done(result);
    closing = false;
}

void TCalibr1::closeEvent(QCloseEvent* event) {
    if (closing || !isVisible()) {
        event->accept();
        return;
    }
    done(QDialog::Rejected);
    if (isVisible())
        event->ignore();
    else
        event->accept();
}
