#include "SaveAs.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <algorithm>

SaveFileAsker AskSaveFileName = [](QWidget* owner, const QString& caption, const QString& suggested,
                                   const QString& filter, bool confirmOverwrite) {
    QFileDialog::Options options;
    if (!confirmOverwrite)
        options |= QFileDialog::DontConfirmOverwrite;
    return QFileDialog::getSaveFileName(owner, caption, suggested, filter, nullptr, options);
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
    return AskSaveFileNameWithSuffix(owner, caption, suggested, filter, QStringList{suffix});
}

QString AskSaveFileNameWithSuffix(QWidget* owner, const QString& caption, const QString& suggested,
                                  const QString& filter, const QStringList& suffixes) {
    QString start = suggested;
    for (;;) {
        QString path = AskSaveFileName(owner, caption, start, filter, true);
        const bool typed = std::any_of(suffixes.begin(), suffixes.end(), [&](const QString& s) {
            return path.endsWith(QLatin1Char('.') + s, Qt::CaseInsensitive);
        });
        if (path.isEmpty() || typed)
            return path;
        path += QLatin1Char('.') + suffixes.value(0);
        if (!QFileInfo::exists(path) || AskOverwrite(owner, caption, path))
            return path;
        start = path;
    }
}
