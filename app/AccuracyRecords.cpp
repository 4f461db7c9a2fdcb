#include "AccuracyRecords.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include "CalibrationProtocol.h"
#include "Check.h"
#include "Errors.h"
#include "Func.h"
#include "Profile.h"
#include "ProtocolForm.h"
#include "SaveAs.h"
#include "Seam.h"

AccuracyRecords::AccuracyRecords(ProfileFile settings) : settings_(std::move(settings)) {}

AccuracyRecords& AccuracyRecords::program() {
    static AccuracyRecords records(ToolSettingsFile());
    return records;
}

std::optional<CheckResult> AccuracyRecords::check(QWidget* owner) {
    TCheck dialog(owner, settings_); // reads the mode and time it restores at the end
    if (dialog.exec() != QDialog::Accepted || !dialog.finished())
        return std::nullopt;
    lastCheck_ = dialog.checkResult();
    return lastCheck_;
}

void AccuracyRecords::runCheck(QWidget* owner) {
    const auto found = check(owner);
    if (!found || !seam::ask(owner, QStringLiteral("Составить протокол проверки?")))
        return;
    ProtocolData data;
    data.module = found->module;
    data.asFound = *found;
    makeProtocol(owner, data);
}

void AccuracyRecords::afterCalibration(QWidget* owner, const ModuleRecordId& before,
                                       const CalibrationResult& calibration) {
    if (!calibration.complete)
        return;
    ProtocolData data;
    data.module = before;
    data.adjustment = calibration;
    data.adjustment->module = before;
    if (lastCheck_ && lastCheck_->module.serial == before.serial) {
        data.asFound = *lastCheck_;
    } else {
        const double tolerance = LoadCheckSettings(settings_).tolerancePercent;
        data.asFound = CheckFromCalibration(*data.adjustment, tolerance);
    }
    lastCheck_.reset(); // the module has changed since
    if (!seam::ask(owner, QStringLiteral(
                              "Проверить модуль сейчас (после калибровки)\nи составить протокол?")))
        return;
    const auto left = check(owner);
    if (!left)
        return;
    data.asLeft = *left;
    makeProtocol(owner, data);
}

void AccuracyRecords::makeProtocol(QWidget* owner, ProtocolData data) {
    TProtocolForm form(owner, LoadProtocolPeople(settings_));
    if (form.exec() != QDialog::Accepted)
        return;
    data.people = form.people();
    SaveProtocolPeople(settings_, data.people);
    data.made = QDateTime::currentDateTime();
    if (data.people.referenceExpired(data.made.date()))
        seam::message(owner,
                      QStringLiteral("Срок действия калибровки эталона истёк!\n"
                                     "Протокол будет отмечен как составленный с таким эталоном."),
                      QString(), seam::Icon::Warning);

    const QString suggested =
        QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
            .filePath(data.fileBaseName() + QStringLiteral(".pdf"));
    QString path = AskSaveFileName(owner, QStringLiteral("Сохранить протокол"), suggested,
                                   QStringLiteral("Файлы PDF (*.pdf)"), true);
    if (path.isEmpty())
        return;
    if (!path.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive))
        path += QStringLiteral(".pdf");
    WriteProtocolPdf(data, path);

    const QFileInfo pdf(path);
    const QString csvPath = pdf.dir().filePath(pdf.completeBaseName() + QStringLiteral(".csv"));
    QSaveFile csv(csvPath);
    if (!csv.open(QIODevice::WriteOnly) || csv.write(ProtocolCsv(data)) < 0 || !csv.commit())
        throw Exception(QStringLiteral("Unable to write to ") + csvPath);
    seam::message(owner, QStringLiteral("Протокол сохранён:\n") + QDir::toNativeSeparators(path),
                  QString(), seam::Icon::Information);
}
