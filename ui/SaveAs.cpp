#include "SaveAs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <algorithm>

#include "Boxes.h"
#include "Seam.h"

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
    const auto box = MakeMessageBox(owner, text, caption, seam::Icon::Warning);
    box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box->setDefaultButton(QMessageBox::No);
    return box->exec() == QMessageBox::Yes;
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

namespace {

// "Файл «a.csv» уже существует.\nЗаменить его?", or for several files
// "Файлы «a.pdf» и «a.csv» уже существуют.\nЗаменить их?"
QString ReplaceQuestion(const QStringList& names) {
    if (names.size() == 1)
        return QStringLiteral("Файл «%1» уже существует.\nЗаменить его?").arg(names.first());
    const QString all = QStringLiteral("«") +
                        names.mid(0, names.size() - 1).join(QStringLiteral("», «")) +
                        QStringLiteral("» и «") + names.last() + QStringLiteral("»");
    return QStringLiteral("Файлы %1 уже существуют.\nЗаменить их?").arg(all);
}

} // namespace

QStringList AskSaveFileNamesWithSuffix(QWidget* owner, const QString& caption,
                                       const QString& suggested, const QString& filter,
                                       const QString& suffix, const QStringList& companions) {
    const QString ending = QLatin1Char('.') + suffix;
    QString start = suggested;
    for (;;) {
        QString path = AskSaveFileName(owner, caption, start, filter, false);
        if (path.isEmpty())
            return {};
        if (!path.endsWith(ending, Qt::CaseInsensitive))
            path += ending;
        const QFileInfo chosen(path);
        QStringList paths = {path};
        for (const QString& companion : companions)
            paths << chosen.dir().filePath(chosen.completeBaseName() + QLatin1Char('.') +
                                           companion);
        QStringList existing;
        for (const QString& p : paths)
            if (QFileInfo::exists(p))
                existing << QFileInfo(p).fileName();
        if (existing.isEmpty() ||
            seam::ask(owner, ReplaceQuestion(existing), caption, seam::Icon::Warning))
            return paths;
        start = path;
    }
}
