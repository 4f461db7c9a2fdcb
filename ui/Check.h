// The accuracy check: leads through the check points of both ranges, shows
// each point's mean, spread, error and verdict, and gives the user's
// measurement mode and integration time back on every close. A point is
// measured between events, one exchange at a time, with its progress on a
// line of its own: the window stays live and "Отмена" stops it at once.
#pragma once

#include <QDeadlineTimer>
#include <QDialog>
#include <QString>
#include <memory>

#include "AccuracyCheck.h"
#include "Profile.h"

class QCloseEvent;
class QTimer;

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
    // starts measuring the point shown; after the last the check is done.
    void btNextClick();
    // Restores the mode and integration time read at creation, if the check
    // switched the module.
    void FormClose();
    // Every way of closing comes here: a point being measured stops, and the
    // close goes ahead once the mode and integration time have been restored,
    // when the module measures as it did before anyway, or when the
    // technician closes without them.
    void done(int result) override;

    bool finished() const { return started_ && check_.finished(); }
    bool measuring() const { return measuring_; }
    const CheckResult& checkResult() const { return check_.result(); }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void Start();
    void ShowPoint();
    void Step();
    void Wait(int milliseconds, const QString& progress);
    void ShowProgress();
    void StopPoint();
    void AddRow(const PointResult& point);
    void Finish();
    bool MayClose();

    std::unique_ptr<Ui::TCheck> ui;
    ProfileFile settings_;
    AccuracyCheck check_;
    bool started_ = false;
    bool measuring_ = false;
    int run_ = 0; // a wait of an earlier run of a point comes to nothing
    QString progress_;
    QDeadlineTimer waitEnd_;
    QTimer* countdown_; // counts down the seconds of a long wait on the progress line
    bool closing = false;
};
