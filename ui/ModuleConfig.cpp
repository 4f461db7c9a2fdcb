#include "ModuleConfig.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <algorithm>
#include <functional>

#include "Errors.h"
#include "Func.h"
#include "HistoryRecords.h"
#include "HistoryWriter.h"
#include "Modulparams.h"
#include "Passw.h"
#include "RecordFile.h"
#include "SaveAs.h"
#include "SaveName.h"
#include "Seam.h"
#include "ServiceParams.h"
#include "VersionInfo.h"
#include "ui_ModuleConfig.h"

using config::Param;

namespace {

// A configuration file as it is on disk, for the module's history.
QByteArray FileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.read(1 << 20) : QByteArray();
}

// The module's new address, speed and parity, written the safe way of the
// service dialog, and what came of it told with the same offer to follow the
// module. The one place where a configuration write changes the module's
// link; no poll goes to a link on the move.
void WriteModuleLink(QWidget* owner, const module::LinkParams& link) {
    const PollHold hold;
    OfferModuleLink(owner, module::WriteServiceParams({link, std::nullopt}));
}

// One step of a write: what it sends, as the messages name it.
struct Step {
    QString what;
    std::vector<Param> params;
    std::function<void()> run;
};

std::vector<Step> StepsOf(QWidget* owner, const config::WritePlan& plan) {
    const config::Configuration& f = plan.file;
    std::vector<Step> steps = {
        {QStringLiteral("режим измерения и время интегрирования"),
         {config::MeasurementParams.begin(), config::MeasurementParams.end()},
         [&f] { config::WriteMeasurement(f); }}};
    if (plan.calibration)
        steps.push_back({QStringLiteral("коэффициенты и дата калибровки"),
                         {config::CalibrationParams.begin(), config::CalibrationParams.end()},
                         [&f] { config::WriteCalibration(f); }});
    if (plan.link)
        steps.push_back({QStringLiteral("адрес, скорость и паритет"),
                         {config::LinkSettingParams.begin(), config::LinkSettingParams.end()},
                         [owner, &f] { WriteModuleLink(owner, config::LinkOf(f)); }});
    return steps;
}

QString MessageOf(const std::exception& e) {
    const auto* own = dynamic_cast<const Exception*>(&e);
    return own ? own->message() : QString::fromLocal8Bit(e.what());
}

QString Joined(const std::vector<Step>& steps, std::size_t from, std::size_t to) {
    QStringList names;
    for (std::size_t i = from; i < to; ++i)
        names << steps[i].what;
    return names.isEmpty() ? QStringLiteral("ничего") : names.join(QStringLiteral("; "));
}

// How far a write came: the steps done, and why it stopped before the rest.
struct Progress {
    std::size_t done = 0;
    QString failure;       // the error of step `done`
    bool canceled = false; // "Отмена" before step `done`
    QString readFailure;   // the read-back's error
    bool stopped() const { return canceled || !failure.isEmpty(); }
};

// What the tool says at the end of a write: what went into the module, what
// it holds now, and where it answers. `clean` when all of it went as planned.
QString Outcome(const ConfigWriteRecord& r, const std::vector<Step>& steps, const Progress& run,
                bool& clean) {
    clean = false;
    const std::size_t done = run.done;
    const QString serial = config::ValueText(Param::Serial, r.before[Param::Serial]);
    QString text;
    if (run.stopped()) {
        text = run.canceled
                   ? QStringLiteral("Запись конфигурации в модуль %1 остановлена кнопкой "
                                    "«Отмена» перед шагом «%2».\n\n")
                         .arg(serial, steps[done].what)
                   : QStringLiteral("Запись конфигурации в модуль %1 прервана на шаге «%2»:\n"
                                    "%3\n\n")
                         .arg(serial, steps[done].what, run.failure);
        text += QStringLiteral("Записано: %1.\n").arg(Joined(steps, 0, done));
        const std::size_t next = run.canceled ? done : done + 1;
        if (next < steps.size())
            text += QStringLiteral("Не записывалось: %1.\n").arg(Joined(steps, next, steps.size()));
    } else {
        text = QStringLiteral("Конфигурация из файла %1 записана в модуль %2.\n")
                   .arg(QuotedPath(QFileInfo(r.path).fileName()), serial);
    }
    // What the write touched: the steps done and one that failed.
    std::vector<Param> touched;
    const std::size_t reached = run.failure.isEmpty() ? done : done + 1;
    for (std::size_t i = 0; i < steps.size() && i < reached; ++i)
        touched.insert(touched.end(), steps[i].params.begin(), steps[i].params.end());
    const QString here = module::LinkText(module::CurrentLink());
    if (!run.readFailure.isEmpty()) {
        text += QStringLiteral("Прочитать модуль обратно не удалось: на параметрах связи "
                               "программы (%1) он не отвечает (%2).")
                    .arg(here, run.readFailure);
        if (std::find(touched.begin(), touched.end(), Param::Address) != touched.end())
            text += QStringLiteral(" С новыми адресом, скоростью и паритетом он должен отвечать "
                                   "на %1.")
                        .arg(module::LinkText(config::LinkOf(r.file)));
        return text;
    }
    QStringList differ;
    for (Param p : touched)
        if (r.after[p] != r.file[p])
            differ << QStringLiteral("«%1»").arg(config::ParamName(p));
    text += QStringLiteral("Модуль прочитан обратно на параметрах связи %1: ").arg(here);
    if (!differ.isEmpty())
        text += QStringLiteral("от файла отличаются %1.").arg(differ.join(QStringLiteral(", ")));
    else if (!run.stopped())
        text += QStringLiteral("записанные параметры совпадают с файлом.");
    else
        text += QStringLiteral("параметры, которых касалась запись, совпадают с файлом.");
    if (!r.wasWritten(Param::GainCurrent) && !run.stopped())
        text += QStringLiteral("\nКоэффициенты и дата калибровки не записывались.");
    clean = !run.stopped() && differ.isEmpty();
    return text;
}

QString TimeText(const QDateTime& t) {
    return t.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
}

const QColor Differs(255, 210, 210);

} // namespace

TModConfig::TModConfig(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      ui(std::make_unique<Ui::TModConfig>()) {
    ui->setupUi(this);
    for (QTableWidget* t : {ui->tbSettings, ui->tbUnit}) {
        t->setColumnCount(4);
        t->setHorizontalHeaderLabels({QStringLiteral("Параметр"), QStringLiteral("В модуле"),
                                      QStringLiteral("В файле"), QStringLiteral("Совпадает")});
        t->verticalHeader()->hide();
        t->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
        t->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    }
    connect(ui->btRead, &QPushButton::clicked, this, seam::Guarded(this, &TModConfig::btReadClick));
    connect(ui->btSave, &QPushButton::clicked, this, seam::Guarded(this, &TModConfig::btSaveClick));
    connect(ui->btCompare, &QPushButton::clicked, this,
            seam::Guarded(this, &TModConfig::btCompareClick));
    connect(ui->btWrite, &QPushButton::clicked, this,
            seam::Guarded(this, &TModConfig::btWriteClick));
    connect(ui->btReport, &QPushButton::clicked, this,
            seam::Guarded(this, &TModConfig::btReportClick));
    connect(ui->btClose, &QPushButton::clicked, this, &QDialog::reject);
    showTables();
}

TModConfig::~TModConfig() = default;

void TModConfig::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!readOnShow_)
        return;
    readOnShow_ = false;
    QTimer::singleShot(0, this, seam::Guarded(this, &TModConfig::btReadClick));
}

void TModConfig::btReadClick() {
    readModule();
}

void TModConfig::btSaveClick() {
    readModule();
    const QString path = AskSaveFileNameWithSuffix(
        this, QStringLiteral("Сохранить конфигурацию модуля"),
        SuggestedSavePath(Saved::Configuration, QDateTime::currentDateTime(),
                          module_[Param::Serial]),
        QStringLiteral("Конфигурация модуля (*.json)"), QStringLiteral("json"));
    if (path.isEmpty())
        return;
    config::Configuration saved = module_;
    saved.program = ProgramNameAndVersion();
    const QByteArray json = config::ConfigurationJson(saved);
    WriteRecordFile(path, json);
    History::Record(History::ConfigEntry(History::Kind::ConfigSaved, saved, path, json));
    filePath_ = path;
    seam::message(this,
                  QStringLiteral("Конфигурация сохранена:\n") + QDir::toNativeSeparators(path),
                  QString(), seam::Icon::Information);
}

void TModConfig::btCompareClick() {
    const QString path = askFile(QStringLiteral("Сравнить с файлом конфигурации"));
    if (path.isEmpty())
        return;
    const config::Configuration file = config::LoadConfiguration(path);
    readModule();
    showFile(path, file);
    History::Record(History::ConfigEntry(History::Kind::ConfigCompared, module_, path,
                                         FileBytes(path), ui->lbNotes->text()));
}

void TModConfig::btWriteClick() {
    const QString path = askFile(QStringLiteral("Записать конфигурацию из файла"));
    if (path.isEmpty())
        return;
    const config::Configuration file = config::LoadConfiguration(path);
    readModule(); // what the checks go by
    showFile(path, file);
    const config::WritePlan plan =
        config::PlanWrite(file, module_, ui->chbCalibration->isChecked());
    if (confirm(plan, path))
        write(plan, path);
}

void TModConfig::btReportClick() {
    if (!lastWrite_)
        return;
    const QString path = AskSaveFileNameWithSuffix(
        this, QStringLiteral("Сохранить отчёт о записи"),
        SuggestedSavePath(Saved::ConfigReport, lastWrite_->when, lastWrite_->before[Param::Serial]),
        QStringLiteral("Файлы PDF (*.pdf)"), QStringLiteral("pdf"));
    if (path.isEmpty())
        return;
    WriteRecordFile(path, ConfigReportPdf(*lastWrite_));
    seam::message(this, QStringLiteral("Отчёт сохранён:\n") + QDir::toNativeSeparators(path),
                  QString(), seam::Icon::Information);
}

void TModConfig::readModule() {
    module_ = {};
    try {
        config::ReadConfiguration(module_);
    } catch (...) {
        showTables(); // what was read before the failure
        throw;
    }
    showTables();
}

QString TModConfig::askFile(const QString& caption) {
    const QString start = filePath_.isEmpty() ? DocumentsOrHomeFolder() : filePath_;
    const QString path = AskOpenFileName(this, caption, start,
                                         QStringLiteral("Конфигурация модуля (*.json);;"
                                                        "Все файлы (*)"));
    if (!path.isEmpty())
        filePath_ = path;
    return path;
}

void TModConfig::showFile(const QString& path, const config::Configuration& file) {
    file_ = file;
    shownPath_ = path;
    showTables();
}

void TModConfig::showTables() {
    fillTable(ui->tbSettings, config::SettingParams);
    fillTable(ui->tbUnit, config::UnitParams);
    ui->lbModule->setText(module_[Param::Type]
                              ? QStringLiteral("Модуль: %1, рег. номер %2, версия ПО %3 "
                                               "(прочитан %4)")
                                    .arg(config::ValueText(Param::Type, module_[Param::Type]),
                                         config::ValueText(Param::Serial, module_[Param::Serial]),
                                         config::ValueText(Param::Version, module_[Param::Version]),
                                         TimeText(module_.read))
                              : QStringLiteral("Модуль: не прочитан"));
    if (!file_) {
        ui->lbFile->setText(QStringLiteral("Файл: не выбран"));
        ui->lbNotes->clear();
        ui->lbNotes->hide();
        fitHeight();
        return;
    }
    ui->lbFile->setText(
        QStringLiteral("Файл: %1 (модуль прочитан %2, сохранён программой %3)")
            .arg(QuotedPath(shownPath_), TimeText(file_->read), config::Clipped(file_->program)));
    QStringList notes = config::Differences(*file_, module_);
    int differing = 0;
    for (const config::Row& row : config::Compare(*file_, module_))
        differing += row.same() ? 0 : 1;
    notes.prepend(differing == 0 ? QStringLiteral("Файл и модуль совпадают.")
                                 : QStringLiteral("Различающихся параметров: %1.").arg(differing));
    ui->lbNotes->setText(notes.join(QLatin1Char('\n')));
    ui->lbNotes->show();
    ui->lbNotes->setStyleSheet(differing == 0 ? QString() : QStringLiteral("color: #b00000"));
    fitHeight();
}

void TModConfig::fitHeight() {
    // Just as high as the tables with every row and the lines above them need.
    layout()->activate();
    const int height = layout()->totalHeightForWidth(width());
    if (height > 0)
        resize(width(), height);
}

void TModConfig::fillTable(QTableWidget* table, std::span<const Param> params) {
    table->setRowCount(static_cast<int>(params.size()));
    for (int row = 0; row < table->rowCount(); ++row) {
        const Param p = params[static_cast<std::size_t>(row)];
        const bool compared = file_.has_value();
        const bool same = !compared || (*file_)[p] == module_[p];
        const QStringList cells = {config::ParamName(p), config::ValueText(p, module_[p]),
                                   compared ? config::ValueText(p, (*file_)[p]) : QString(),
                                   !compared ? QString()
                                   : same    ? QStringLiteral("да")
                                             : QStringLiteral("нет")};
        for (int col = 0; col < cells.size(); ++col) {
            auto* item = new QTableWidgetItem(cells[col]);
            if (!same) {
                item->setBackground(Differs);
                QFont bold = item->font();
                bold.setBold(true);
                item->setFont(bold);
            }
            table->setItem(row, col, item);
        }
    }
    table->resizeRowsToContents();
    table->setFixedHeight(table->horizontalHeader()->sizeHint().height() +
                          table->verticalHeader()->length() + 2 * table->frameWidth());
}

bool TModConfig::confirm(const config::WritePlan& plan, const QString& path) {
    const config::Configuration& f = plan.file;
    if (plan.otherFirmware &&
        !seam::ask(this,
                   QStringLiteral("Файл сохранён с модуля с версией ПО %1, у подключённого модуля "
                                  "версия %2.\nЗаписать конфигурацию всё равно?")
                       .arg(config::ValueText(Param::Version, f[Param::Version]),
                            config::ValueText(Param::Version, module_[Param::Version])),
                   QString(), seam::Icon::Warning))
        return false;
    if (plan.calibration && !CalibrationPasswordAccepted(this))
        return false;
    QStringList what = {QStringLiteral("режим измерения и время интегрирования")};
    if (plan.link)
        what << QStringLiteral("адрес, скорость и паритет (%1)")
                    .arg(module::LinkText(config::LinkOf(f)));
    if (plan.calibration)
        what << QStringLiteral("коэффициенты и дату калибровки");
    return seam::ask(this, QStringLiteral("Записать в модуль %1 из файла %2:\n%3?")
                               .arg(config::ValueText(Param::Serial, module_[Param::Serial]),
                                    QuotedPath(QFileInfo(path).fileName()),
                                    what.join(QStringLiteral(";\n"))));
}

void TModConfig::write(const config::WritePlan& plan, const QString& path) {
    ConfigWriteRecord rec;
    rec.when = QDateTime::currentDateTime();
    rec.path = path;
    rec.file = plan.file;
    rec.before = module_;
    const std::vector<Step> steps = StepsOf(this, plan);

    // Step by step between events: "Отмена" stops before the next step.
    QProgressDialog progress(QString(), QStringLiteral("Отмена"), 0,
                             static_cast<int>(steps.size()) + 1, this);
    progress.setWindowTitle(QStringLiteral("Запись конфигурации"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    Progress run;
    for (; run.done < steps.size(); ++run.done) {
        const Step& step = steps[run.done];
        progress.setLabelText(QStringLiteral("Запись: ") + step.what + QStringLiteral("..."));
        progress.setValue(static_cast<int>(run.done));
        run.canceled = progress.wasCanceled();
        if (run.canceled)
            break;
        try {
            step.run();
        } catch (const std::exception& e) {
            run.failure = MessageOf(e);
            break;
        }
        rec.written.insert(rec.written.end(), step.params.begin(), step.params.end());
    }
    progress.setLabelText(QStringLiteral("Чтение модуля..."));
    progress.setValue(static_cast<int>(steps.size()));
    try {
        readModule(); // what the module holds now, as far as it answers
    } catch (const std::exception& e) {
        run.readFailure = MessageOf(e);
    }
    progress.reset();
    rec.after = module_;
    bool clean = false;
    rec.outcome = Outcome(rec, steps, run, clean);
    lastWrite_ = rec;
    History::Record(History::ConfigEntry(History::Kind::ConfigWritten, rec.after, path,
                                         FileBytes(path), rec.outcome));
    ui->btReport->setEnabled(true);
    showTables();
    seam::message(this, rec.outcome, QString(),
                  clean ? seam::Icon::Information : seam::Icon::Warning);
}
