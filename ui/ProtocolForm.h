// The small form before a protocol: who made the calibration or the check
// and with which reference instrument; what was entered last time is offered
// again.
#pragma once

#include <QDialog>
#include <memory>

#include "Protocol.h"

namespace Ui {
class TProtocolForm;
}

class TProtocolForm : public QDialog {
    Q_OBJECT
  public:
    // `title`: "Протокол калибровки" or "Протокол проверки".
    TProtocolForm(QWidget* parent, const ProtocolPeople& people, const QString& title);
    ~TProtocolForm() override;

    // Checks the entries (the technician, the reference and the date until
    // which it is valid are needed) and closes with OK.
    void btOkClick();
    ProtocolPeople people() const;

  private:
    std::unique_ptr<Ui::TProtocolForm> ui;
};
