#include "Program.h"

#include <QApplication>

#include "Func.h"
#include "Main.h"
#include "Passw.h"
#include "Profile.h"
#include "Seam.h"

int RunProgram(QApplication& app, const QString& libraryPath) {
    // What a save cut short by a crash or a kill left beside the settings file.
    ProfileFile::removeSaveLeftovers(SettingsFilePath());

    if (!LoadCommLibraryFrom(libraryPath))
        return -1;

    QApplication::setApplicationName(seam::AppTitle);
    try {
        TForm1 form;
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
