#include "Remember.h"

#include <QSet>

#include "Errors.h"
#include "Profile.h"
#include "RecordFile.h"
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
