// Asking where to save a file, and which file to open. The program asks with
// the standard file dialog; tests put their own answers here.
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

// Asking for an existing file to open; empty when the user cancelled.
using OpenFileAsker = std::function<QString(QWidget* owner, const QString& caption,
                                            const QString& suggested, const QString& filter)>;
extern OpenFileAsker AskOpenFileName;

// Whether the existing file `path` may be replaced; the program asks as the
// file dialog does.
using OverwriteAsker =
    std::function<bool(QWidget* owner, const QString& caption, const QString& path)>;
extern OverwriteAsker AskOverwrite;

// Asks for a file of the type `suffix` ("png") to be replaced or made: a name
// chosen without that suffix gets it, and when the name with the suffix is
// that of an existing file, which the file dialog did not ask about, the user
// is asked before it is replaced; declining goes back to the file dialog.
// Empty when the user cancelled.
QString AskSaveFileNameWithSuffix(QWidget* owner, const QString& caption, const QString& suggested,
                                  const QString& filter, const QString& suffix);
