#include "Check.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

#include "ClosePath.h"
#include "Convert.h"
#include "Errors.h"
#include "Profile.h"
#include "Protocol.h"
#include "Registers.h"
#include "Remember.h"
#include "Seam.h"
#include "ui_Check.h"

namespace {

QString Signed(double value, int decimals) {
    const QString t = DecimalText(value, decimals);
    return value > 0 && t != QStringLiteral("0") ? QLatin1Char('+') + t : t;
}

// The mode as the main window names it.
QString ModeName(uint16_t mode) {
    if (mode == reg::ModeCurrent)
        return QStringLiteral("«Ток»");
    if (mode == reg::ModeVoltage)
        return QStringLiteral("«Напряжение»");
    return QString::number(mode);
}

} // namespace

TCheck::TCheck(QWidget* parent, const ProfileFile& file)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      ui(std::make_unique<Ui::TCheck>()), settings_(file), countdown_(new QTimer(this)) {
    ui->setupUi(this);
    countdown_->setInterval(250);
    connect(countdown_, &QTimer::timeout, this, [this] { ShowProgress(); });
    ui->tbResults->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    ui->tbResults->verticalHeader()->hide();
    connect(ui->btNext, &QPushButton::clicked, this, seam::Guarded(this, &TCheck::btNextClick));
    connect(ui->btCancel, &QPushButton::clicked, this, seam::Guarded(this, &TCheck::reject));

    const CheckSettings settings = LoadCheckSettings(settings_);
    TellIgnoredSettings(parent);
    ui->edCurrentPoints->setText(PointsText(settings.current));
    ui->edVoltagePoints->setText(PointsText(settings.voltage));
    ui->edTolerance->setText(ToleranceText(settings.tolerancePercent));
    ui->edSamples->setText(QString::number(settings.samples));
    ui->lbTip->setText(QStringLiteral("Задайте точки проверки и допуск и нажмите \"Далее >>\"."));
    check_.begin();
}

TCheck::~TCheck() = default;

void TCheck::Start() {
    CheckSettings s;
    s.current = ParsePoints(ui->edCurrentPoints->text(), Range::Current);
    s.voltage = ParsePoints(ui->edVoltagePoints->text(), Range::Voltage);
    if (s.current.empty() && s.voltage.empty())
        throw Exception(QStringLiteral("Задайте хотя бы одну точку проверки!"));
    s.tolerancePercent = ParseTolerance(ui->edTolerance->text());
    const auto samples = TryStrToInt(ui->edSamples->text().trimmed());
    if (!samples || *samples < 1 || *samples > 50)
        throw Exception(QStringLiteral("Число отсчётов должно быть от 1 до 50!"));
    s.samples = *samples;
    Remember(this, settings_, [&](ProfileFile& file) { SaveCheckSettings(file, s); });
    check_.setSettings(s);
    ui->gbSettings->setEnabled(false);
    ui->tbResults->setRowCount(0);
    started_ = true;
}

void TCheck::ShowPoint() {
    setWindowTitle(QStringLiteral("Проверка точности - точка %1 из %2")
                       .arg(check_.index() + 1)
                       .arg(check_.count()));
    ui->lbTip->setText(CheckPrompt(check_.current()));
}

void TCheck::Step() {
    CheckStep step;
    try {
        step = check_.advance();
    } catch (...) {
        StopPoint();
        throw;
    }
    if (!step.pointDone) {
        Wait(step.waitMs, step.progress);
        return;
    }
    StopPoint();
    const PointResult& point = check_.result().points.back();
    AddRow(point);
    if (point.flags)
        ui->lbProgress->setText(QStringLiteral("Точка %1 не годна: %2.")
                                    .arg(SignalText(point.point), FlagsReason(point.flags)));
    if (check_.finished())
        Finish();
    else
        ShowPoint();
}

void TCheck::Wait(int milliseconds, const QString& progress) {
    progress_ = progress;
    waitEnd_ = QDeadlineTimer(milliseconds);
    if (milliseconds > 1000)
        countdown_->start();
    else
        countdown_->stop();
    ShowProgress();
    seam::wait(this, milliseconds, [this, run = run_] {
        if (run == run_)
            seam::Guard([this] { Step(); });
    });
}

// The progress line: what the point waits for, with the seconds left of a
// long wait.
void TCheck::ShowProgress() {
    QString text = QStringLiteral("Точка %1: %2").arg(SignalText(check_.current()), progress_);
    if (countdown_->isActive())
        text += QStringLiteral(", осталось %1 с").arg((waitEnd_.remainingTime() + 999) / 1000);
    ui->lbProgress->setText(text);
}

void TCheck::StopPoint() {
    ++run_;
    countdown_->stop();
    check_.abandonPoint();
    measuring_ = false;
    ui->lbProgress->clear();
    ui->btNext->setEnabled(true);
}

void TCheck::AddRow(const PointResult& p) {
    const QString unit = QLatin1Char(' ') + UnitText(p.point.range);
    const QStringList cells = {SignalText(p.point),
                               QString::number(p.point.nominal) + unit,
                               DecimalText(p.mean, 1),
                               DecimalText(p.spread, 0),
                               Signed(p.error, 1) + unit,
                               Signed(p.errorPercent, 3),
                               QStringLiteral("±") + DecimalText(p.tolerance, 1),
                               p.pass ? QStringLiteral("Годен") : QStringLiteral("Не годен")};
    const int row = ui->tbResults->rowCount();
    ui->tbResults->insertRow(row);
    for (int c = 0; c < cells.size(); ++c) {
        auto* item = new QTableWidgetItem(cells[c]);
        item->setTextAlignment(c == 0 ? Qt::AlignLeft | Qt::AlignVCenter
                                      : Qt::AlignRight | Qt::AlignVCenter);
        if (!p.pass && c == cells.size() - 1) {
            item->setForeground(Qt::red);
            item->setToolTip(FlagsReason(p.flags));
        }
        ui->tbResults->setItem(row, c, item);
    }
    ui->tbResults->scrollToItem(ui->tbResults->item(row, 0));
}

void TCheck::Finish() {
    const bool pass = check_.result().pass();
    setWindowTitle(QStringLiteral("Проверка точности"));
    ui->lbTip->setText(QStringLiteral("Проверка завершена."));
    ui->lbVerdict->setText(QStringLiteral("Заключение: ") +
                           (pass ? QStringLiteral("Годен") : QStringLiteral("Не годен")));
    ui->lbVerdict->setStyleSheet(pass ? QString() : QStringLiteral("color: red"));
    ui->btNext->setText(QStringLiteral("Готово"));
    ui->btCancel->hide();
}

void TCheck::btNextClick() {
    if (measuring_)
        return;
    if (!started_) {
        Start();
        ShowPoint();
        return;
    }
    if (check_.finished()) {
        done(QDialog::Accepted);
        return;
    }
    measuring_ = true;
    ui->btNext->setEnabled(false);
    Step();
}

void TCheck::FormClose() {
    check_.restore();
}

// Whether the close may go ahead: the mode and integration time are back,
// the module measures as before anyway, or the technician closes without
// them; otherwise the dialog stays, and closing again tries again.
bool TCheck::MayClose() {
    try {
        FormClose();
        return true;
    } catch (const Exception& e) {
        if (check_.moduleAsFound())
            return true;
        return seam::ask(this,
                         e.message() +
                             QStringLiteral("\nМодуль оставлен в режиме %1, заданном проверкой; "
                                            "до проверки был режим %2.\n"
                                            "Закрыть проверку, не восстановив режим?")
                                 .arg(ModeName(check_.modeWritten()), ModeName(check_.savedMode())),
                         QString(), seam::Icon::Warning);
    }
}

void TCheck::done(int result) {
    if (closing) {
        QDialog::done(result);
        return;
    }
    if (measuring_)
        StopPoint();
    if (!MayClose())
        return;
    closing = true;
    QDialog::done(result);
    closing = false;
}

void TCheck::closeEvent(QCloseEvent* event) {
    CloseThroughDone(*this, closing, event);
}
