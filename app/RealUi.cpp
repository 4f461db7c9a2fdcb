#include "RealUi.h"

#include <QAbstractButton>
#include <QPushButton>
#include <QThread>

#include "Boxes.h"

void RealUi::message(QWidget* owner, const QString& text, const QString& caption, seam::Icon icon) {
    MakeMessageBox(owner, text, caption, icon)->exec();
}

bool RealUi::ask(QWidget* owner, const QString& text, const QString& caption, seam::Icon icon) {
    const auto box = MakeMessageBox(owner, text, caption, icon);
    box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box->button(QMessageBox::Yes)->setText(QStringLiteral("Да"));
    box->button(QMessageBox::No)->setText(QStringLiteral("Нет"));
    box->setDefaultButton(QMessageBox::Yes);
    box->setEscapeButton(QMessageBox::No);
    return box->exec() == QMessageBox::Yes;
}

QString RealUi::input(QWidget* owner, const QString& caption, const QString& prompt,
                      const QString& value) {
    const auto dialog = MakeInputBox(owner, caption, prompt, value);
    return dialog->exec() == QDialog::Accepted ? dialog->textValue() : value;
}

std::optional<QString> RealUi::password(QWidget* owner, const QString& caption,
                                        const QString& prompt) {
    const auto dialog = MakePasswordBox(owner, caption, prompt);
    if (dialog->exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog->textValue();
}

void RealUi::pause(int milliseconds) {
    if (milliseconds > 0)
        QThread::msleep(static_cast<unsigned long>(milliseconds));
}
