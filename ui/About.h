// "О программе": the program's name, version, legal notice, author and
// description, read from its version information.
#pragma once

#include <QDialog>
#include <optional>

#include "VersionInfo.h"

namespace Ui {
class TAboutBox;
}

class TAboutBox : public QDialog {
    Q_OBJECT

  public:
    // Reads the running program's version information.
    explicit TAboutBox(QWidget* parent = nullptr);
    // Shows the given version information (nothing: every label shows its
    // prefix alone).
    TAboutBox(QWidget* parent, const std::optional<VersionInfo>& info);
    ~TAboutBox() override;
    TAboutBox(const TAboutBox&) = delete;
    TAboutBox& operator=(const TAboutBox&) = delete;

  private:
    Ui::TAboutBox* ui;
};
