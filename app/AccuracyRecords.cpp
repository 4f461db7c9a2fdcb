#include "AccuracyRecords.h"

#include <QDir>
#include <QStandardPaths>

#include "CalibrationProtocol.h"
#include "Check.h"
#include "Errors.h"
#include "Func.h"
#include "Profile.h"
#include "ProtocolForm.h"
#include "RecordFile.h"
#include "Remember.h"
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
    calibration_ = data;
    calibrationSaved_ = false;
    if (seam::ask(
            owner,
            QStringLiteral("Проверить модуль сейчас (после калибровки)\nи составить протокол?")) &&
        checkAsLeft(owner)) {
        saveCalibrationProtocol(owner);
        return;
    }
    seam::message(owner,
                  QStringLiteral("Протокол калибровки можно составить позже:\n"
                                 "Команды → Протокол последней калибровки..."),
                  QString(), seam::Icon::Information);
}

void AccuracyRecords::calibrationProtocol(QWidget* owner) {
    if (!calibration_)
        return;
    if (!calibration_->asLeft &&
        seam::ask(owner, QStringLiteral("Проверка после калибровки не проводилась.\n"
                                        "Проверить модуль сейчас? («Нет» — протокол без неё)")) &&
        !checkAsLeft(owner))
        return;
    saveCalibrationProtocol(owner);
}

// The check as left goes into the calibration's record when it finished on
// the module that was calibrated.
bool AccuracyRecords::checkAsLeft(QWidget* owner) {
    const auto left = check(owner);
    if (!left)
        return false;
    if (left->module.serial != calibration_->module.serial) {
        seam::message(owner,
                      QStringLiteral("Проверен модуль %1, а калибровался модуль %2:\n"
                                     "проверка не войдёт в протокол калибровки.")
                          .arg(RegistrationText(left->module.serial),
                               RegistrationText(calibration_->module.serial)),
                      QString(), seam::Icon::Warning);
        return false;
    }
    calibration_->asLeft = *left;
    return true;
}

void AccuracyRecords::saveCalibrationProtocol(QWidget* owner) {
    if (makeProtocol(owner, *calibration_))
        calibrationSaved_ = true;
}

bool AccuracyRecords::mayCalibrate(QWidget* owner) const {
    return mayDrop(owner, QStringLiteral(".\nПосле новой калибровки его уже не составить. "
                                         "Продолжить?"));
}

bool AccuracyRecords::mayQuit(QWidget* owner) const {
    return mayDrop(owner, QStringLiteral("\n(Команды → Протокол последней калибровки...).\n"
                                         "Закрыть программу без него?"));
}

bool AccuracyRecords::mayDrop(QWidget* owner, const QString& question) const {
    return !calibration_ || calibrationSaved_ ||
           seam::ask(owner, QStringLiteral("Протокол калибровки модуля %1 не сохранён")
                                    .arg(RegistrationText(calibration_->module.serial)) +
                                question);
}

// The form, then the PDF and its CSV copy as one save. A save that fails
// says why and offers the file dialog again: the protocol is not lost.
bool AccuracyRecords::makeProtocol(QWidget* owner, ProtocolData data) {
    TProtocolForm form(owner, LoadProtocolPeople(settings_), data.title());
    if (form.exec() != QDialog::Accepted)
        return false;
    data.people = form.people();
    Remember(owner, settings_,
             [&](ProfileFile& file) { SaveProtocolPeople(file, data.people); });
    data.made = QDateTime::currentDateTime();
    if (data.people.referenceExpired(data.made.date()))
        seam::message(owner,
                      QStringLiteral("Срок действия калибровки эталона истёк!\n"
                                     "Протокол будет отмечен как составленный с таким эталоном."),
                      QString(), seam::Icon::Warning);

    const QByteArray pdf = ProtocolPdf(data);
    const QByteArray csv = ProtocolCsv(data);
    QString start = QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
                        .filePath(data.fileBaseName() + QStringLiteral(".pdf"));
    for (;;) {
        const QStringList paths = AskSaveFileNamesWithSuffix(
            owner, QStringLiteral("Сохранить протокол"), start, QStringLiteral("Файлы PDF (*.pdf)"),
            QStringLiteral("pdf"), {QStringLiteral("csv")});
        if (paths.isEmpty())
            return false;
        try {
            WriteRecordFiles({{paths[0], pdf}, {paths[1], csv}});
        } catch (const Exception& e) {
            seam::ShowException(e);
            start = paths[0];
            continue;
        }
        seam::message(owner,
                      QStringLiteral("Протокол сохранён:\n") + QDir::toNativeSeparators(paths[0]),
                      QString(), seam::Icon::Information);
        return true;
    }
}
