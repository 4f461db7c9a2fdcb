#include "RealUi.h"

#include <QAbstractButton>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

#include "EmptyTitle.h"

std::unique_ptr<QMessageBox> RealUi::makeMessageBox(QWidget* owner, const QString& text,
                                                    const QString& caption, seam::Icon icon) {
    QMessageBox::Icon qicon = QMessageBox::NoIcon;
    switch (icon) {
    case seam::Icon::Information:
        qicon = QMessageBox::Information;
        break;
    case seam::Icon::Question:
        qicon = QMessageBox::Question;
        break;
    case seam::Icon::Warning:
        qicon = QMessageBox::Warning;
        break;
    case seam::Icon::Error:
        qicon = QMessageBox::Critical;
        break;
    case seam::Icon::None:
        break;
    }
    auto box = std::make_unique<QMessageBox>(qicon, caption, text, QMessageBox::Ok, owner);
    // Results and confirmations have an empty caption, not the program's name.
    if (caption.isEmpty())
        KeepTitleEmpty(box.get());
    return box;
}

void RealUi::message(QWidget* owner, const QString& text, const QString& caption, seam::Icon icon) {
    makeMessageBox(owner, text, caption, icon)->exec();
}

bool RealUi::ask(QWidget* owner, const QString& text, const QString& caption, seam::Icon icon) {
    const auto box = makeMessageBox(owner, text, caption, icon);
    box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box->button(QMessageBox::Yes)->setText(QStringLiteral("Да"));
    box->button(QMessageBox::No)->setText(QStringLiteral("Нет"));
    box->setDefaultButton(QMessageBox::Yes);
    box->setEscapeButton(QMessageBox::No);
    return box->exec() == QMessageBox::Yes;
}

std::unique_ptr<QInputDialog> RealUi::makeInputBox(QWidget* owner, const QString& caption,
                                                   const QString& prompt, const QString& value) {
    auto dialog = std::make_unique<QInputDialog>(owner);
    dialog->setWindowTitle(caption);
    dialog->setLabelText(prompt);
    dialog->setTextValue(value);
    dialog->setOkButtonText(QStringLiteral("OK"));
    dialog->setCancelButtonText(QStringLiteral("Cancel"));
    if (auto* edit = dialog->findChild<QLineEdit*>())
        edit->setMaxLength(255);
    return dialog;
}

QString RealUi::input(QWidget* owner, const QString& caption, const QString& prompt,
                      const QString& value) {
    const auto dialog = makeInputBox(owner, caption, prompt, value);
    return dialog->exec() == QDialog::Accepted ? dialog->textValue() : value;
}

void RealUi::pause(int milliseconds) {
    if (milliseconds > 0)
        QThread::msleep(static_cast<unsigned long>(milliseconds));
}
