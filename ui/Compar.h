// The port settings dialog: the PC side of the link (port, speed, parity,
// module address, serial-number letter), saved to the settings file on "OK",
// and the automatic search for a module's speed and parity by its serial
// number.
#pragma once

#include <QDialog>
#include <optional>
#include <vector>

#include "LinkSettings.h"

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
    // "Отмена" and the close box: after a search that left the line at the
    // speed and parity it found, the link in force is opened again, so that
    // the line runs at what the status line shows.
    void reject() override;

    Ui::TParCOM* ui;

  protected:
    // ---- Where the selected COM name leads (Linux; hidden on Windows)
    // The device list for the selected port, its choice taken from the
    // library's settings file.
    void fillDevices();
    // The device line: the device the selected port reaches with the chosen
    // device, what it is, and `reason` (why the port did not open) below.
    void showDevice(const QString& reason = QString());
    // The port map entry the user chose for the selected port; nothing when
    // the choice is still the one the map holds.
    std::optional<PortMapEntry> deviceEntry() const;
    // What the link is opened or searched on for the selected port.
    QString portToOpen() const;
    // The controls' values for "OK", checked: speed, parity and address.
    LinkChoice chosenLink() const;

    // Escape does not close this dialog.
    void keyPressEvent(QKeyEvent* event) override;

  private:
    std::vector<SerialDevice> devices_;
    QString listedDevice_; // the device item the stored map selected
    bool fillingDevices_ = false;
    bool lineMoved_ = false; // a search left the line at other settings than the link's
};
