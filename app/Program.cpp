#include "Program.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <memory>

#include "Func.h"
#include "Main.h"
#include "Manual.h"
#include "Passw.h"
#include "Profile.h"
#include "Seam.h"

QTranslator* InstallQtTranslation() {
    auto translator = std::make_unique<QTranslator>(QCoreApplication::instance());
    for (const QString& dir : {QCoreApplication::applicationDirPath(),
                               QLibraryInfo::path(QLibraryInfo::TranslationsPath)}) {
        if (translator->load(QStringLiteral("qtbase_ru"), dir)) {
            QCoreApplication::installTranslator(translator.get());
            return translator.release();
        }
    }
    return nullptr;
}

void WireMainWindow(TForm1& form) {
    form.openManual = OpenManual;
}

int RunProgram(QApplication& app, const QString& libraryPath) {
    InstallQtTranslation();
    // What a save cut short by a crash or a kill left beside the settings file.
    ProfileFile::removeSaveLeftovers(SettingsFilePath());

    if (!LoadCommLibraryFrom(libraryPath))
        return -1;

    QApplication::setApplicationName(seam::AppTitle);
    try {
        TForm1 form;
        WireMainWindow(form);
        // The password dialog lives, hidden, for the whole run.
        TPassword password(&form);
        Password = &password;
        form.show();
        app.exec();
        Password = nullptr;
    } catch (const std::exception& e) {
        seam::ShowException(e);
    }
    return 0;
}
