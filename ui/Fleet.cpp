#include "Fleet.h"

#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "Errors.h"
#include "HistoryImport.h"
#include "HistoryViews.h"
#include "ModuleHistory.h"
#include "Protocol.h"
#include "RecordFile.h"
#include "SaveAs.h"
#include "SaveName.h"
#include "Seam.h"

std::function<QString(QWidget*)> AskImportFolder = [](QWidget* owner) {
    return QFileDialog::getExistingDirectory(
        owner, QStringLiteral("Импорт протоколов и конфигураций"), DocumentsOrHomeFolder());
};

TFleet::TFleet(QWidget* parent, History::Target target)
    : QDialog(parent), target_(std::move(target)), edSearch_(new QLineEdit(this)),
      cbState_(new QComboBox(this)), tbModules_(new QTableWidget(this)), lbNote_(new QLabel(this)) {
    setObjectName(QStringLiteral("TFleet"));
    setWindowTitle(QStringLiteral("Модули"));
    edSearch_->setObjectName(QStringLiteral("edSearch"));
    edSearch_->setPlaceholderText(QStringLiteral("Рег. номер"));
    cbState_->setObjectName(QStringLiteral("cbState"));
    cbState_->addItems({QStringLiteral("Все"), History::DueStateText(History::DueState::Ok),
                        History::DueStateText(History::DueState::Soon),
                        History::DueStateText(History::DueState::Overdue)});
    tbModules_->setObjectName(QStringLiteral("tbModules"));
    tbModules_->setColumnCount(7);
    tbModules_->setHorizontalHeaderLabels(
        {QStringLiteral("Рег. номер"), QStringLiteral("Тип"),
         QStringLiteral("Последняя калибровка"), QStringLiteral("Интервал, мес."),
         QStringLiteral("Срок"), QStringLiteral("Состояние"), QStringLiteral("Последняя связь")});
    tbModules_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tbModules_->setSelectionBehavior(QAbstractItemView::SelectRows);
    tbModules_->setSelectionMode(QAbstractItemView::SingleSelection);
    tbModules_->verticalHeader()->hide();
    tbModules_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    lbNote_->setObjectName(QStringLiteral("lbNote"));
    lbNote_->setTextFormat(Qt::PlainText);
    lbNote_->setWordWrap(true);
    lbNote_->hide();

    auto* btHistory = new QPushButton(QStringLiteral("История..."), this);
    btHistory->setObjectName(QStringLiteral("btHistory"));
    auto* btExport = new QPushButton(QStringLiteral("Экспорт CSV..."), this);
    btExport->setObjectName(QStringLiteral("btExport"));
    auto* btImport = new QPushButton(QStringLiteral("Импорт..."), this);
    btImport->setObjectName(QStringLiteral("btImport"));
    auto* btClose = new QPushButton(QStringLiteral("Закрыть"), this);

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("Поиск:"), this));
    top->addWidget(edSearch_, 1);
    top->addWidget(new QLabel(QStringLiteral("Состояние:"), this));
    top->addWidget(cbState_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btHistory);
    buttons->addWidget(btExport);
    buttons->addWidget(btImport);
    buttons->addStretch(1);
    buttons->addWidget(btClose);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(lbNote_);
    layout->addWidget(tbModules_, 1);
    layout->addLayout(buttons);
    resize(820, 480);

    connect(edSearch_, &QLineEdit::textChanged, this, [this] { fill(); });
    connect(cbState_, &QComboBox::currentIndexChanged, this, [this] { fill(); });
    connect(btHistory, &QPushButton::clicked, this, seam::Guarded(this, &TFleet::btHistoryClick));
    connect(tbModules_, &QTableWidget::cellDoubleClicked, this,
            seam::Guarded(this, &TFleet::btHistoryClick));
    connect(btExport, &QPushButton::clicked, this, seam::Guarded(this, &TFleet::btExportClick));
    connect(btImport, &QPushButton::clicked, this, seam::Guarded(this, &TFleet::btImportClick));
    connect(btClose, &QPushButton::clicked, this, &QDialog::accept);
}

void TFleet::btImportClick() {
    const QString folder = AskImportFolder ? AskImportFolder(this) : QString();
    if (folder.isEmpty())
        return;
    History::Store store(target_);
    const History::ImportResult r = History::ImportFolder(store, folder);
    load();
    seam::message(this, History::ImportSummary(r), QString(), seam::Icon::Information);
}

void TFleet::load() {
    try {
        History::Store store(target_);
        rows_ = store.fleet(QDate::currentDate());
        lbNote_->hide();
    } catch (const Exception& e) {
        rows_.clear();
        lbNote_->setText(e.message());
        lbNote_->show();
    }
    fill();
}

void TFleet::fill() {
    std::optional<History::DueState> state;
    switch (cbState_->currentIndex()) {
    case 1:
        state = History::DueState::Ok;
        break;
    case 2:
        state = History::DueState::Soon;
        break;
    case 3:
        state = History::DueState::Overdue;
        break;
    default:
        break;
    }
    shown_ = History::FilterFleet(rows_, edSearch_->text(), state);
    tbModules_->setRowCount(static_cast<int>(shown_.size()));
    for (int i = 0; i < shown_.size(); ++i) {
        const History::ModuleRow& r = shown_[i];
        const QStringList cells = {r.registration,
                                   r.moduleType
                                       ? ModuleTypeText(static_cast<uint16_t>(r.moduleType))
                                       : QStringLiteral("—"),
                                   History::DayText(r.lastCalibration),
                                   QString::number(r.intervalMonths),
                                   History::DayText(r.due),
                                   History::DueStateText(r.state),
                                   History::TimeText(r.lastSeen)};
        for (int c = 0; c < cells.size(); ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            if (c == 5 && r.state == History::DueState::Overdue)
                item->setForeground(QColor(176, 0, 0));
            tbModules_->setItem(i, c, item);
        }
    }
}

void TFleet::btHistoryClick() {
    const int row = tbModules_->currentRow();
    if (row < 0 || row >= shown_.size())
        return;
    const QString registration = shown_[row].registration;
    History::Store store(target_);
    TModuleHistory window(this, registration, store.moduleHistory(registration));
    window.exec();
}

void TFleet::btExportClick() {
    const QString path = AskSaveFileNameWithSuffix(
        this, QStringLiteral("Экспорт списка модулей"),
        DocumentsOrHomeFolder() + QStringLiteral("/Модули_") +
            QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HHmm")) +
            QStringLiteral(".csv"),
        QStringLiteral("Файлы CSV (*.csv)"), QStringLiteral("csv"));
    if (path.isEmpty())
        return;
    WriteRecordFile(path, History::FleetCsv(shown_));
}
