// Start-up and the run of the program, apart from main() so tests can drive it.
#pragma once

#include <QString>
#include <memory>

class QApplication;
class QTranslator;
class TForm1;
class ProfileFile;
namespace History {
class Writer;
}

// Qt's own dialogs (the file dialogs) in Russian: loads Qt's translation
// qtbase_ru.qm from beside the program, or else from Qt's translations, and
// installs it. Returns it (the application owns it), or null when there is
// none. The program's own boxes keep their words and buttons.
QTranslator* InstallQtTranslation();

// What the main window takes from the program: the manual behind "Справка".
void WireMainWindow(TForm1& form);

// The history's writer on the store that `settings` name (section
// "History"), the sink of every window's entries; the server's password is
// asked here when the settings say so, once for the run. Entries wait in the
// queue at `queuePath` until the store takes them.
std::unique_ptr<History::Writer> StartHistory(const ProfileFile& settings,
                                              const QString& queuePath);
// Shows in the main window what the writer says about its store.
void WireHistory(TForm1& form, History::Writer& writer);

// Installs Qt's translation, removes what a killed save left beside the
// settings file, binds the
// communication library at `libraryPath` (on failure: its one error box and
// -1, no window), then runs the main window until it is closed (0).
int RunProgram(QApplication& app, const QString& libraryPath);
