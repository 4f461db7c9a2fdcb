// The windows of the accuracy records: the check dialog, the protocol's form
// and its file dialog, and the questions around a calibration, over the
// records of this run (records/AccuracyRecords). The tool asks before the
// last calibration's record is dropped with its protocol unsaved.
#pragma once

#include <QString>
#include <optional>

#include "AccuracyRecords.h"
#include "Profile.h"

class QWidget;

class AccuracyWindows {
  public:
    // Points, tolerance and the protocol's people live in this settings file.
    explicit AccuracyWindows(ProfileFile settings);
    // The one of the program, on the tool's own settings file.
    static AccuracyWindows& program();

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

    bool hasCalibration() const { return records_.calibration().has_value(); }
    // True unless the last calibration's protocol was not saved and the
    // technician, asked, keeps it: before a new calibration, and before the
    // program ends.
    bool mayCalibrate(QWidget* owner) const;
    bool mayQuit(QWidget* owner) const;

    const std::optional<CheckResult>& lastCheck() const { return records_.lastCheck(); }

  private:
    std::optional<CheckResult> check(QWidget* owner);
    bool checkAsLeft(QWidget* owner);
    void saveCalibrationProtocol(QWidget* owner);
    bool makeProtocol(QWidget* owner, ProtocolData data);
    bool mayDrop(QWidget* owner, const QString& question) const;

    ProfileFile settings_;
    AccuracyRecords records_;
};
