#include "AccuracyRecords.h"

#include "CalibrationProtocol.h"
#include "HistoryRecords.h"
#include "HistoryWriter.h"
#include "RecordFile.h"

bool AccuracyRecords::calibrated(const ModuleRecordId& before, const CalibrationResult& calibration,
                                 const std::function<double()>& tolerance) {
    if (!calibration.complete)
        return false;
    ProtocolData data;
    data.module = before;
    data.adjustment = calibration;
    data.adjustment->module = before;
    if (lastCheck_ && lastCheck_->module.serial == before.serial)
        data.asFound = *lastCheck_;
    else
        data.asFound = CheckFromCalibration(*data.adjustment, tolerance());
    lastCheck_.reset(); // the module has changed since
    calibration_ = data;
    calibrationSaved_ = false;
    History::Record(History::ProtocolEntry(data));
    return true;
}

void AccuracyRecords::checked(const CheckResult& check) {
    lastCheck_ = check;
    History::Record(History::CheckEntry(check, QString()));
}

bool AccuracyRecords::checkedAsLeft(const CheckResult& left) {
    if (!calibration_ || left.module.serial != calibration_->module.serial)
        return false;
    calibration_->asLeft = left;
    return true;
}

void SaveProtocol(const ProtocolData& data, const QString& pdfPath, const QString& csvPath) {
    const QList<RecordFile> files = {{pdfPath, ProtocolPdf(data)}, {csvPath, ProtocolCsv(data)}};
    WriteRecordFiles(files);
    History::Record(History::ProtocolEntry(data, files));
}
