// The small form before a protocol: who made the calibration and with which
// reference instrument; what was entered last time is offered again.
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
    TProtocolForm(QWidget* parent, const ProtocolPeople& people);
    ~TProtocolForm() override;

    // Checks the entries (the technician and the reference are needed) and
    // closes with OK.
    void btOkClick();
    ProtocolPeople people() const;

  private:
    std::unique_ptr<Ui::TProtocolForm> ui;
};
