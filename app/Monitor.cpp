#include "Monitor.h"

#include <QBrush>
#include <QCheckBox>
#include <QClipboard>
#include <QColor>
#include <QDateTime>
#include <QDir>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QStandardPaths>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <set>

#include "Csv.h"
#include "FrameLog.h"
#include "RecordFile.h"
#include "SaveAs.h"
#include "Seam.h"

namespace {

// New frames reach the window a few times a second: polls may come every
// 20 ms, the rows need not follow each one.
constexpr int RefreshMs = 200;
const QColor FailedBackground(255, 215, 215);

QString DirectionOf(const comm_frame& f) {
    switch (f.kind) {
    case COMM_FRAME_REQUEST:
        return QStringLiteral("→");
    case COMM_FRAME_REPLY:
    case COMM_FRAME_LATE:
    case COMM_FRAME_STRAY:
        return QStringLiteral("←");
    default:
        return QString();
    }
}

QString ResponseMs(const comm_frame& f) {
    if (f.reply_us < 0)
        return QString();
    static const QLocale russian(QLocale::Russian, QLocale::Russia);
    return russian.toString(static_cast<double>(f.reply_us) / 1000.0, 'f', 1);
}

} // namespace

// ---- The rows

MonitorModel::MonitorModel(QObject* parent) : QAbstractTableModel(parent) {}

int MonitorModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int MonitorModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Columns;
}

QVariant MonitorModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char* const titles[Columns] = {"Время", "",     "Ответ, мс",
                                                "Байты", "Итог", "Расшифровка"};
    return QString::fromUtf8(titles[section]);
}

QVariant MonitorModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const Row& r = row(index.row());
    if (role == FailedRole)
        return r.meaning.failed;
    if (role == Qt::BackgroundRole)
        return r.meaning.failed ? QVariant(QBrush(FailedBackground)) : QVariant();
    if (role == Qt::TextAlignmentRole && index.column() == ResponseTime)
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    switch (index.column()) {
    case Time:
        return r.wallMs < 0 ? QString()
                            : QDateTime::fromMSecsSinceEpoch(r.wallMs).toString(
                                  QStringLiteral("hh:mm:ss.zzz"));
    case Direction:
        return r.direction;
    case ResponseTime:
        return r.responseMs;
    case Bytes:
        return r.hex;
    case Verdict:
        return r.meaning.failed ? QStringLiteral("сбой") : QString();
    case Meaning:
        return r.meaning.text;
    default:
        return {};
    }
}

QString MonitorModel::rowText(int i, const QString& separator, bool withDate) const {
    const Row& r = row(i);
    const QString time = r.wallMs < 0 ? QString()
                                      : QDateTime::fromMSecsSinceEpoch(r.wallMs).toString(
                                            withDate ? QStringLiteral("dd.MM.yyyy hh:mm:ss,zzz")
                                                     : QStringLiteral("hh:mm:ss.zzz"));
    return QStringList{time,
                       r.direction,
                       r.responseMs,
                       r.hex,
                       r.meaning.failed ? QStringLiteral("сбой") : QString(),
                       r.meaning.text}
        .join(separator);
}

MonitorModel::Row MonitorModel::rowOf(const FrameRecord& rec) {
    Row r;
    if (rec.lost > 0) {
        r.meaning = LostMeaning(rec.lost);
        return r;
    }
    const comm_frame& f = rec.frame;
    if (f.kind == COMM_FRAME_REQUEST)
        request_ = ShapeOfRequest(f);
    // A wait is shown when it ended, after what came during it.
    const bool span = f.kind == COMM_FRAME_SILENCE || f.kind == COMM_FRAME_WAIT;
    r.wallMs = (f.wall_us + (span ? f.end_us - f.time_us : 0)) / 1000;
    r.direction = DirectionOf(f);
    r.responseMs = ResponseMs(f);
    r.hex = HexBytes(f);
    r.meaning = MeaningOf(f, f.kind == COMM_FRAME_REPLY ? request_ : RequestShape{});
    return r;
}

bool MonitorModel::takeNew() {
    const FrameLog& log = FrameLog::global();
    if (log.taken() == seen_)
        return false;
    const uint64_t oldestKept = log.taken() - log.size();
    std::deque<Row> fresh;
    if (seen_ < oldestKept) {
        // Left behind while the view was paused longer than the store reaches.
        Row gap;
        gap.meaning = {QStringLiteral("не показано кадров: %1 (показ стоял дольше, чем их "
                                      "хранит программа)")
                           .arg(oldestKept - seen_),
                       true};
        fresh.push_back(std::move(gap));
        seen_ = oldestKept;
    }
    for (; seen_ < log.taken(); ++seen_)
        fresh.push_back(rowOf(log.at(static_cast<std::size_t>(seen_ - oldestKept))));

    // Rows come in at the end and drop off at the start, at the store's bound.
    const std::size_t cap = FrameLog::Capacity;
    const std::size_t over =
        rows_.size() + fresh.size() > cap ? rows_.size() + fresh.size() - cap : 0;
    const std::size_t old = std::min(over, rows_.size());
    if (old > 0) {
        beginRemoveRows({}, 0, static_cast<int>(old) - 1);
        for (std::size_t i = 0; i < old; ++i) {
            failed_ -= rows_.front().meaning.failed ? 1 : 0;
            rows_.pop_front();
        }
        endRemoveRows();
    }
    fresh.erase(fresh.begin(), fresh.begin() + static_cast<std::ptrdiff_t>(over - old));
    if (fresh.empty())
        return false;
    beginInsertRows({}, rowCount(), rowCount() + static_cast<int>(fresh.size()) - 1);
    for (Row& r : fresh) {
        failed_ += r.meaning.failed ? 1 : 0;
        rows_.push_back(std::move(r));
    }
    endInsertRows();
    return true;
}

void MonitorModel::clear() {
    beginResetModel();
    rows_.clear();
    failed_ = 0;
    seen_ = FrameLog::global().taken();
    endResetModel();
}

// ---- The window

TMonitor::TMonitor(QWidget* owner)
    : QWidget(owner, Qt::Window), tvFrames(new QTableView(this)),
      btPause(new QPushButton(QStringLiteral("Пауза"), this)),
      btClear(new QPushButton(QStringLiteral("Очистить"), this)),
      chbErrorsOnly(new QCheckBox(QStringLiteral("Только ошибки"), this)),
      btCopy(new QPushButton(QStringLiteral("Копировать"), this)),
      btSave(new QPushButton(QStringLiteral("Сохранить..."), this)), lbState(new QLabel(this)),
      model_(this), filter_(new QSortFilterProxyModel(this)) {
    setObjectName(QStringLiteral("TMonitor"));
    setWindowTitle(QStringLiteral("Монитор обмена"));
    tvFrames->setObjectName(QStringLiteral("tvFrames"));
    btPause->setObjectName(QStringLiteral("btPause"));
    btClear->setObjectName(QStringLiteral("btClear"));
    chbErrorsOnly->setObjectName(QStringLiteral("chbErrorsOnly"));
    btCopy->setObjectName(QStringLiteral("btCopy"));
    btSave->setObjectName(QStringLiteral("btSave"));
    lbState->setObjectName(QStringLiteral("lbState"));

    filter_->setSourceModel(&model_);
    filter_->setFilterRole(MonitorModel::FailedRole);
    tvFrames->setModel(filter_);
    tvFrames->setSelectionBehavior(QAbstractItemView::SelectRows);
    tvFrames->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tvFrames->setWordWrap(false);
    tvFrames->verticalHeader()->setVisible(false);
    tvFrames->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    QHeaderView* header = tvFrames->horizontalHeader();
    header->setStretchLastSection(true);
    const int digit = fontMetrics().horizontalAdvance(QLatin1Char('0'));
    tvFrames->setColumnWidth(MonitorModel::Time, 14 * digit);
    tvFrames->setColumnWidth(MonitorModel::Direction, 4 * digit);
    tvFrames->setColumnWidth(MonitorModel::ResponseTime, 10 * digit);
    tvFrames->setColumnWidth(MonitorModel::Bytes, 40 * digit);
    tvFrames->setColumnWidth(MonitorModel::Verdict, 7 * digit);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btPause);
    buttons->addWidget(btClear);
    buttons->addWidget(chbErrorsOnly);
    buttons->addStretch(1);
    buttons->addWidget(btCopy);
    buttons->addWidget(btSave);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tvFrames, 1);
    layout->addWidget(lbState);
    layout->addLayout(buttons);

    const auto guarded = [this](void (TMonitor::*handler)()) {
        return [this, handler] { seam::Guard([this, handler] { (this->*handler)(); }); };
    };
    connect(btPause, &QPushButton::clicked, this, guarded(&TMonitor::btPauseClick));
    connect(btClear, &QPushButton::clicked, this, guarded(&TMonitor::btClearClick));
    connect(chbErrorsOnly, &QCheckBox::clicked, this, guarded(&TMonitor::chbErrorsOnlyClick));
    connect(btCopy, &QPushButton::clicked, this, guarded(&TMonitor::btCopyClick));
    connect(btSave, &QPushButton::clicked, this, guarded(&TMonitor::btSaveClick));
    connect(&refresh_, &QTimer::timeout, this, [this] { seam::Guard([this] { refresh(); }); });
    refresh_.setInterval(RefreshMs);
    resize(118 * digit, 32 * fontMetrics().height());
    refresh();
}

void TMonitor::open() {
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}

void TMonitor::showEvent(QShowEvent* event) {
    refresh(); // what came while it was hidden
    refresh_.start();
    QWidget::showEvent(event);
    // The newest frames first in sight, once the rows are laid out.
    if (!paused_)
        QTimer::singleShot(0, tvFrames, [this] { tvFrames->scrollToBottom(); });
}

void TMonitor::hideEvent(QHideEvent* event) {
    refresh_.stop();
    QWidget::hideEvent(event);
}

void TMonitor::refresh() {
    FrameLog::global().pull(); // frames of calls the register operations did not make
    if (!paused_) {
        QScrollBar* bar = tvFrames->verticalScrollBar();
        const bool atEnd = bar->value() == bar->maximum();
        if (model_.takeNew() && atEnd)
            tvFrames->scrollToBottom();
    }
    showState();
}

void TMonitor::showState() {
    QString text =
        QStringLiteral("Кадров: %1, со сбоем: %2.").arg(model_.rowCount()).arg(model_.failedRows());
    if (paused_)
        text += QStringLiteral(" Показ остановлен, запись продолжается.");
    lbState->setText(text);
}

void TMonitor::btPauseClick() {
    paused_ = !paused_;
    btPause->setText(paused_ ? QStringLiteral("Продолжить") : QStringLiteral("Пауза"));
    refresh();
}

void TMonitor::btClearClick() {
    model_.clear();
    showState();
}

void TMonitor::chbErrorsOnlyClick() {
    filter_->setFilterFixedString(chbErrorsOnly->isChecked() ? QStringLiteral("true") : QString());
}

void TMonitor::btCopyClick() {
    std::set<int> rows;
    for (const QModelIndex& i : tvFrames->selectionModel()->selectedIndexes())
        rows.insert(filter_->mapToSource(i).row());
    QStringList lines;
    for (int r : rows)
        lines << model_.rowText(r, QStringLiteral("\t"), false);
    if (!lines.isEmpty())
        QGuiApplication::clipboard()->setText(lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

void TMonitor::btSaveClick() {
    const QString suggested =
        QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
            .filePath(QDateTime::currentDateTime().toString(
                QStringLiteral("'Обмен_'yyyyMMdd_HHmmss'.csv'")));
    const QString path = AskSaveFileNameWithSuffix(
        this, QStringLiteral("Сохранить кадры"), suggested,
        QStringLiteral("Таблица CSV (*.csv);;Текст (*.txt)"), QStringList{"csv", "txt"});
    if (path.isEmpty())
        return;
    const bool text = path.endsWith(QStringLiteral(".txt"), Qt::CaseInsensitive);
    QByteArray bytes = text ? QByteArray() : csv::Bom;
    if (!text) {
        QStringList header{"Дата и время", "Направление", "Ответ, мс",
                           "Байты",        "Итог",        "Расшифровка"};
        QByteArrayList fields;
        for (const QString& h : header)
            fields << csv::Field(h);
        bytes += fields.join(csv::Separator) + csv::LineEnd;
    }
    // What the window shows: with "Только ошибки", the failed rows only.
    for (int i = 0; i < filter_->rowCount(); ++i) {
        const int r = filter_->mapToSource(filter_->index(i, 0)).row();
        if (text) {
            bytes += model_.rowText(r, QStringLiteral("\t"), true).toUtf8() + csv::LineEnd;
            continue;
        }
        QByteArrayList fields;
        for (const QString& field : model_.rowText(r, QStringLiteral("\x1F"), true).split('\x1F'))
            fields << csv::Field(field);
        bytes += fields.join(csv::Separator) + csv::LineEnd;
    }
    WriteRecordFile(path, bytes);
}
