#include "SaveName.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

enum class Folder { Pictures, Documents, DocumentsOrHome };

struct Proposal {
    Folder folder;
    QString prefix;
    bool serial; // the registration number follows the prefix
    QString stamp;
    QString extension;
};

Proposal ProposalOf(Saved what) {
    switch (what) {
    case Saved::Trend:
        return {Folder::Pictures, QStringLiteral("QS730_trend_"), false,
                QStringLiteral("yyyyMMdd_HHmmss"), QStringLiteral(".png")};
    case Saved::ModulesOnLine:
        return {Folder::Documents, QStringLiteral("Модули_на_линии_"), false,
                QStringLiteral("yyyyMMdd_HHmm"), QStringLiteral(".csv")};
    case Saved::Frames:
        return {Folder::Documents, QStringLiteral("Обмен_"), false,
                QStringLiteral("yyyyMMdd_HHmmss"), QStringLiteral(".csv")};
    case Saved::MeasureLog:
        return {Folder::Documents, QStringLiteral("QS730_"), false,
                QStringLiteral("yyyyMMdd_HHmmss"), QStringLiteral(".csv")};
    case Saved::Configuration:
        return {Folder::DocumentsOrHome, QStringLiteral("Конфигурация_"), true,
                QStringLiteral("yyyyMMdd"), QStringLiteral(".json")};
    case Saved::ConfigReport:
        return {Folder::DocumentsOrHome, QStringLiteral("Запись_конфигурации_"), true,
                QStringLiteral("yyyyMMdd_HHmm"), QStringLiteral(".pdf")};
    }
    return {};
}

QString FolderPath(Folder f) {
    switch (f) {
    case Folder::Pictures:
        return QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    case Folder::Documents:
        return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    case Folder::DocumentsOrHome:
        return DocumentsOrHomeFolder();
    }
    return QString();
}

} // namespace

QString SuggestedFileName(Saved what, const QDateTime& when, const config::Value& serial) {
    const Proposal p = ProposalOf(what);
    QString name = p.prefix;
    if (p.serial && serial)
        name += config::ValueText(config::Param::Serial, serial) + QLatin1Char('_');
    return name + when.toString(p.stamp) + p.extension;
}

QString SuggestedSavePath(Saved what, const QDateTime& when, const config::Value& serial) {
    return QDir(FolderPath(ProposalOf(what).folder))
        .filePath(SuggestedFileName(what, when, serial));
}

QString DocumentsOrHomeFolder() {
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QFileInfo(documents).isDir() ? documents : QDir::homePath();
}
