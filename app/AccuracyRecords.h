// The accuracy checks of this run of the tool and the protocols made of
// them. A module's last check is the as-found record of a calibration that
// follows it; after a calibration the module is checked as left. The record
// of the last calibration stays until the program ends, and the tool asks
// before one whose protocol was not saved is dropped. A protocol goes out as
// PDF with a CSV copy beside it, the two as one save.
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
    // the calibration went through, it becomes the last calibration's record,
    // and the tool asks whether to check the module now and make the protocol.
    void afterCalibration(QWidget* owner, const ModuleRecordId& before,
                          const CalibrationResult& calibration);
    // The menu item "Протокол последней калибровки...": offers the check as
    // left if none was taken, then makes the protocol.
    void calibrationProtocol(QWidget* owner);

    bool hasCalibration() const { return calibration_.has_value(); }
    // True unless the last calibration's protocol was not saved and the
    // technician, asked, keeps it: before a new calibration, and before the
    // program ends.
    bool mayCalibrate(QWidget* owner) const;
    bool mayQuit(QWidget* owner) const;

    const std::optional<CheckResult>& lastCheck() const { return lastCheck_; }

  private:
    std::optional<CheckResult> check(QWidget* owner);
    bool checkAsLeft(QWidget* owner);
    void saveCalibrationProtocol(QWidget* owner);
    bool makeProtocol(QWidget* owner, ProtocolData data);
    bool mayDrop(QWidget* owner, const QString& question) const;

    ProfileFile settings_;
    std::optional<CheckResult> lastCheck_;
    std::optional<ProtocolData> calibration_; // the last one: as found, adjustment, as left
    bool calibrationSaved_ = false;           // its protocol was saved
};
