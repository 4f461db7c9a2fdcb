#include "SaveAs.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

SaveFileAsker AskSaveFileName = [](QWidget* owner, const QString& caption, const QString& suggested,
                                   const QString& filter, bool confirmOverwrite) {
    QFileDialog::Options options;
    if (!confirmOverwrite)
        options |= QFileDialog::DontConfirmOverwrite;
    return QFileDialog::getSaveFileName(owner, caption, suggested, filter, nullptr, options);
};

OpenFileAsker AskOpenFileName = [](QWidget* owner, const QString& caption, const QString& suggested,
                                   const QString& filter) {
    return QFileDialog::getOpenFileName(owner, caption, suggested, filter);
};

OverwriteAsker AskOverwrite = [](QWidget* owner, const QString& caption, const QString& path) {
    // The file dialog's own question, in its own words and language.
    const QString text =
        QCoreApplication::translate("QFileDialog", "%1 already exists.\nDo you want to replace it?")
            .arg(QFileInfo(path).fileName());
    return QMessageBox::warning(owner, caption, text, QMessageBox::Yes | QMessageBox::No,
                                QMessageBox::No) == QMessageBox::Yes;
};

QString AskSaveFileNameWithSuffix(QWidget* owner, const QString& caption, const QString& suggested,
                                  const QString& filter, const QString& suffix) {
    const QString ending = QLatin1Char('.') + suffix;
    QString start = suggested;
    for (;;) {
        QString path = AskSaveFileName(owner, caption, start, filter, true);
        if (path.isEmpty() || path.endsWith(ending, Qt::CaseInsensitive))
            return path;
        path += ending;
        if (!QFileInfo::exists(path) || AskOverwrite(owner, caption, path))
            return path;
        start = path;
    }
}
