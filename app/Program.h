// Start-up and the run of the program, apart from main() so tests can drive it.
#pragma once

#include <QString>

class QApplication;

// Removes what a killed save left beside the settings file, binds the
// communication library at `libraryPath` (on failure: its one error box and
// -1, no window), then runs the main window until it is closed (0).
int RunProgram(QApplication& app, const QString& libraryPath);
