#include "Calib.h"

#include <QLabel>
#include <QPushButton>

#include "ClosePath.h"
#include "Func.h"
#include "Seam.h"
#include "ui_Calib.h"

// ---- TCalibr1

TCalibr1::TCalibr1(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      ui(std::make_unique<Ui::TCalibr1>()) {
    ui->setupUi(this);
    setFixedSize(size());
    connect(ui->btNext, &QPushButton::clicked, this, seam::Guarded(this, &TCalibr1::btNextClick));
    connect(ui->btPrev, &QPushButton::clicked, this, seam::Guarded(this, &TCalibr1::btPrevClick));
    connect(ui->btCancel, &QPushButton::clicked, this, seam::Guarded(this, &TCalibr1::reject));

    calibration_.saveUserSettings();
    calibration_.setStep(0);
    ShowStep(0);
}

TCalibr1::~TCalibr1() = default;

void TCalibr1::ShowStep(int n) {
    if (n < 0 || n > 5)
        return;
    if (n == 0)
        ui->btPrev->hide();
    else if (n <= 4)
        ui->btPrev->show();
    if (n == 1)
        calibration_.enterCurrentRange();
    setWindowTitle(QStringLiteral("Калибровка - шаг ") + QString::number(n));
    // Step 5 has no prompt: the line stays empty while the results are written.
    ui->lbTip->setText(n <= 4 ? CalibrationPrompts[static_cast<std::size_t>(n)] : QString());
}

void TCalibr1::btNextClick() {
    const int s = calibration_.step();
    if (s >= 5) {
        // Only reachable when restoring the mode and integration time failed
        // after a successful calibration: try closing again.
        done(QDialog::Accepted);
        return;
    }
    if (s > 0)
        calibration_.takeReading(s);
    if (s == 2)
        Calibration::switchMode(reg::ModeVoltage, 4000);
    ShowStep(s + 1);
    if (s == 4)
        ComputeAndFinish();
    calibration_.setStep(s + 1);
}

void TCalibr1::btPrevClick() {
    const int s = calibration_.step();
    if (s <= 0)
        return;
    if (s == 3)
        Calibration::switchMode(reg::ModeCurrent, 4000);
    calibration_.setStep(s - 1);
    ShowStep(s - 1);
}

void TCalibr1::ComputeAndFinish() {
    calibration_.computeAndWrite();
    seam::message(this, QStringLiteral("Калибровка проведена успешно!"), QString(),
                  seam::Icon::Warning);
    done(QDialog::Accepted);
}

void TCalibr1::FormClose() {
    calibration_.restoreUserSettings();
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
    CloseThroughDone(*this, closing, event);
}
