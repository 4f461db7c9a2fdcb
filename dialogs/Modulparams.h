// "Служебные параметры модуля": the module's own Modbus link parameters and
// its passport (type, registration number, firmware version, dates).
#pragma once

#include <QDialog>
#include <QString>

#include "ServiceParams.h"

namespace Ui {
class TModPars;
}

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
    // "Записать": checks the fields, writes the registration number and the
    // manufacture date (with an editable passport), then the link
    // parameters; after a change of the module's link asks whether the tool
    // should follow it.
    void btWriteClick();
    // "По умолчанию": factory values into the fields; nothing is sent.
    void btDefClick();

    bool passportEditable() const { return passportEditable_; }

  private:
    Ui::TModPars* ui;

    void makePassportReadOnly();
    void presetLetter();
    // The fields of what was read.
    void fill(const module::ServiceParams& p);
    // The fields, checked, as what "Записать" sends.
    module::ServiceWrite toWrite() const;
    // After a write that changed the module's link: asks whether the tool
    // follows it, and says how that went.
    void offerNewLink(const module::WriteResult& r);
    // The module answers at its old link only: asks for a restart and
    // whether to try again.
    bool askRestart(const module::WriteResult& r);
    // The module answers nowhere: offers the search by its number.
    void offerSearch(const module::WriteResult& r);

    bool passportEditable_ = false;
};
