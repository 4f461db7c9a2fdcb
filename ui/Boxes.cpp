#include "Boxes.h"

#include <QLabel>
#include <QLineEdit>

#include "EmptyTitle.h"

std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* owner, const QString& text,
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
    // What a box says often quotes a file, the module or the line: never markup.
    box->setTextFormat(Qt::PlainText);
    // Results and confirmations have an empty caption, not the program's name.
    if (caption.isEmpty())
        KeepTitleEmpty(box.get());
    return box;
}

std::unique_ptr<QInputDialog> MakeInputBox(QWidget* owner, const QString& caption,
                                           const QString& prompt, const QString& value) {
    auto dialog = std::make_unique<QInputDialog>(owner);
    dialog->setWindowTitle(caption);
    dialog->setLabelText(prompt);
    if (auto* label = dialog->findChild<QLabel*>())
        label->setTextFormat(Qt::PlainText);
    dialog->setTextValue(value);
    dialog->setOkButtonText(QStringLiteral("OK"));
    dialog->setCancelButtonText(QStringLiteral("Cancel"));
    if (auto* edit = dialog->findChild<QLineEdit*>())
        edit->setMaxLength(255);
    return dialog;
}

std::unique_ptr<QInputDialog> MakePasswordBox(QWidget* owner, const QString& caption,
                                              const QString& prompt) {
    auto dialog = MakeInputBox(owner, caption, prompt, QString());
    dialog->setTextEchoMode(QLineEdit::Password);
    dialog->setCancelButtonText(QStringLiteral("Отмена"));
    return dialog;
}
