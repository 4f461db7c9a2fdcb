// The port settings dialog: the PC side of the link (port, speed, parity,
// module address, serial-number letter), saved to the settings file on "OK",
// and the automatic search for a module's speed and parity by its serial
// number.
#pragma once

#include <QDialog>

namespace Ui {
class TParCOM;
}

class TParCOM : public QDialog {
    Q_OBJECT

  public:
    // Fills the controls from the link settings.
    explicit TParCOM(QWidget* parent = nullptr);
    ~TParCOM() override;

    // "OK": opens the link with the chosen values; only if the port opens are
    // they taken over, shown in the status line and saved, and the dialog
    // closes with the OK result.
    void btOkClick();
    // "По умолчанию": the factory values into the controls, nothing applied.
    void Button1Click();
    // "Автоматически": finds the speed and parity of the module with the
    // serial number typed in the lower group and puts them into the lists.
    void btAutoClick();

    Ui::TParCOM* ui;

  protected:
    // Escape does not close this dialog.
    void keyPressEvent(QKeyEvent* event) override;
};
