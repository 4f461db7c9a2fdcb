#include "Manual.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include "Errors.h"

namespace {

const QString ManualName = QStringLiteral(QS_MANUAL_FILE_NAME);

} // namespace

QStringList ManualCandidates(const QString& programFolder) {
    const QDir folder(programFolder);
    return {folder.filePath(ManualName),
            QDir::cleanPath(
                folder.filePath(QStringLiteral("../../share/doc/qs730-view/") + ManualName))};
}

QString FindManual(const QString& programFolder) {
    for (const QString& path : ManualCandidates(programFolder))
        if (QFileInfo(path).isFile())
            return path;
    return QString();
}

void OpenManual() {
    const QString path = FindManual(QCoreApplication::applicationDirPath());
    if (path.isEmpty())
        throw Exception(QStringLiteral("Не найдено руководство пользователя ") +
                        QuotedPath(ManualName));
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        throw Exception(QStringLiteral("Невозможно открыть файл ") + QuotedPath(path));
}
