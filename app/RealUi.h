// The real boxes and pauses behind the seam.
#pragma once

#include <QInputDialog>
#include <QMessageBox>
#include <memory>

#include "Seam.h"

class RealUi final : public seam::Ui {
  public:
    void message(QWidget* owner, const QString& text, const QString& caption,
                 seam::Icon icon) override;
    QString input(QWidget* owner, const QString& caption, const QString& prompt,
                  const QString& value) override;
    void pause(int milliseconds) override;
    bool ask(QWidget* owner, const QString& text, const QString& caption) override;

    // The boxes themselves, not yet shown (also for pictures of them).
    static std::unique_ptr<QMessageBox> makeMessageBox(QWidget* owner, const QString& text,
                                                       const QString& caption, seam::Icon icon);
    static std::unique_ptr<QInputDialog> makeInputBox(QWidget* owner, const QString& caption,
                                                      const QString& prompt, const QString& value);
};
