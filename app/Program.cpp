#include "Program.h"

#include <QApplication>

#include "Func.h"
#include "Main.h"
#include "Seam.h"

int RunProgram(QApplication& app, const QString& libraryPath) {
    if (!LoadCommLibraryFrom(libraryPath))
        return -1;

    QApplication::setApplicationName(seam::AppTitle);
    try {
        TForm1 form;
        form.show();
        app.exec();
    } catch (const std::exception& e) {
        seam::ShowException(e);
    }
    return 0;
}
