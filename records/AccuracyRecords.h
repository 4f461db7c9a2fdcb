// The accuracy checks of this run of the tool and the calibration protocol's
// record, without windows. A module's last check is the as-found record of a
// calibration that follows it; after a calibration the module is checked as
// left. The record of the last calibration stays until the program ends,
// with whether its protocol was saved. A protocol goes out as PDF with a CSV
// copy beside it, the two as one save. The windows that lead through all
// this are ui/AccuracyWindows.
#pragma once

#include <QString>
#include <functional>
#include <optional>

#include "AccuracyCheck.h"
#include "Calibration.h"
#include "Protocol.h"

class AccuracyRecords {
  public:
    // A finished check: the last one, the as-found record of a calibration
    // of its module that follows. It goes into the module's history, as
    // does a calibration that went through and a protocol saved.
    void checked(const CheckResult& check);
    const std::optional<CheckResult>& lastCheck() const { return lastCheck_; }

    // After the wizard: a calibration that went through becomes the last
    // calibration's record, `before` being the passport read before it ran.
    // As found it has the last check when that was of the same module, else
    // the calibration's own readings judged with the tolerance `tolerance`
    // gives (asked for only then). The last check goes: the module has
    // changed since. False, and nothing kept, for a calibration that did not
    // go through.
    bool calibrated(const ModuleRecordId& before, const CalibrationResult& calibration,
                    const std::function<double()>& tolerance);
    const std::optional<ProtocolData>& calibration() const { return calibration_; }

    // A check as left goes into the calibration's record when it was of the
    // module that was calibrated; false, and nothing kept, otherwise.
    bool checkedAsLeft(const CheckResult& left);

    // The last calibration's protocol was saved; until then it is unsaved.
    void calibrationProtocolSaved() { calibrationSaved_ = true; }
    bool calibrationUnsaved() const { return calibration_ && !calibrationSaved_; }

  private:
    std::optional<CheckResult> lastCheck_;
    std::optional<ProtocolData> calibration_; // the last one: as found, adjustment, as left
    bool calibrationSaved_ = false;           // its protocol was saved
};

// The protocol as its PDF at `pdfPath` and its CSV copy at `csvPath`, as one
// save (RecordFile.h): both are in place afterwards, or neither changed.
void SaveProtocol(const ProtocolData& data, const QString& pdfPath, const QString& csvPath);
