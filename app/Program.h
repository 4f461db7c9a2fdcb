// Start-up and the run of the program, apart from main() so tests can drive it.
#pragma once

#include <QString>

class QApplication;
class QTranslator;
class TForm1;

// Qt's own dialogs (the file dialogs) in Russian: loads Qt's translation
// qtbase_ru.qm from beside the program, or else from Qt's translations, and
// installs it. Returns it (the application owns it), or null when there is
// none. The program's own boxes keep their words and buttons.
QTranslator* InstallQtTranslation();

// What the main window takes from the program: the manual behind "Справка".
void WireMainWindow(TForm1& form);

// Installs Qt's translation, removes what a killed save left beside the
// settings file, binds the
// communication library at `libraryPath` (on failure: its one error box and
// -1, no window), then runs the main window until it is closed (0).
int RunProgram(QApplication& app, const QString& libraryPath);
