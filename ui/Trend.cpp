#include "Trend.h"

#include <QDir>
#include <QLocale>
#include <algorithm>
#include <cmath>

#include "Errors.h"
#include "SaveAs.h"
#include "SaveName.h"
#include "Seam.h"
#include "TrendPlot.h"
#include "ui_Trend.h"

namespace {

// While polls come in, the window is redrawn at most five times a second,
// and less often when drawing takes long (a full trend on a slow machine), so
// that drawing takes no more than about 1 % of the time.
constexpr int RefreshMs = 200;
constexpr int MaxRefreshMs = 2000;
constexpr int RefreshPerPaint = 100;

} // namespace

TTrend::TTrend(QWidget* owner, int capacity)
    : QWidget(owner, Qt::Window), ui(new Ui::TTrend), model_(capacity) {
    ui->setupUi(this);
    ui->pbTrend->setModel(&model_);

    refresh_.setSingleShot(true);
    connect(&refresh_, &QTimer::timeout, this, &TTrend::refresh);

    connect(ui->btPause, &QPushButton::clicked, this, seam::Guarded(this, &TTrend::btPauseClick));
    connect(ui->btClear, &QPushButton::clicked, this, seam::Guarded(this, &TTrend::btClearClick));
    connect(ui->btSave, &QPushButton::clicked, this, seam::Guarded(this, &TTrend::btSaveClick));
    refresh();
}

TTrend::~TTrend() {
    delete ui;
}

void TTrend::record(const PollOutcome& outcome) noexcept {
    model_.add(outcome);
    if (frozen_ || !isVisible() || refresh_.isActive())
        return;
    const double wait = ui->pbTrend->lastPaintMs() * RefreshPerPaint;
    refresh_.start(std::clamp(static_cast<int>(wait), RefreshMs, MaxRefreshMs));
}

void TTrend::open() {
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}

void TTrend::showEvent(QShowEvent* event) {
    refresh(); // polls that came while it was hidden
    QWidget::showEvent(event);
}

void TTrend::refresh() {
    const TrendModel& m = shown();
    const TrendStats s = m.stats();
    const QLocale russian = TrendNumbers();
    const QString unit = QLatin1Char(' ') + m.unit();
    const auto value = [&](double v, int decimals) {
        return s.count == 0 || std::isnan(v) ? QStringLiteral("—")
                                             : russian.toString(v, 'f', decimals) + unit;
    };
    ui->lbMin->setText(QStringLiteral("Мин: ") + value(s.min, 0));
    ui->lbMax->setText(QStringLiteral("Макс: ") + value(s.max, 0));
    ui->lbMean->setText(QStringLiteral("Среднее: ") + value(s.mean, 2));
    ui->lbStdDev->setText(QStringLiteral("СКО: ") + value(s.stdDev, 2));
    ui->lbCount->setText(QStringLiteral("Точек: ") + QString::number(s.count));
    ui->pbTrend->update();
}

void TTrend::btPauseClick() {
    if (ui->btPause->isChecked()) {
        frozen_ = model_;
        ui->pbTrend->setModel(&*frozen_);
        ui->btPause->setText(QStringLiteral("Продолжить"));
    } else {
        ui->pbTrend->setModel(&model_);
        frozen_.reset();
        ui->btPause->setText(QStringLiteral("Пауза"));
    }
    refresh();
}

void TTrend::btClearClick() {
    model_.clear();
    if (frozen_)
        frozen_->clear();
    refresh();
}

void TTrend::btSaveClick() {
    const QString path = AskSaveFileNameWithSuffix(
        this, QStringLiteral("Сохранить тренд"), SuggestedSavePath(Saved::Trend),
        QStringLiteral("Изображения PNG (*.png)"), QStringLiteral("png"));
    if (path.isEmpty())
        return;
    refresh();
    if (!ui->pnChart->grab().save(path, "PNG"))
        throw Exception(QStringLiteral("Невозможно сохранить файл «") +
                        QDir::toNativeSeparators(path) + QStringLiteral("»"));
}
