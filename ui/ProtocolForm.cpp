#include "ProtocolForm.h"

#include <QLineEdit>
#include <QPushButton>

#include "Errors.h"
#include "Seam.h"
#include "ui_ProtocolForm.h"

namespace {

const QString DateFormat = QStringLiteral("dd.MM.yyyy");

// A date as typed: "31.01.2027", also "31.1.2027"; invalid otherwise.
QDate TypedDate(const QString& text) {
    return QDate::fromString(text.trimmed(), QStringLiteral("d.M.yyyy"));
}

} // namespace

TProtocolForm::TProtocolForm(QWidget* parent, const ProtocolPeople& people, const QString& title)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint),
      ui(std::make_unique<Ui::TProtocolForm>()) {
    ui->setupUi(this);
    setWindowTitle(title);
    connect(ui->btOk, &QPushButton::clicked, this, seam::Guarded(this, &TProtocolForm::btOkClick));
    connect(ui->btCancel, &QPushButton::clicked, this, &QDialog::reject);
    ui->edTechnician->setText(people.technician);
    ui->edOrganisation->setText(people.organisation);
    ui->edReference->setText(people.reference);
    ui->edReferenceSerial->setText(people.referenceSerial);
    // Empty unless entered before: nothing is printed that nobody entered.
    ui->edReferenceValidUntil->setText(people.referenceValidUntil.toString(DateFormat));
    ui->edTemperature->setText(people.temperature);
}

TProtocolForm::~TProtocolForm() = default;

void TProtocolForm::btOkClick() {
    if (ui->edTechnician->text().trimmed().isEmpty())
        throw Exception(QStringLiteral("Укажите исполнителя!"));
    if (ui->edReference->text().trimmed().isEmpty())
        throw Exception(QStringLiteral("Укажите эталон!"));
    if (!TypedDate(ui->edReferenceValidUntil->text()).isValid())
        throw Exception(QStringLiteral("Укажите срок действия эталона (дд.мм.гггг)!"));
    accept();
}

ProtocolPeople TProtocolForm::people() const {
    ProtocolPeople p;
    p.technician = ui->edTechnician->text().trimmed();
    p.organisation = ui->edOrganisation->text().trimmed();
    p.reference = ui->edReference->text().trimmed();
    p.referenceSerial = ui->edReferenceSerial->text().trimmed();
    p.referenceValidUntil = TypedDate(ui->edReferenceValidUntil->text());
    p.temperature = ui->edTemperature->text().trimmed();
    return p;
}
