// The accuracy checks of this run of the tool and the protocols made of
// them. A module's last check is the as-found record of a calibration that
// follows it; after a calibration the module is checked as left, and the
// protocol goes out as PDF with a CSV copy beside it.
#pragma once

#include <QString>
#include <optional>

#include "AccuracyCheck.h"
#include "Calibration.h"
#include "Profile.h"
#include "Protocol.h"

class QWidget;

class AccuracyRecords {
  public:
    // Points, tolerance and the protocol's people live in this settings file.
    explicit AccuracyRecords(ProfileFile settings);
    // The one of the program, on the tool's own settings file.
    static AccuracyRecords& program();

    // The menu item: the check dialog; a finished check is kept and may
    // become a protocol of its own (as found only).
    void runCheck(QWidget* owner);
    // After the wizard: `before` is the passport read before it ran. When
    // the calibration went through, asks whether to check the module now and
    // make the protocol.
    void afterCalibration(QWidget* owner, const ModuleRecordId& before,
                          const CalibrationResult& calibration);

    const std::optional<CheckResult>& lastCheck() const { return lastCheck_; }

  private:
    std::optional<CheckResult> check(QWidget* owner);
    void makeProtocol(QWidget* owner, ProtocolData data);

    ProfileFile settings_;
    std::optional<CheckResult> lastCheck_;
};
