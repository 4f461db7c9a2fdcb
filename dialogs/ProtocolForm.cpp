#include "ProtocolForm.h"

#include <QDateEdit>
#include <QLineEdit>
#include <QPushButton>

#include "Errors.h"
#include "Seam.h"
#include "ui_ProtocolForm.h"

TProtocolForm::TProtocolForm(QWidget* parent, const ProtocolPeople& people)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint),
      ui(std::make_unique<Ui::TProtocolForm>()) {
    ui->setupUi(this);
    connect(ui->btOk, &QPushButton::clicked, this,
            [this] { seam::Guard([this] { btOkClick(); }); });
    connect(ui->btCancel, &QPushButton::clicked, this, &QDialog::reject);
    ui->edTechnician->setText(people.technician);
    ui->edOrganisation->setText(people.organisation);
    ui->edReference->setText(people.reference);
    ui->edReferenceSerial->setText(people.referenceSerial);
    ui->edReferenceValidUntil->setDate(
        people.referenceValidUntil.isValid() ? people.referenceValidUntil : QDate::currentDate());
    ui->edTemperature->setText(people.temperature);
}

TProtocolForm::~TProtocolForm() = default;

void TProtocolForm::btOkClick() {
    if (ui->edTechnician->text().trimmed().isEmpty())
        throw Exception(QStringLiteral("Укажите исполнителя!"));
    if (ui->edReference->text().trimmed().isEmpty())
        throw Exception(QStringLiteral("Укажите эталон!"));
    accept();
}

ProtocolPeople TProtocolForm::people() const {
    ProtocolPeople p;
    p.technician = ui->edTechnician->text().trimmed();
    p.organisation = ui->edOrganisation->text().trimmed();
    p.reference = ui->edReference->text().trimmed();
    p.referenceSerial = ui->edReferenceSerial->text().trimmed();
    p.referenceValidUntil = ui->edReferenceValidUntil->date();
    p.temperature = ui->edTemperature->text().trimmed();
    return p;
}
