// The calibration wizard: five steps that measure the reference signals at
// both ends of the current and the voltage range, compute the module's four
// calibration coefficients, write them with the calibration date and restore
// the user's measurement mode and integration time on every close.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <memory>

#include "Calibration.h"

class QCloseEvent;

namespace Ui {
class TCalibr1;
}

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
    // Restores the mode and integration time saved at creation and has the
    // module apply them.
    void FormClose();

    // Every way of closing (Cancel, Escape, the end of the calibration, a
    // close request) comes here: the close goes ahead only once the mode and
    // integration time have been restored; otherwise the error is shown and
    // the wizard stays open.
    void done(int result) override;

    int step() const { return calibration_.step(); }
    uint16_t savedMode() const { return calibration_.savedMode(); }
    uint16_t savedIntegrationTime() const { return calibration_.savedIntegrationTime(); }
    uint32_t gainCurrent() const { return calibration_.held()[0]; }
    uint32_t offsetCurrent() const { return calibration_.held()[1]; }
    uint32_t gainVoltage() const { return calibration_.held()[2]; }
    uint32_t offsetVoltage() const { return calibration_.held()[3]; }
    // What this calibration found and wrote so far.
    const CalibrationResult& calibrationResult() const { return calibration_.result(); }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void ComputeAndFinish();

    std::unique_ptr<Ui::TCalibr1> ui;
    Calibration calibration_; // step, readings, coefficients
    bool closing = false;
};
