#include "Check.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include "Convert.h"
#include "Errors.h"
#include "Profile.h"
#include "Protocol.h"
#include "Seam.h"
#include "ui_Check.h"

namespace {

QString Signed(double value, int decimals) {
    const QString t = DecimalText(value, decimals);
    return value > 0 && t != QStringLiteral("0") ? QLatin1Char('+') + t : t;
}

} // namespace

TCheck::TCheck(QWidget* parent, const ProfileFile& file)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      ui(std::make_unique<Ui::TCheck>()), settings_(file) {
    ui->setupUi(this);
    ui->tbResults->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    ui->tbResults->verticalHeader()->hide();
    connect(ui->btNext, &QPushButton::clicked, this,
            [this] { seam::Guard([this] { btNextClick(); }); });
    connect(ui->btCancel, &QPushButton::clicked, this,
            [this] { seam::Guard([this] { reject(); }); });

    const CheckSettings settings = LoadCheckSettings(settings_);
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
    SaveCheckSettings(settings_, s);
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
    check_.prepare();
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
        if (!p.pass && c == cells.size() - 1)
            item->setForeground(Qt::red);
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
    if (!started_) {
        Start();
        ShowPoint();
        return;
    }
    if (check_.finished()) {
        done(QDialog::Accepted);
        return;
    }
    check_.prepare(); // again, should the switch have failed before
    AddRow(check_.measure());
    if (check_.finished())
        Finish();
    else
        ShowPoint();
}

void TCheck::FormClose() {
    check_.restore();
}

void TCheck::done(int result) {
    if (closing) {
        QDialog::done(result);
        return;
    }
    bool restored = false;
    seam::Guard([&] {
        FormClose();
        restored = true;
    });
    if (!restored)
        return; // stays open and may be closed again
    closing = true;
    QDialog::done(result);
    closing = false;
}

void TCheck::closeEvent(QCloseEvent* event) {
    if (closing || !isVisible()) {
        event->accept();
        return;
    }
    done(QDialog::Rejected);
    if (isVisible())
        event->ignore();
    else
        event->accept();
}
