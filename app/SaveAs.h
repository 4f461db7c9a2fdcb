// Asking where to save a file. The program asks with the standard file
// dialog; tests put their own answer here.
#pragma once

#include <QString>
#include <functional>

class QWidget;

// Returns the chosen path, or an empty text when the user cancelled.
// `confirmOverwrite` asks before an existing file is chosen.
using SaveFileAsker =
    std::function<QString(QWidget* owner, const QString& caption, const QString& suggested,
                          const QString& filter, bool confirmOverwrite)>;
extern SaveFileAsker AskSaveFileName;
