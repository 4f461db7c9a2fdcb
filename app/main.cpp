// QS730_View: the service tool for the QS-730 analog input module.
#include <QApplication>

#include "Func.h"
#include "Program.h"
#include "RealUi.h"
#include "Seam.h"

int main(int argc, char* argv[]) {
    // The application object comes first: even the binding's error box needs it.
    QApplication app(argc, argv);
    RealUi realUi;
    seam::install(&realUi);
    return RunProgram(app, CommLibraryPath());
}
