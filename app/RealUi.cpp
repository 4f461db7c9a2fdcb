#include "RealUi.h"

#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QThread>

void RealUi::message(QWidget* owner, const QString& text, const QString& caption, seam::Icon icon) {
    QMessageBox::Icon qicon = QMessageBox::NoIcon;
    switch (icon) {
    case seam::Icon::Information:
        qicon = QMessageBox::Information;
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
    QMessageBox box(qicon, caption, text, QMessageBox::Ok, owner);
    box.exec();
}

QString RealUi::input(QWidget* owner, const QString& caption, const QString& prompt,
                      const QString& value) {
    QInputDialog dialog(owner);
    dialog.setWindowTitle(caption);
    dialog.setLabelText(prompt);
    dialog.setTextValue(value);
    dialog.setOkButtonText(QStringLiteral("OK"));
    dialog.setCancelButtonText(QStringLiteral("Cancel"));
    if (auto* edit = dialog.findChild<QLineEdit*>())
        edit->setMaxLength(255);
    return dialog.exec() == QDialog::Accepted ? dialog.textValue() : value;
}

void RealUi::pause(int milliseconds) {
    if (milliseconds > 0)
        QThread::msleep(static_cast<unsigned long>(milliseconds));
}
