#include "AccuracyWindows.h"

#include <QDir>
#include <QStandardPaths>

#include "Check.h"
#include "Errors.h"
#include "Func.h"
#include "HistoryRecords.h"
#include "HistoryWriter.h"
#include "ProtocolForm.h"
#include "Remember.h"
#include "SaveAs.h"
#include "Seam.h"

AccuracyWindows::AccuracyWindows(ProfileFile settings) : settings_(std::move(settings)) {}

AccuracyWindows& AccuracyWindows::program() {
    static AccuracyWindows windows(ToolSettingsFile());
    return windows;
}

std::optional<CheckResult> AccuracyWindows::check(QWidget* owner) {
    TCheck dialog(owner, settings_); // reads the mode and time it restores at the end
    if (dialog.exec() != QDialog::Accepted || !dialog.finished())
        return std::nullopt;
    records_.checked(dialog.checkResult());
    return records_.lastCheck();
}

void AccuracyWindows::runCheck(QWidget* owner) {
    const auto found = check(owner);
    if (!found || !seam::ask(owner, QStringLiteral("Составить протокол проверки?")))
        return;
    ProtocolData data;
    data.module = found->module;
    data.asFound = *found;
    makeProtocol(owner, data);
}

void AccuracyWindows::afterCalibration(QWidget* owner, const ModuleRecordId& before,
                                       const CalibrationResult& calibration) {
    const bool kept = records_.calibrated(before, calibration, [&] {
        const double tolerance = LoadCheckSettings(settings_).tolerancePercent;
        TellIgnoredSettings(owner);
        return tolerance;
    });
    if (!kept)
        return;
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

void AccuracyWindows::calibrationProtocol(QWidget* owner) {
    if (!records_.calibration())
        return;
    if (!records_.calibration()->asLeft &&
        seam::ask(owner, QStringLiteral("Проверка после калибровки не проводилась.\n"
                                        "Проверить модуль сейчас? («Нет» — протокол без неё)")) &&
        !checkAsLeft(owner))
        return;
    saveCalibrationProtocol(owner);
}

// The check as left goes into the calibration's record when it finished on
// the module that was calibrated.
bool AccuracyWindows::checkAsLeft(QWidget* owner) {
    const auto left = check(owner);
    if (!left)
        return false;
    if (!records_.checkedAsLeft(*left)) {
        seam::message(owner,
                      QStringLiteral("Проверен модуль %1, а калибровался модуль %2:\n"
                                     "проверка не войдёт в протокол калибровки.")
                          .arg(RegistrationText(left->module.serial),
                               RegistrationText(records_.calibration()->module.serial)),
                      QString(), seam::Icon::Warning);
        return false;
    }
    return true;
}

void AccuracyWindows::saveCalibrationProtocol(QWidget* owner) {
    if (makeProtocol(owner, *records_.calibration()))
        records_.calibrationProtocolSaved();
}

bool AccuracyWindows::mayCalibrate(QWidget* owner) const {
    return mayDrop(owner, QStringLiteral(".\nПосле новой калибровки его уже не составить. "
                                         "Продолжить?"));
}

bool AccuracyWindows::mayQuit(QWidget* owner) const {
    return mayDrop(owner, QStringLiteral("\n(Команды → Протокол последней калибровки...).\n"
                                         "Закрыть программу без него?"));
}

bool AccuracyWindows::mayDrop(QWidget* owner, const QString& question) const {
    return !records_.calibrationUnsaved() ||
           seam::ask(owner, QStringLiteral("Протокол калибровки модуля %1 не сохранён")
                                    .arg(RegistrationText(records_.calibration()->module.serial)) +
                                question);
}

// The form, then the PDF and its CSV copy as one save. A save that fails
// says why and offers the file dialog again: the protocol is not lost.
bool AccuracyWindows::makeProtocol(QWidget* owner, ProtocolData data) {
    TProtocolForm form(owner, LoadProtocolPeople(settings_), data.title());
    if (form.exec() != QDialog::Accepted)
        return false;
    data.people = form.people();
    Remember(owner, settings_, [&](ProfileFile& file) { SaveProtocolPeople(file, data.people); });
    data.made = QDateTime::currentDateTime();
    data.intervalMonths = History::IntervalFor(History::RegistrationOf(data.module.serial));
    if (data.people.referenceExpired(data.made.date()))
        seam::message(owner,
                      QStringLiteral("Срок действия калибровки эталона истёк!\n"
                                     "Протокол будет отмечен как составленный с таким эталоном."),
                      QString(), seam::Icon::Warning);

    QString start = QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
                        .filePath(data.fileBaseName() + QStringLiteral(".pdf"));
    for (;;) {
        const QStringList paths = AskSaveFileNamesWithSuffix(
            owner, QStringLiteral("Сохранить протокол"), start, QStringLiteral("Файлы PDF (*.pdf)"),
            QStringLiteral("pdf"), {QStringLiteral("csv")});
        if (paths.isEmpty())
            return false;
        try {
            SaveProtocol(data, paths[0], paths[1]);
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
