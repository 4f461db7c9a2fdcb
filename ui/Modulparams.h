// "Служебные параметры модуля": the module's own Modbus link parameters and
// its passport (type, registration number, firmware version, dates).
#pragma once

#include <QDialog>
#include <QString>
#include <optional>

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
    // parameters, and says what came of them (OfferModuleLink). Polling is
    // held meanwhile.
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
    bool passportEditable_ = false;
    // The module as last read, for the history of a passport write.
    std::optional<uint16_t> shownSerial_;
    int shownType_ = 0;
};

// After a write of the module's address, speed and parity: tells the
// technician what came of it and offers to follow the module, whatever the
// write came to.
// - Every value taken: asks "Перейти на новые параметры связи (…)?" (saying
//   when the module has moved already, so that "Нет" loses it); "Да" takes
//   the tool over to the module's link, waits for a restart if the module
//   needs one, or offers the search.
// - Refused half-way: says what the module refused, what it holds and where
//   it answers, with the same question when it holds another link than the
//   tool's (else the standard error box).
// - Fell silent, or answers nowhere: offers the automatic search, with the
//   module's registration number and the address it took filled in.
// The caller holds polling (PollHold) from before the write until this returns.
void OfferModuleLink(QWidget* owner, const module::ModuleLinkOutcome& outcome);
