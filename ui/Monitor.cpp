#include "Monitor.h"

#include <QApplication>
#include <QBrush>
#include <QCheckBox>
#include <QClipboard>
#include <QColor>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIntValidator>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QStringList>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTextLayout>
#include <QTextOption>
#include <QVBoxLayout>
#include <algorithm>
#include <set>

#include "Csv.h"
#include "FrameLog.h"
#include "Func.h"
#include "Listen.h"
#include "Ports.h"
#include "RecordFile.h"
#include "SaveAs.h"
#include "SaveName.h"
#include "Seam.h"

namespace {

QString MsText(int64_t us) {
    static const QLocale russian(QLocale::Russian, QLocale::Russia);
    return russian.toString(static_cast<double>(us) / 1000.0, 'f', 1);
}

// A row of its own in the heard rows: frames the library dropped.
constexpr int32_t LostCode = -1;

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

QString GapText(uint64_t records) {
    return QStringLiteral("не показано кадров: %1 (показ стоял дольше, чем их хранит программа)")
        .arg(records);
}

QTextLine OneLine(QTextLayout& layout, int width) {
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(width);
    layout.endLayout();
    return line;
}

// Draws a plain cell (not selected, not current, not under the mouse: nearly
// all of them) as the style would, with its background and its text cut
// short with "…", but without the style's measuring of each part a cell may
// have (check box, icon, text), which lays the text out twice. Other cells
// go to the style.
class RowsDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        if (option.state &
            (QStyle::State_Selected | QStyle::State_HasFocus | QStyle::State_MouseOver)) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        const QVariant background = index.data(Qt::BackgroundRole);
        if (background.isValid())
            painter->fillRect(option.rect, background.value<QBrush>());
        const QString text = index.data(Qt::DisplayRole).toString();
        if (text.isEmpty())
            return;
        const QWidget* widget = option.widget;
        const QStyle* style = widget ? widget->style() : QApplication::style();
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
        const QRect room = option.rect.adjusted(margin, 0, -margin, 0);
        const QVariant aligned = index.data(Qt::TextAlignmentRole);
        const Qt::Alignment alignment =
            aligned.isValid() ? Qt::Alignment(aligned.toInt()) : option.displayAlignment;
        QTextOption textOption(QStyle::visualAlignment(option.direction, alignment));
        textOption.setWrapMode(QTextOption::ManualWrap);
        textOption.setTextDirection(option.direction);
        QTextLayout layout(text, option.font);
        layout.setTextOption(textOption);
        QTextLine line = OneLine(layout, room.width());
        if (line.naturalTextWidth() > room.width()) {
            layout.setText(option.fontMetrics.elidedText(text, option.textElideMode, room.width()));
            line = OneLine(layout, room.width());
        }
        const QPalette::ColorGroup group =
            !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
            : option.state & QStyle::State_Active   ? QPalette::Normal
                                                    : QPalette::Inactive;
        painter->setPen(option.palette.color(group, QPalette::Text));
        const QSize size = QSizeF(room.width(), line.height()).toSize();
        line.draw(painter, QStyle::alignedRect(option.direction, alignment, size, room).topLeft());
    }
};

} // namespace

// Only the failed rows with "Только ошибки", read from the rows' flag.
class FailedRowsFilter : public QSortFilterProxyModel {
  public:
    FailedRowsFilter(QAbstractItemModel* rows, QObject* parent)
        : QSortFilterProxyModel(parent), rows_(rows) {
        setSourceModel(rows);
    }

    void setFailedOnly(bool on) {
        if (on == failedOnly_)
            return;
        failedOnly_ = on;
        invalidateRowsFilter();
    }

  protected:
    bool filterAcceptsRow(int row, const QModelIndex&) const override {
        return !failedOnly_ || rows_->index(row, 0).data(FailedRowRole).toBool();
    }

  private:
    QAbstractItemModel* rows_;
    bool failedOnly_ = false;
};

// ---- The rows

MonitorModel::MonitorModel(QObject* parent) : QAbstractTableModel(parent) {}

int MonitorModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(count_);
}

int MonitorModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Columns;
}

const MonitorModel::Row& MonitorModel::row(int i) const {
    return rows_[(first_ + static_cast<std::size_t>(i)) % Capacity];
}

int64_t MonitorModel::wallMs(int i) const {
    const Row& r = row(i);
    if (r.kind != Kind::Frame)
        return -1;
    const comm_frame& f = r.frame;
    // A wait is shown when it ended, after what came during it.
    const bool span = f.kind == COMM_FRAME_SILENCE || f.kind == COMM_FRAME_WAIT;
    return (f.wall_us + (span ? f.end_us - f.time_us : 0)) / 1000;
}

FrameMeaning MonitorModel::meaning(int i) const {
    const Row& r = row(i);
    switch (r.kind) {
    case Kind::Lost:
        return LostMeaning(r.records);
    case Kind::Gap:
        return {GapText(r.records), true};
    case Kind::Frame:
        break;
    }
    return MeaningOf(r.frame, r.request);
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
    switch (role) {
    case FailedRole:
        return r.failed;
    case Qt::BackgroundRole: {
        static const QBrush failedBackground(QColor(255, 215, 215));
        return r.failed ? QVariant(failedBackground) : QVariant();
    }
    case Qt::TextAlignmentRole:
        return index.column() == ResponseTime ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                              : QVariant();
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return text(index.row(), index.column());
    default:
        return {};
    }
}

QString MonitorModel::text(int i, int column) const {
    const Row& r = row(i);
    const bool frame = r.kind == Kind::Frame;
    switch (column) {
    case Time: {
        const int64_t ms = wallMs(i);
        return ms < 0 ? QString()
                      : QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("hh:mm:ss.zzz"));
    }
    case Direction:
        return frame ? DirectionOf(r.frame) : QString();
    case ResponseTime:
        return frame ? ResponseMs(r.frame) : QString();
    case Bytes:
        return frame ? HexBytes(r.frame) : QString();
    case Verdict:
        return r.failed ? QStringLiteral("сбой") : QString();
    case Meaning:
        return meaning(i).text;
    default:
        return QString();
    }
}

QString MonitorModel::rowText(int i, const QString& separator, bool withDate) const {
    QStringList fields;
    for (int column = 0; column < Columns; ++column)
        fields << text(i, column);
    const int64_t ms = wallMs(i);
    if (withDate && ms >= 0)
        fields[Time] =
            QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("dd.MM.yyyy hh:mm:ss,zzz"));
    return fields.join(separator);
}

MonitorModel::Row& MonitorModel::push() {
    if (rows_.empty())
        rows_.resize(Capacity);
    Row& r = rows_[(first_ + count_) % Capacity];
    ++count_;
    return r;
}

void MonitorModel::popFront(std::size_t n) {
    if (n == 0)
        return;
    beginRemoveRows({}, 0, static_cast<int>(n) - 1);
    for (std::size_t i = 0; i < n; ++i) {
        failed_ -= rows_[first_].failed ? 1 : 0;
        first_ = (first_ + 1) % Capacity;
    }
    count_ -= n;
    endRemoveRows();
}

// One record of the store: a row when `shown`, otherwise only what the rows
// after it need to know.
void MonitorModel::take(const FrameRecord& record, bool shown) {
    if (record.lost > 0) {
        // What was lost may have been the request of the next reply.
        request_ = {};
        if (shown) {
            Row& r = push();
            r.kind = Kind::Lost;
            r.records = record.lost;
            r.failed = true;
            ++failed_;
        }
        return;
    }
    const comm_frame& f = record.frame;
    if (shown) {
        Row& r = push();
        r.kind = Kind::Frame;
        r.frame = f;
        r.request = f.kind == COMM_FRAME_REPLY ? request_ : RequestShape{};
        r.failed = FrameFailed(f);
        failed_ += r.failed ? 1 : 0;
    }
    if (f.kind == COMM_FRAME_REQUEST)
        request_ = ShapeOfRequest(f);
}

std::size_t MonitorModel::takeNew() {
    const FrameLog& log = FrameLog::global();
    const uint64_t taken = log.taken();
    const uint64_t oldestKept = taken - log.size();
    if (!started_) {
        // What the store dropped before the view first looked is no gap.
        seen_ = std::max(seen_, oldestKept);
        started_ = true;
    }
    if (taken == seen_)
        return 0;

    // The first record to show. Records the store dropped before the view
    // took them are one row before the rest, and that row must fit: the
    // records it leaves no room for are counted in it.
    uint64_t first = std::max(seen_, oldestKept);
    if (first > seen_)
        first = std::max(first, taken - (Capacity - 1));
    const uint64_t gap = first - seen_;
    const auto fresh = static_cast<std::size_t>((gap > 0 ? 1 : 0) + (taken - first));

    // Rows drop off at the start, at the bound, before the new ones come in
    // at the end.
    popFront(std::min(count_, count_ + fresh > Capacity ? count_ + fresh - Capacity : 0));

    if (gap > 0)
        request_ = {}; // the request of the first reply may be among the dropped
    const auto at = [&](uint64_t record) -> const FrameRecord& {
        return log.at(static_cast<std::size_t>(record - oldestKept));
    };
    for (uint64_t record = std::max(seen_, oldestKept); record < first; ++record)
        take(at(record), false);

    beginInsertRows({}, rowCount(), rowCount() + static_cast<int>(fresh) - 1);
    if (gap > 0) {
        Row& r = push();
        r.kind = Kind::Gap;
        r.records = gap;
        r.failed = true;
        ++failed_;
    }
    for (uint64_t record = first; record < taken; ++record)
        take(at(record), true);
    endInsertRows();
    seen_ = taken;
    return fresh;
}

void MonitorModel::clear() {
    beginResetModel();
    first_ = count_ = 0;
    failed_ = 0;
    seen_ = FrameLog::global().taken();
    started_ = true;
    endResetModel();
}

// ---- The rows listened to

ListenModel::ListenModel(QObject* parent) : QAbstractTableModel(parent) {}

int ListenModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ListenModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Columns;
}

QVariant ListenModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char* const titles[Columns] = {"Время", "Пауза, мс", "",           "Ответ, мс",
                                                "Байты", "Итог",      "Расшифровка"};
    return QString::fromUtf8(titles[section]);
}

QVariant ListenModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const HeardRow& r = row(index.row());
    switch (role) {
    case FailedRowRole:
        return r.failed;
    case Qt::BackgroundRole: {
        static const QBrush failedBackground(QColor(255, 215, 215));
        return r.failed ? QVariant(failedBackground) : QVariant();
    }
    case Qt::TextAlignmentRole:
        return index.column() == ResponseTime || index.column() == Gap
                   ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                   : QVariant();
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return text(index.row(), index.column());
    default:
        return {};
    }
}

FrameMeaning ListenModel::meaning(int i) const {
    const HeardRow& r = row(i);
    if (r.frame.code == LostCode)
        return LostMeaning(r.frame.dropped);
    return HeardMeaning(r);
}

QString ListenModel::text(int i, int column) const {
    const HeardRow& r = row(i);
    const bool frame = r.frame.code != LostCode;
    switch (column) {
    case Time:
        return frame ? QDateTime::fromMSecsSinceEpoch(r.frame.wall_us / 1000)
                           .toString(QStringLiteral("hh:mm:ss.zzz"))
                     : QString();
    case Gap:
        return frame && r.frame.gap_us >= 0 ? MsText(r.frame.gap_us) : QString();
    case Direction:
        return r.role == HeardRow::Role::Request ? QStringLiteral("→")
               : r.role == HeardRow::Role::Reply ? QStringLiteral("←")
                                                 : QString();
    case ResponseTime:
        return r.replyUs >= 0 ? MsText(r.replyUs) : QString();
    case Bytes:
        return frame ? HeardHex(r.frame) : QString();
    case Verdict:
        return r.failed ? QStringLiteral("сбой") : QString();
    case Meaning:
        return meaning(i).text;
    default:
        return QString();
    }
}

QString ListenModel::rowText(int i, const QString& separator, bool withDate) const {
    QStringList fields;
    for (int column = 0; column < Columns; ++column)
        fields << text(i, column);
    const HeardRow& r = row(i);
    if (withDate && r.frame.code != LostCode)
        fields[Time] = QDateTime::fromMSecsSinceEpoch(r.frame.wall_us / 1000)
                           .toString(QStringLiteral("dd.MM.yyyy hh:mm:ss,zzz"));
    return fields.join(separator);
}

void ListenModel::take(const std::vector<comm_heard>& frames, uint64_t lost) {
    const std::size_t fresh = frames.size() + (lost > 0 ? 1 : 0);
    if (fresh == 0)
        return;
    // The oldest rows go first, at the bound.
    const std::size_t over = rows_.size() + fresh > Capacity ? rows_.size() + fresh - Capacity : 0;
    const std::size_t drop = std::min(over, rows_.size());
    if (drop > 0) {
        beginRemoveRows({}, 0, static_cast<int>(drop) - 1);
        for (std::size_t i = 0; i < drop; ++i) {
            failed_ -= rows_.front().failed ? 1 : 0;
            rows_.pop_front();
        }
        endRemoveRows();
    }
    // Of more than the bound, only the newest.
    const std::size_t skip = fresh > Capacity ? fresh - Capacity : 0;
    beginInsertRows({}, rowCount(), rowCount() + static_cast<int>(fresh - skip) - 1);
    std::size_t n = 0;
    if (lost > 0) {
        pairing_.forgetOwed(); // what was lost may have been the request of the next reply
        if (n++ >= skip) {
            HeardRow r;
            r.frame.code = LostCode;
            r.frame.dropped = static_cast<uint32_t>(std::min<uint64_t>(lost, UINT32_MAX));
            r.failed = true;
            ++failed_;
            rows_.push_back(r);
        }
    }
    for (const comm_heard& h : frames) {
        HeardRow r = pairing_.take(h);
        if (n++ < skip)
            continue;
        failed_ += r.failed ? 1 : 0;
        rows_.push_back(r);
    }
    endInsertRows();
}

void ListenModel::clear() {
    beginResetModel();
    rows_.clear();
    pairing_.clear();
    failed_ = 0;
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
      chbListen(new QCheckBox(QStringLiteral("Слушать линию"), this)),
      cbListenPort(new QComboBox(this)), cbListenBaud(new QComboBox(this)),
      cbListenParity(new QComboBox(this)), lbListen(new QLabel(this)),
      lbAddresses(new QLabel(this)), model_(this), filter_(new FailedRowsFilter(&model_, this)),
      heard_(this), heardFilter_(new FailedRowsFilter(&heard_, this)) {
    setObjectName(QStringLiteral("TMonitor"));
    setWindowTitle(QStringLiteral("Монитор обмена"));
    tvFrames->setObjectName(QStringLiteral("tvFrames"));
    btPause->setObjectName(QStringLiteral("btPause"));
    btClear->setObjectName(QStringLiteral("btClear"));
    chbErrorsOnly->setObjectName(QStringLiteral("chbErrorsOnly"));
    btCopy->setObjectName(QStringLiteral("btCopy"));
    btSave->setObjectName(QStringLiteral("btSave"));
    lbState->setObjectName(QStringLiteral("lbState"));
    chbListen->setObjectName(QStringLiteral("chbListen"));
    cbListenPort->setObjectName(QStringLiteral("cbListenPort"));
    cbListenBaud->setObjectName(QStringLiteral("cbListenBaud"));
    cbListenParity->setObjectName(QStringLiteral("cbListenParity"));
    lbListen->setObjectName(QStringLiteral("lbListen"));
    lbAddresses->setObjectName(QStringLiteral("lbAddresses"));
    // Text from the line and the library's reasons: never markup.
    lbListen->setTextFormat(Qt::PlainText);
    lbListen->setWordWrap(true);
    lbAddresses->setTextFormat(Qt::PlainText);
    lbAddresses->setVisible(false);

    // The port: the tool's own, and the serial devices of this PC; any
    // other name may be typed in. The speed: any the driver takes.
    cbListenPort->setEditable(true);
    cbListenPort->setMinimumContentsLength(16);
    if (!PortName.isEmpty())
        cbListenPort->addItem(PortName);
    for (const SerialDevice& d : SerialDevicesUnder(SerialDeviceRoot))
        if (cbListenPort->findText(QString::fromStdString(d.path)) < 0)
            cbListenPort->addItem(QString::fromStdString(d.path));
    cbListenBaud->setEditable(true);
    cbListenBaud->setValidator(new QIntValidator(1, 10000000, cbListenBaud));
    for (int speed : {1200, 2400, 4800, 9600, 19200, 28800, 38400, 57600, 115200})
        cbListenBaud->addItem(QString::number(speed));
    cbListenBaud->setCurrentText(QString::number(BaudRate > 0 ? BaudRate : 19200));
    for (int parity = 0; parity < 3; ++parity)
        cbListenParity->addItem(ParityName(parity));
    cbListenParity->setCurrentIndex(ParityIndex <= 2 ? ParityIndex : 2);

    tvFrames->setModel(filter_);
    tvFrames->setItemDelegate(new RowsDelegate(tvFrames));
    // The rows are Latin, Cyrillic and digits, which need no shaping of the
    // glyphs: drawing them without it keeps the window cheap while the rows
    // run by at the fastest polling.
    QFont rowsFont = tvFrames->font();
    rowsFont.setStyleStrategy(QFont::PreferNoShaping);
    tvFrames->setFont(rowsFont);
    tvFrames->setSelectionBehavior(QAbstractItemView::SelectRows);
    tvFrames->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tvFrames->setWordWrap(false);
    tvFrames->verticalHeader()->setVisible(false);
    tvFrames->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    QHeaderView* header = tvFrames->horizontalHeader();
    header->setStretchLastSection(true);
    const int digit = fontMetrics().horizontalAdvance(QLatin1Char('0'));
    setColumnWidths();

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btPause);
    buttons->addWidget(btClear);
    buttons->addWidget(chbErrorsOnly);
    buttons->addStretch(1);
    buttons->addWidget(btCopy);
    buttons->addWidget(btSave);
    auto* listenRow = new QHBoxLayout;
    listenRow->addWidget(chbListen);
    listenRow->addWidget(new QLabel(QStringLiteral("Порт:"), this));
    listenRow->addWidget(cbListenPort);
    listenRow->addWidget(new QLabel(QStringLiteral("Скорость:"), this));
    listenRow->addWidget(cbListenBaud);
    listenRow->addWidget(new QLabel(QStringLiteral("Чётность:"), this));
    listenRow->addWidget(cbListenParity);
    listenRow->addWidget(lbListen, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(listenRow);
    layout->addWidget(tvFrames, 1);
    layout->addWidget(lbAddresses);
    layout->addWidget(lbState);
    layout->addLayout(buttons);

    if (!listening::Available()) {
        chbListen->setEnabled(false);
        lbListen->setText(listening::UnavailableReason());
    }

    connect(btPause, &QPushButton::clicked, this, seam::Guarded(this, &TMonitor::btPauseClick));
    connect(btClear, &QPushButton::clicked, this, seam::Guarded(this, &TMonitor::btClearClick));
    connect(chbErrorsOnly, &QCheckBox::clicked, this,
            seam::Guarded(this, &TMonitor::chbErrorsOnlyClick));
    connect(btCopy, &QPushButton::clicked, this, seam::Guarded(this, &TMonitor::btCopyClick));
    connect(btSave, &QPushButton::clicked, this, seam::Guarded(this, &TMonitor::btSaveClick));
    connect(chbListen, &QCheckBox::clicked, this, seam::Guarded(this, &TMonitor::chbListenClick));
    connect(&refresh_, &QTimer::timeout, this, seam::Guarded(this, &TMonitor::refresh));
    connect(&listenTimer_, &QTimer::timeout, this, seam::Guarded(this, &TMonitor::takeHeard));
    listenTimer_.setInterval(ListenLookMs);
    refresh_.setInterval(QuickLookMs);
    resize(118 * digit, 32 * fontMetrics().height());
    refresh();
}

TMonitor::~TMonitor() {
    if (listening())
        listening::Stop();
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
        const std::size_t came = model_.takeNew();
        if (came > 0 && atEnd)
            tvFrames->scrollToBottom();
        const int inSight =
            tvFrames->viewport()->height() / tvFrames->verticalHeader()->defaultSectionSize();
        refresh_.setInterval(came > static_cast<std::size_t>(std::max(inSight, 1)) ? StreamLookMs
                                                                                   : QuickLookMs);
    }
    showState();
}

void TMonitor::showState() {
    const bool heard = listenMode();
    QString text = QStringLiteral("Кадров: %1, со сбоем: %2.")
                       .arg(heard ? heard_.rowCount() : model_.rowCount())
                       .arg(heard ? heard_.failedRows() : model_.failedRows());
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
    if (listenMode()) {
        heard_.clear();
        lbAddresses->clear();
    } else {
        model_.clear();
    }
    showState();
}

void TMonitor::chbErrorsOnlyClick() {
    filter_->setFailedOnly(chbErrorsOnly->isChecked());
    heardFilter_->setFailedOnly(chbErrorsOnly->isChecked());
}

void TMonitor::setColumnWidths() {
    const int digit = fontMetrics().horizontalAdvance(QLatin1Char('0'));
    if (tvFrames->model() == heardFilter_) {
        const int widths[] = {14, 9, 4, 10, 40, 7};
        for (int c = 0; c < ListenModel::Meaning; ++c)
            tvFrames->setColumnWidth(c, widths[c] * digit);
        return;
    }
    const int widths[] = {14, 4, 10, 40, 7};
    for (int c = 0; c < MonitorModel::Meaning; ++c)
        tvFrames->setColumnWidth(c, widths[c] * digit);
}

bool TMonitor::listenMode() const {
    return chbListen->isChecked();
}

bool TMonitor::listening() const {
    return listenTimer_.isActive();
}

void TMonitor::chbListenClick() {
    if (!chbListen->isChecked()) {
        stopListening(QString());
        tvFrames->setModel(filter_);
        setColumnWidths();
        lbAddresses->setVisible(false);
        refresh();
        return;
    }
    bool number = false;
    const int baud = cbListenBaud->currentText().toInt(&number);
    const QString port = cbListenPort->currentText().trimmed();
    QString why;
    if (port.isEmpty())
        why = QStringLiteral("Не указан порт для прослушивания.");
    else if (!number || baud <= 0)
        why = QStringLiteral("Недопустимая скорость: %1.").arg(cbListenBaud->currentText());
    else
        why = listening::Start(port, baud, static_cast<uint8_t>(cbListenParity->currentIndex()));
    if (!why.isEmpty()) {
        chbListen->setChecked(false);
        lbListen->setText(why);
        return;
    }
    heard_.clear();
    tvFrames->setModel(heardFilter_);
    setColumnWidths();
    lbAddresses->clear();
    lbAddresses->setVisible(true);
    for (QWidget* w : std::initializer_list<QWidget*>{cbListenPort, cbListenBaud, cbListenParity})
        w->setEnabled(false);
    lbListen->setText(QStringLiteral("Слушаю %1 (%2 бод, %3), ничего не отправляя.")
                          .arg(port)
                          .arg(baud)
                          .arg(ParityName(cbListenParity->currentIndex())));
    listenTimer_.start();
    showState();
}

void TMonitor::stopListening(const QString& why) {
    if (!listening())
        return;
    listenTimer_.stop();
    takeHeard();
    listening::Stop();
    for (QWidget* w : std::initializer_list<QWidget*>{cbListenPort, cbListenBaud, cbListenParity})
        w->setEnabled(true);
    lbListen->setText(why.isEmpty() ? QString() : why);
}

void TMonitor::takeHeard() {
    bool ended = false;
    uint64_t lost = 0;
    const std::vector<comm_heard> frames = listening::Take(ended, lost);
    if (!frames.empty() || lost > 0) {
        QScrollBar* bar = tvFrames->verticalScrollBar();
        const bool atEnd = bar->value() == bar->maximum();
        heard_.take(frames, lost);
        if (!paused_ && atEnd)
            tvFrames->scrollToBottom();
        lbAddresses->setText(heard_.pairing().statsLines().join(QLatin1Char('\n')));
        showState();
    }
    if (ended && listening()) {
        listenTimer_.stop();
        listening::Stop();
        for (QWidget* w :
             std::initializer_list<QWidget*>{cbListenPort, cbListenBaud, cbListenParity})
            w->setEnabled(true);
        lbListen->setText(QStringLiteral("Прослушивание остановлено: порт отказал (адаптер "
                                         "отключён?)."));
    }
}

void TMonitor::btCopyClick() {
    const bool heard = listenMode();
    FailedRowsFilter* filter = heard ? heardFilter_ : filter_;
    std::set<int> rows;
    for (const QModelIndex& i : tvFrames->selectionModel()->selectedIndexes())
        rows.insert(filter->mapToSource(i).row());
    QStringList lines;
    for (int r : rows)
        lines << (heard ? heard_.rowText(r, QStringLiteral("\t"), false)
                        : model_.rowText(r, QStringLiteral("\t"), false));
    if (!lines.isEmpty())
        QGuiApplication::clipboard()->setText(lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

void TMonitor::btSaveClick() {
    const QString path = AskSaveFileNameWithSuffix(
        this, QStringLiteral("Сохранить кадры"), SuggestedSavePath(Saved::Frames),
        QStringLiteral("Таблица CSV (*.csv);;Текст (*.txt)"), QStringList{"csv", "txt"});
    if (path.isEmpty())
        return;
    const bool text = path.endsWith(QStringLiteral(".txt"), Qt::CaseInsensitive);
    const bool heard = listenMode();
    FailedRowsFilter* filter = heard ? heardFilter_ : filter_;
    const auto rowText = [&](int r, const QString& separator) {
        return heard ? heard_.rowText(r, separator, true) : model_.rowText(r, separator, true);
    };
    QByteArray bytes = text ? QByteArray() : csv::Bom;
    if (!text) {
        QStringList header{"Дата и время", "Направление", "Ответ, мс",
                           "Байты",        "Итог",        "Расшифровка"};
        if (heard)
            header.insert(1, QStringLiteral("Пауза, мс"));
        QByteArrayList fields;
        for (const QString& h : header)
            fields << csv::Field(h);
        bytes += fields.join(csv::Separator) + csv::LineEnd;
    }
    // What the window shows: with "Только ошибки", the failed rows only.
    for (int i = 0; i < filter->rowCount(); ++i) {
        const int r = filter->mapToSource(filter->index(i, 0)).row();
        if (text) {
            bytes += rowText(r, QStringLiteral("\t")).toUtf8() + csv::LineEnd;
            continue;
        }
        QByteArrayList fields;
        for (const QString& field : rowText(r, QStringLiteral("\x1F")).split('\x1F'))
            fields << csv::Field(field);
        bytes += fields.join(csv::Separator) + csv::LineEnd;
    }
    // A text file ends with the counts per address.
    if (heard && text) {
        bytes += csv::LineEnd;
        for (const QString& line : heard_.pairing().statsLines())
            bytes += line.toUtf8() + csv::LineEnd;
    }
    WriteRecordFile(path, bytes);
}
