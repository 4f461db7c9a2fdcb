// The real boxes and pauses behind the seam.
#pragma once

#include "Seam.h"

class RealUi final : public seam::Ui {
  public:
    void message(QWidget* owner, const QString& text, const QString& caption,
                 seam::Icon icon) override;
    bool ask(QWidget* owner, const QString& text, const QString& caption, seam::Icon icon) override;
    QString input(QWidget* owner, const QString& caption, const QString& prompt,
                  const QString& value) override;
    std::optional<QString> password(QWidget* owner, const QString& caption,
                                    const QString& prompt) override;
    void pause(int milliseconds) override;
};
