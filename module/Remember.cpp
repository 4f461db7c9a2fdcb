#include "Remember.h"

#include <QSet>
#include <QStringList>

#include "Errors.h"
#include "Profile.h"
#include "Seam.h"

void Remember(QWidget* owner, ProfileFile file, const std::function<void(ProfileFile&)>& save) {
    static QSet<QString> said; // the files whose failure has been told in this run
    const QString path = file.path();
    try {
        save(file);
    } catch (const Exception&) {
        if (said.contains(path))
            return;
        said.insert(path);
        seam::message(owner,
                      QStringLiteral("Невозможно сохранить файл %1.\n"
                                     "Введённые значения не будут предложены в следующий раз.")
                          .arg(QuotedPath(path)),
                      QString(), seam::Icon::Warning);
    }
}

QString IgnoredSettingsText(const QList<IgnoredSetting>& entries) {
    constexpr qsizetype Shown = 24; // characters of a value
    QStringList files;
    for (const IgnoredSetting& e : entries)
        if (!files.contains(e.file))
            files << e.file;
    QStringList parts;
    for (const QString& file : files) {
        QStringList lines;
        for (const IgnoredSetting& e : entries) {
            if (e.file != file)
                continue;
            const QString value =
                e.value.size() > Shown ? e.value.left(Shown) + QStringLiteral("…") : e.value;
            lines << QStringLiteral("[%1] %2=%3 — допустимо %4, вместо него действует %5")
                         .arg(e.section, e.key, value, e.allowed, e.used);
        }
        parts << QStringLiteral("В файле настроек %1 не приняты значения вне допустимых "
                                "пределов:\n")
                         .arg(QuotedPath(file)) +
                     lines.join(QStringLiteral(";\n")) + QLatin1Char('.');
    }
    return parts.join(QStringLiteral("\n\n")) + (files.size() > 1
                                                     ? QStringLiteral("\nФайлы не изменены.")
                                                     : QStringLiteral("\nФайл не изменён."));
}

void TellIgnoredSettings(QWidget* owner) {
    const QList<IgnoredSetting> entries = TakeIgnoredSettings();
    if (!entries.isEmpty())
        seam::message(owner, IgnoredSettingsText(entries), QString(), seam::Icon::Warning);
}
