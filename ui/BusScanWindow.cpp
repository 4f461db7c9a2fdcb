#include "BusScanWindow.h"

#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QGuiApplication>
#include <QHeaderView>
#include <QTimer>

#include "Errors.h"
#include "Func.h"
#include "RecordFile.h"
#include "SaveAs.h"
#include "SaveName.h"
#include "Seam.h"
#include "ServiceParams.h"
#include "ui_BusScanWindow.h"

namespace {

bool SameRow(const bus::Found& a, const bus::Found& b) {
    return a.address == b.address && a.settingIndex == b.settingIndex;
}

} // namespace

TBusScan::TBusScan(QWidget* parent)
    : QDialog(parent), tmScan(new QTimer(this)), ui(std::make_unique<Ui::TBusScan>()) {
    ui->setupUi(this);
    tmScan->setObjectName(QStringLiteral("tmScan"));
    tmScan->setSingleShot(true); // started again after each step: a step never runs inside one
    tmScan->setInterval(0);

    ui->lbLine->setText(
        QStringLiteral("Порт %1: %2").arg(PortName, bus::SettingText({BaudRate, ParityIndex})));
    if (!bus::BusScan::Fast())
        ui->lbNote->setText(QStringLiteral(
            "comm_mb.dll не содержит функции scan_read: поиск будет медленнее, около 1,5 с на "
            "каждый адрес без модуля (6-7 минут на одну скорость)."));
    ui->lbNote->setVisible(!ui->lbNote->text().isEmpty());
    QStringList columns = bus::FoundColumns();
    columns.replaceInStrings(QStringLiteral(" в модуле"), QStringLiteral("\nв модуле"));
    ui->tbModules->setColumnCount(static_cast<int>(columns.size()));
    ui->tbModules->setHorizontalHeaderLabels(columns);
    ui->tbModules->horizontalHeader()->setStretchLastSection(true);
    ui->tbModules->verticalHeader()->hide();
    ui->tbModules->horizontalHeader()->setHighlightSections(false);
    ui->tbModules->setWordWrap(true);
    for (int c = 0; c + 1 < ui->tbModules->columnCount(); ++c)
        ui->tbModules->resizeColumnToContents(c);

    connect(ui->btStart, &QPushButton::clicked, this, seam::Guarded(this, &TBusScan::btStartClick));
    connect(ui->btStop, &QPushButton::clicked, this, seam::Guarded(this, &TBusScan::btStopClick));
    connect(tmScan, &QTimer::timeout, this, seam::Guarded(this, &TBusScan::tmScanTimer));
    connect(ui->btWork, &QPushButton::clicked, this, seam::Guarded(this, &TBusScan::btWorkClick));
    connect(ui->btCopy, &QPushButton::clicked, this, seam::Guarded(this, &TBusScan::btCopyClick));
    connect(ui->btSave, &QPushButton::clicked, this, seam::Guarded(this, &TBusScan::btSaveClick));
    connect(ui->btClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui->tbModules, &QTableWidget::itemSelectionChanged, this,
            [this] { selectionChanged(); });
    // Enter or a double click on a module's row: "Работать с модулем".
    connect(ui->tbModules, &QTableWidget::activated, this, [this] {
        if (ui->btWork->isEnabled())
            ui->btWork->click();
    });
    scanEnded();
    ui->btStart->setFocus();
}

TBusScan::~TBusScan() = default;

void TBusScan::btStartClick() {
    scan_ = std::make_unique<bus::BusScan>(
        bus::BusScan::Options{ui->chbAllSpeeds->isChecked(), ui->seExpected->value()});
    for (QWidget* w : std::initializer_list<QWidget*>{ui->btStart, ui->chbAllSpeeds, ui->seExpected,
                                                      ui->btWork, ui->btCopy, ui->btSave})
        w->setEnabled(false);
    ui->btStop->setEnabled(true);
    ui->btStop->setFocus();
    showModules();
    showProgress();
    tmScan->start();
}

void TBusScan::tmScanTimer() {
    if (!scan_ || !scan_->running())
        return;
    bool more = false;
    try {
        more = scan_->step();
    } catch (...) {
        scanEnded();
        throw;
    }
    if (more) {
        showProgress();
        tmScan->start();
    } else {
        scanEnded();
    }
}

void TBusScan::btStopClick() {
    if (scan_)
        scan_->stop();
    scanEnded();
}

void TBusScan::done(int result) {
    tmScan->stop();
    if (scan_)
        scan_->stop(); // puts the link back
    QDialog::done(result);
}

void TBusScan::scanEnded() {
    tmScan->stop();
    const bool stopHadFocus = ui->btStop->hasFocus();
    ui->btStop->setEnabled(false);
    for (QWidget* w :
         std::initializer_list<QWidget*>{ui->btStart, ui->chbAllSpeeds, ui->seExpected})
        w->setEnabled(true);
    // The list of a scan, also an empty one, is a record; before one there is none.
    ui->btCopy->setEnabled(scan_ != nullptr);
    ui->btSave->setEnabled(scan_ != nullptr);
    showModules();
    if (stopHadFocus) // on to the list, or back to "Начать" when it is empty
        (shown_.empty() ? static_cast<QWidget*>(ui->btStart) : ui->tbModules)->setFocus();
    showProgress();
    selectionChanged();
}

void TBusScan::showProgress() {
    if (!scan_) {
        ui->lbProgress->setText(
            QStringLiteral("Нажмите «Начать»: программа опросит адреса 1-247 и покажет, какие "
                           "модули отвечают. Модулям ничего не записывается."));
        return;
    }
    const bus::BusScan& s = *scan_;
    ui->pbScan->setValue(s.running() || s.stoppedEarly() ? static_cast<int>(s.fraction() * 1000)
                                                         : ui->pbScan->maximum());
    const int garbled = static_cast<int>(s.found().size()) - s.answered();
    QString found = QStringLiteral("найдено модулей: %1").arg(s.answered());
    if (garbled > 0)
        found += QStringLiteral(", адресов с искажёнными ответами: %1").arg(garbled);
    if (!s.running()) {
        ui->lbProgress->setText((s.stoppedEarly() ? QStringLiteral("Поиск остановлен: ")
                                                  : QStringLiteral("Поиск завершён: ")) +
                                found);
        return;
    }
    QString where = QStringLiteral("Адрес %1 из 247").arg(std::min(s.address(), 247));
    if (s.settingCount() > 1)
        where = QStringLiteral("%1 (%2 из %3), адрес %4 из 247")
                    .arg(bus::SettingText(s.setting()))
                    .arg(s.settingIndex() + 1)
                    .arg(s.settingCount())
                    .arg(std::min(s.address(), 247));
    ui->lbProgress->setText(where + QStringLiteral(" · ") + found);
    showModules();
}

void TBusScan::showModules() {
    const std::vector<bus::Found> now = scan_ ? scan_->found() : std::vector<bus::Found>();
    const bool same = now.size() == shown_.size() &&
                      std::equal(now.begin(), now.end(), shown_.begin(),
                                 [](const bus::Found& a, const bus::Found& b) {
                                     return SameRow(a, b) && a.fields() == b.fields();
                                 });
    if (same)
        return;
    // The row selected stays selected.
    bus::Found keep;
    if (const bus::Found* before = selected())
        keep = *before;
    shown_ = now;
    QTableWidget* t = ui->tbModules;
    t->setRowCount(static_cast<int>(shown_.size()));
    for (int r = 0; r < t->rowCount(); ++r) {
        const QStringList fields = shown_[static_cast<size_t>(r)].fields();
        for (int c = 0; c < fields.size(); ++c)
            t->setItem(r, c, new QTableWidgetItem(fields[c]));
        if (SameRow(keep, shown_[static_cast<size_t>(r)]))
            t->selectRow(r);
    }
    if (!selected() && t->rowCount() > 0)
        t->selectRow(0); // the arrow keys go on from the first row
    // The state takes the room left and breaks into lines where it needs to.
    for (int c = 0; c + 1 < t->columnCount(); ++c)
        t->resizeColumnToContents(c);
    t->resizeRowsToContents();
}

const bus::Found* TBusScan::selected() const {
    const int row = ui->tbModules->currentRow();
    const bool chosen = row >= 0 && ui->tbModules->selectionModel()->isRowSelected(row);
    return chosen && row < static_cast<int>(shown_.size()) ? &shown_[static_cast<size_t>(row)]
                                                           : nullptr;
}

void TBusScan::selectionChanged() {
    const bus::Found* f = selected();
    ui->btWork->setEnabled(f && f->state == bus::State::Answers && f->serial &&
                           !(scan_ && scan_->running()));
}

void TBusScan::btWorkClick() {
    const bus::Found* f = selected();
    if (!f || f->state != bus::State::Answers || !f->serial)
        return;
    module::ModuleLinkOutcome r;
    r.before = module::CurrentLink();
    r.target = r.holds = {f->address, f->at.baud, f->at.parity};
    r.serial = *f->serial;
    uint16_t answered = 0;
    const QString where = module::LinkText(r.holds);
    switch (module::SwitchToModuleLink(r, &answered)) {
    case module::SwitchResult::Switched:
        accept();
        return;
    case module::SwitchResult::OtherModule:
        throw Exception(
            QStringLiteral("На параметрах связи %1 отвечает другой модуль (%2), а не "
                           "%3.\nПараметры связи программы не изменены")
                .arg(where, module::SerialText(answered), module::SerialText(r.serial)));
    case module::SwitchResult::AfterRestart:
    case module::SwitchResult::NotFound:
        break;
    }
    throw Exception(QStringLiteral("Модуль %1 не ответил на параметрах связи %2.\nПараметры связи "
                                   "программы не изменены")
                        .arg(module::SerialText(r.serial), where));
}

QString TBusScan::title() const {
    return QStringLiteral("Модули на линии, порт %1, %2")
        .arg(PortName, QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy HH:mm")));
}

void TBusScan::btCopyClick() {
    QGuiApplication::clipboard()->setText(bus::FoundText(shown_, title()));
}

void TBusScan::btSaveClick() {
    const QString path = AskSaveFileNameWithSuffix(
        this, QStringLiteral("Сохранить список модулей"), SuggestedSavePath(Saved::ModulesOnLine),
        QStringLiteral("Файлы CSV (*.csv)"), QStringLiteral("csv"));
    if (path.isEmpty())
        return;
    WriteRecordFile(path, bus::FoundCsv(shown_));
}
