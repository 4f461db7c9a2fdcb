#include "Modulparams.h"

#include <QColor>
#include <QComboBox>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>

#include "Convert.h"
#include "Errors.h"
#include "Func.h"
#include "Seam.h"
#include "ui_Modulparams.h"

namespace {

constexpr int PasswordGranted = 1;
constexpr int PauseAfterWrite = 300; // ms, after every write of "Записать"

const QColor Silver(192, 192, 192);
const QColor Gray(128, 128, 128);
const QColor DisabledText(48, 48, 48);

void Paint(QWidget* w, const QColor& background) {
    QPalette pal = w->palette();
    // Every colour group: the fields are mostly disabled.
    pal.setColor(QPalette::Base, background);
    pal.setColor(QPalette::Button, background);
    // The style's gray for disabled text all but vanishes on these
    // backgrounds; the type, version and dates must stay readable.
    pal.setColor(QPalette::Disabled, QPalette::Text, DisabledText);
    pal.setColor(QPalette::Disabled, QPalette::ButtonText, DisabledText);
    w->setPalette(pal);
}

// The text of a masked edit as shown, blanks and literals kept ("  .  .  "
// when empty); QLineEdit::text() would drop the blanks.
QString MaskedText(const QLineEdit* edit) {
    return edit->displayText();
}

QString DateField(const reg::Date& d) {
    return QString::fromStdString(reg::DateText(d));
}

} // namespace

QString ModuleTypeName(uint16_t code) {
    if (code >= 1 && code <= ModuleTypeNames.size())
        return QString::fromLatin1(ModuleTypeNames[code - 1]);
    return QStringLiteral("UNKNOWN");
}

TModPars::TModPars(QWidget* parent, QDialog* password) : QDialog(parent), ui(new Ui::TModPars) {
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());

    for (char c = 'A'; c <= 'Z'; ++c)
        ui->cbAlpha->addItem(QString(QLatin1Char(c)));
    ui->cbAlpha->setCurrentIndex(-1);
    ui->cbSpeed->setCurrentIndex(-1);
    ui->cbParity->setCurrentIndex(-1);
    for (QWidget* w : {static_cast<QWidget*>(ui->edName), static_cast<QWidget*>(ui->edVer),
                       static_cast<QWidget*>(ui->edCheck)})
        Paint(w, Silver);
    ui->edAdress->setFocus();

    connect(ui->btWrite, &QPushButton::clicked, this,
            [this] { seam::Guard([this] { btWriteClick(); }); });
    connect(ui->btRead, &QPushButton::clicked, this,
            [this] { seam::Guard([this] { btReadClick(); }); });
    connect(ui->btDef, &QPushButton::clicked, this,
            [this] { seam::Guard([this] { btDefClick(); }); });

    // The password question comes before the dialog is shown. Only an
    // explicit grant opens the passport; any other ending keeps it read-only.
    const int result = password ? password->exec() : 0;
    passportEditable_ = result == PasswordGranted;
    if (passportEditable_)
        presetLetter();
    else
        makePassportReadOnly();
}

TModPars::~TModPars() {
    delete ui;
}

void TModPars::makePassportReadOnly() {
    for (QWidget* w : {static_cast<QWidget*>(ui->edNumber), static_cast<QWidget*>(ui->edManuf),
                       static_cast<QWidget*>(ui->cbAlpha)}) {
        w->setEnabled(false);
        Paint(w, Gray);
    }
    ui->cbAlpha->setCurrentIndex(-1);
}

void TModPars::presetLetter() {
    ui->cbAlpha->setCurrentIndex(SerialLetterIndexSetting());
}

void TModPars::btReadClick() {
    uint16_t w = 0;

    ReadRegister(reg::OwnAddress, w);
    ui->edAdress->setText(QString::number(w));

    ReadRegister(reg::OwnSpeed, w);
    ui->cbSpeed->setCurrentIndex(reg::SpeedIndexOfCode(w));

    ReadRegister(reg::OwnParity, w);
    const int parity = w & 0xFF;
    ui->cbParity->setCurrentIndex(parity < ui->cbParity->count() ? parity : -1);

    ReadRegister(reg::TypeCode, w);
    ui->edName->setText(ModuleTypeName(w));

    ReadRegister(reg::SerialNumber, w);
    ui->edNumber->setText(
        QStringLiteral("%1").arg(reg::SerialNumberPart(w), 4, 10, QLatin1Char('0')));
    const int letter = reg::SerialLetterIndex(w);
    ui->cbAlpha->setCurrentIndex(letter >= 0 && letter < ui->cbAlpha->count() ? letter : -1);

    ReadRegister(reg::Version, w);
    ui->edVer->setText(QString::fromStdString(reg::VersionText(w)));

    ReadRegister(reg::ManufactureDate, w);
    const reg::Date made = reg::UnpackDate(w);
    if (!reg::IsValidDate(made))
        throw Exception(QStringLiteral("Некорректная дата изготовления!"));
    ui->edManuf->setText(DateField(made));

    ReadRegister(reg::CalibrationDate, w);
    const reg::Date calibrated = reg::UnpackDate(w);
    if (!reg::IsValidDate(calibrated))
        throw Exception(
            QStringLiteral("Некорректная дата калибровки!\nВозможно модуль не откалиброван!"));
    ui->edCheck->setText(DateField(calibrated));
}

void TModPars::btWriteClick() {
    const int speed = ui->cbSpeed->currentIndex();
    if (speed < 0)
        throw Exception(QStringLiteral("Выберите скорость!"));
    const int parity = ui->cbParity->currentIndex();
    if (parity < 0)
        throw Exception(QStringLiteral("Выберите паритет!"));
    const QString addressText = MaskedText(ui->edAdress).trimmed();
    // An empty field is refused like 0, before any conversion.
    const int32_t address = addressText.isEmpty() ? 0 : StrToInt(addressText);
    CheckModuleAddress(address);

    WriteRegister(reg::OwnAddress, static_cast<uint32_t>(address));
    seam::pause(PauseAfterWrite);
    WriteRegister(reg::OwnSpeed, reg::SpeedCode(reg::Speeds[static_cast<std::size_t>(speed)]));
    seam::pause(PauseAfterWrite);
    WriteRegister(reg::OwnParity, static_cast<uint32_t>(parity));
    seam::pause(PauseAfterWrite);

    if (!passportEditable_)
        return;

    const QString numberText = ui->edNumber->text();
    const int letter = ui->cbAlpha->currentIndex();
    if (numberText.isEmpty() || letter < 0)
        throw Exception(QStringLiteral("Введите  номер модуля!"));
    const int32_t number = StrToInt(numberText);
    CheckSerialNumber(number); // anything else would change the letter
    WriteRegisterUnlocked(reg::SerialNumber, reg::EncodeSerial(letter, number));
    seam::pause(PauseAfterWrite);

    const reg::Date made = StrToDate(MaskedText(ui->edManuf));
    // The word has 6 bits for the year within the century, and a stored year
    // 00 reads back as no date at all.
    if (made.year < 1 || made.year > reg::MaxPackedYear)
        throw Exception(QStringLiteral("Год изготовления должен быть от 2001 до 2063!"));
    WriteRegisterUnlocked(reg::ManufactureDate, reg::PackDate(made.day, made.month, made.year));
    seam::pause(PauseAfterWrite);
}

void TModPars::btDefClick() {
    ui->edAdress->setText(QStringLiteral("1"));
    ui->cbSpeed->setCurrentIndex(3);  // 19200
    ui->cbParity->setCurrentIndex(2); // Even
    if (ui->edManuf->isEnabled())
        ui->edManuf->setText(DateField(Today()));
}
