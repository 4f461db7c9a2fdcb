// The accuracy check: leads through the check points of both ranges, shows
// each point's mean, spread, error and verdict, and gives the user's
// measurement mode and integration time back on every close.
#pragma once

#include <QDialog>
#include <QString>
#include <memory>

#include "AccuracyCheck.h"
#include "Profile.h"

class QCloseEvent;

namespace Ui {
class TCheck;
}

class TCheck : public QDialog {
    Q_OBJECT
  public:
    // Reads the module's passport, mode and integration time; a link failure
    // throws ECommError and no dialog comes into being. The points and the
    // tolerance come from, and go back to, the settings file `file`.
    TCheck(QWidget* parent, const ProfileFile& file);
    ~TCheck() override;

    // The first press takes the points and the tolerance; each further one
    // measures the point shown; after the last the check is done.
    void btNextClick();
    // Restores the mode and integration time read at creation.
    void FormClose();
    // Every way of closing comes here: the close goes ahead only once the
    // mode and integration time have been restored.
    void done(int result) override;

    bool finished() const { return started_ && check_.finished(); }
    const CheckResult& checkResult() const { return check_.result(); }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void Start();
    void ShowPoint();
    void AddRow(const PointResult& point);
    void Finish();

    std::unique_ptr<Ui::TCheck> ui;
    ProfileFile settings_;
    AccuracyCheck check_;
    bool started_ = false;
    bool closing = false;
};
