// "Служебные параметры модуля": the module's own Modbus link parameters and
// its passport (type, registration number, firmware version, dates).
#pragma once

#include <QDialog>
#include <QString>
#include <array>
#include <cstdint>

namespace Ui {
class TModPars;
}

// Model names by module type code 1..19 (register 768); index 0 is code 1.
inline constexpr std::array<const char*, 19> ModuleTypeNames = {
    "RK-110",   "RK-130", "LN-A1",  "BX-1",   "RD-220", "RD-210", "RK-120",
    "RK-130.1", "QS-11M", "QS-42M", "QS-31M", "LN-A1X", "LN-A1Y", "PX-7",
    "QS-638",   "QS-639", "QS-730", "QS-740", "QS-519"};

// The name for a type code, "UNKNOWN" outside 1..19.
QString ModuleTypeName(uint16_t code);

class TModPars : public QDialog {
    Q_OBJECT

  public:
    // Builds the form, then asks `password` (shown modally) whether the
    // passport may be changed: result 1 grants it, anything else (7 = no
    // password) leaves the passport read-only for the dialog's whole life.
    TModPars(QWidget* parent, QDialog* password);
    ~TModPars() override;
    TModPars(const TModPars&) = delete;
    TModPars& operator=(const TModPars&) = delete;

    // "Прочитать": reads the eight registers into the fields.
    void btReadClick();
    // "Записать": checks the fields, writes the link parameters and, with an
    // editable passport, the registration number and the manufacture date.
    void btWriteClick();
    // "По умолчанию": factory values into the fields; nothing is sent.
    void btDefClick();

    bool passportEditable() const { return passportEditable_; }

  private:
    Ui::TModPars* ui;

    void makePassportReadOnly();
    void presetLetter();

    bool passportEditable_ = false;
};
