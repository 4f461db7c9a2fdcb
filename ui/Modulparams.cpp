#include "Modulparams.h"

#include <QColor>
#include <QComboBox>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>

#include "Compar.h"
#include "Convert.h"
#include "Errors.h"
#include "Func.h"
#include "HistoryRecords.h"
#include "HistoryWriter.h"
#include "Seam.h"
#include "ui_Compar.h"
#include "ui_Modulparams.h"

namespace {

constexpr int PasswordGranted = 1;

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

    connect(ui->btWrite, &QPushButton::clicked, this, seam::Guarded(this, &TModPars::btWriteClick));
    connect(ui->btRead, &QPushButton::clicked, this, seam::Guarded(this, &TModPars::btReadClick));
    connect(ui->btDef, &QPushButton::clicked, this, seam::Guarded(this, &TModPars::btDefClick));

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
    module::ServiceParams p;
    try {
        module::ReadServiceParams(p);
    } catch (...) {
        fill(p); // what was read before the failure stays in the fields
        throw;
    }
    fill(p);
}

void TModPars::fill(const module::ServiceParams& p) {
    if (p.address)
        ui->edAdress->setText(QString::number(*p.address));
    if (p.speedIndex)
        ui->cbSpeed->setCurrentIndex(*p.speedIndex);
    if (p.parity)
        ui->cbParity->setCurrentIndex(*p.parity < ui->cbParity->count() ? *p.parity : -1);
    if (p.typeCode) {
        ui->edName->setText(ModuleTypeName(*p.typeCode));
        shownType_ = *p.typeCode;
    }
    if (p.serial)
        shownSerial_ = *p.serial;
    if (p.serial) {
        ui->edNumber->setText(
            QStringLiteral("%1").arg(reg::SerialNumberPart(*p.serial), 4, 10, QLatin1Char('0')));
        const int letter = reg::SerialLetterIndex(*p.serial);
        ui->cbAlpha->setCurrentIndex(letter >= 0 && letter < ui->cbAlpha->count() ? letter : -1);
    }
    if (p.version)
        ui->edVer->setText(QString::fromStdString(reg::VersionText(*p.version)));
    if (p.manufactured)
        ui->edManuf->setText(DateField(*p.manufactured));
    if (p.calibrated)
        ui->edCheck->setText(DateField(*p.calibrated));
}

module::ServiceWrite TModPars::toWrite() const {
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

    module::ServiceWrite w;
    w.link = {address, reg::Speeds[static_cast<std::size_t>(speed)], parity};
    if (!passportEditable_)
        return w;
    // Every field is checked before anything is sent.
    const QString numberText = ui->edNumber->text();
    const int letter = ui->cbAlpha->currentIndex();
    if (numberText.isEmpty() || letter < 0)
        throw Exception(QStringLiteral("Введите  номер модуля!"));
    const int32_t number = StrToInt(numberText);
    CheckSerialNumber(number); // anything else would change the letter
    const reg::Date made = StrToDate(MaskedText(ui->edManuf));
    module::CheckManufactureYear(made);
    w.passport = module::ServiceWrite::Passport{reg::EncodeSerial(letter, number), made};
    return w;
}

void TModPars::btWriteClick() {
    const PollHold hold; // no poll goes to a link on the move
    const module::ServiceWrite w = toWrite();
    const module::ModuleLinkOutcome r = module::WriteServiceParams(w);
    if (w.passport)
        History::Record(History::PassportEntry(
            shownSerial_.value_or(w.passport->serial), w.passport->serial, shownType_,
            QString::fromStdString(reg::DateText(w.passport->manufactured))));
    OfferModuleLink(this, r);
}

namespace {

// The module answers at its old link only: asks for a restart and whether
// to try again.
bool AskRestart(QWidget* owner, const module::ModuleLinkOutcome& r) {
    return seam::ask(
        owner,
        QStringLiteral("Модуль не отвечает на новых параметрах связи (%1), но отвечает на прежних "
                       "(%2): он перейдёт на новые после перезапуска. Программа пока остаётся на "
                       "прежних.\nПерезапустите модуль (выключите и включите питание) и нажмите "
                       "\u00abДа\u00bb, чтобы перейти на новые параметры связи, или "
                       "\u00abНет\u00bb, чтобы остаться на прежних.")
            .arg(module::LinkText(r.holds), module::LinkText(r.before)),
        QString(), seam::Icon::Question);
}

// The port settings dialog with the module's number and the address it
// holds: "Автоматически" finds its speed and parity, "OK" takes them over.
void OfferSearch(QWidget* owner, const QString& question, const module::ModuleLinkOutcome& r) {
    if (!seam::ask(owner, question, QString(), seam::Icon::Warning))
        return;
    TParCOM port(owner);
    port.ui->cbSerNumAlpha->setCurrentIndex(reg::SerialLetterIndex(r.serial));
    port.ui->edNumber->setText(QString::number(reg::SerialNumberPart(r.serial)));
    port.ui->edAddress->setText(QString::number(r.holds.address));
    port.exec();
}

QString NotFoundQuestion(const module::ModuleLinkOutcome& r) {
    return QStringLiteral("Модуль не отвечает ни на новых параметрах связи (%1), ни на прежних "
                          "(%2).\nПрограмма остаётся на прежних параметрах связи. Найти модуль "
                          "автоматическим поиском по его регистрационному номеру %3?")
        .arg(module::LinkText(r.holds), module::LinkText(r.before), module::SerialText(r.serial));
}

// After "Да": the tool follows the module, and says how that went.
void SwitchOver(QWidget* owner, const module::ModuleLinkOutcome& r) {
    uint16_t found = 0;
    module::SwitchResult result = module::SwitchToModuleLink(r, &found);
    // A module that takes its new link after a restart: the technician
    // restarts it, and the tool tries again.
    while (result == module::SwitchResult::AfterRestart && AskRestart(owner, r))
        result = module::SwitchToModuleLink(r, &found);
    switch (result) {
    case module::SwitchResult::Switched:
    case module::SwitchResult::AfterRestart:
        return; // the status line shows the link the tool is on
    case module::SwitchResult::OtherModule:
        seam::message(owner,
                      QStringLiteral("На новых параметрах связи (%1) отвечает другой модуль: "
                                     "рег. номер %2 вместо %3.\nПрограмма остаётся на прежних "
                                     "параметрах связи.")
                          .arg(module::LinkText(r.holds), module::SerialText(found),
                               module::SerialText(r.serial)),
                      QString(), seam::Icon::Warning);
        return;
    case module::SwitchResult::NotFound:
        OfferSearch(owner, NotFoundQuestion(r), r);
        return;
    }
}

} // namespace

void OfferModuleLink(QWidget* owner, const module::ModuleLinkOutcome& r) {
    if (r.target != r.before || !r.complete())
        History::Record(History::LinkEntry(r, 0));
    if (!r.answersAt) { // fell silent, or took everything and answers nowhere
        OfferSearch(owner, r.complete() ? NotFoundQuestion(r) : r.silenceQuestion(), r);
        return;
    }
    if (!r.linkChanged()) {
        if (!r.complete())
            throw Exception(r.failureReport());
        return;
    }
    if (r.complete()
            ? seam::ask(owner, r.switchQuestion(), QString(), seam::Icon::Question)
            : seam::ask(owner, r.failureReport() + QStringLiteral("\n\n") + r.switchQuestion(),
                        QString(), seam::Icon::Warning))
        SwitchOver(owner, r);
}

void TModPars::btDefClick() {
    ui->edAdress->setText(QString::number(reg::FactoryAddress));
    ui->cbSpeed->setCurrentIndex(reg::SpeedIndex(reg::FactoryBaud));
    ui->cbParity->setCurrentIndex(reg::FactoryParity);
    if (ui->edManuf->isEnabled())
        ui->edManuf->setText(DateField(Today()));
}
