// The main window: the module's value and error flags, the measurement
// parameters, the menu of commands and the link's status line.
#pragma once

#include <QMainWindow>

namespace Ui {
class TForm1;
}

class TForm1 : public QMainWindow {
    Q_OBJECT

  public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

  private:
    Ui::TForm1* ui;
};
