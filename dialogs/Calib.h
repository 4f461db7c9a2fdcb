// The calibration wizard: five steps that measure the reference signals at
// both ends of the current and the voltage range, compute the module's four
// calibration coefficients, write them with the calibration date and restore
// the user's measurement mode and integration time on every close.
#pragma once

#include <QDialog>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>

class QCloseEvent;

namespace Ui {
class TCalibr1;
}

// The prompt of each step 0..4 (there is none for step 5).
extern const std::array<QString, 5> CalibrationPrompts;
// The reading (register 1025: uA in current mode, mV in voltage mode) each
// step 1..4 expects; index 0 is unused.
constexpr std::array<int, 5> ExpectedReadings = {0, 2000, 20000, 1000, 10000};
constexpr int ReadingTolerance = 400;

// The windows around the default coefficients: 1 % of the range's default gain.
constexpr uint32_t CurrentWindow = 100947;
constexpr uint32_t VoltageWindow = 80854;

struct Coefficients {
    uint32_t gain = 0;
    uint32_t offset = 0;
};

// The new gain and offset of one range from the readings at its low and high
// reference (2 and 20 mA with factor 2, 1 and 10 V with factor 4). Computed in
// double precision from the coefficients held before; each result truncated
// toward zero and kept to its low 32 bits.
Coefficients CalibrateRange(uint32_t gain, uint32_t offset, int16_t lowReading, int16_t highReading,
                            int factor);

// `value`, or `def` when `value` lies more than `window` away from it.
uint32_t CheckCoefficient(uint32_t value, uint32_t def, uint32_t window);

// Whether a reading (unsigned 16 bits) is accepted at step 1..4.
bool ReadingAccepted(int step, uint16_t reading);

class TCalibr1 : public QDialog {
    Q_OBJECT
  public:
    // Reads the user's mode and integration time; a link failure throws
    // ECommError and no wizard comes into being.
    explicit TCalibr1(QWidget* parent = nullptr);
    ~TCalibr1() override;

    void ShowStep(int n);
    void btNextClick();
    void btPrevClick();
    // Restores the mode and integration time saved at creation.
    void FormClose();

    // Every way of closing (Cancel, Escape, the end of the calibration, a
    // close request) comes here: the close goes ahead only once the mode and
    // integration time have been restored; otherwise the error is shown and
    // the wizard stays open.
    void done(int result) override;

    int step() const { return Step; }
    uint16_t savedMode() const { return SavedMode; }
    uint16_t savedIntegrationTime() const { return SavedIntegrationTime; }
    uint32_t gainCurrent() const { return GainCurrent; }
    uint32_t offsetCurrent() const { return OffsetCurrent; }
    uint32_t gainVoltage() const { return GainVoltage; }
    uint32_t offsetVoltage() const { return OffsetVoltage; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void EnterCurrentRange();
    void SwitchMode(uint16_t mode, int pauseMs);
    void ComputeAndFinish();

    std::unique_ptr<Ui::TCalibr1> ui;
    int Step = 0;
    uint16_t SavedMode = 0;
    uint16_t SavedIntegrationTime = 0;
    std::array<uint16_t, 5> Readings{}; // R1..R4 at 1..4
    uint32_t GainCurrent = 0;
    uint32_t OffsetCurrent = 0;
    uint32_t GainVoltage = 0;
    uint32_t OffsetVoltage = 0;
    bool closing = false;
};
