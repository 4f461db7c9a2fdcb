// Asking where to save a file, and which file to open. The program asks with
// the standard file dialog; tests put their own answers here.
#pragma once

#include <QString>
#include <QStringList>
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
// The same for a file of one of several types: a name that ends in none of
// `suffixes` gets the first.
QString AskSaveFileNameWithSuffix(QWidget* owner, const QString& caption, const QString& suggested,
                                  const QString& filter, const QStringList& suffixes);

// Asks for a name under which several files are saved as one: the file of the
// type `suffix` ("pdf") and beside it, with the same name, one of each type
// of `companions` ("csv"). A name chosen without the suffix gets it. When any
// of them exists, one question names every one that does, and declining goes
// back to the file dialog. Returns the paths, the chosen one first; empty
// when the user cancelled.
QStringList AskSaveFileNamesWithSuffix(QWidget* owner, const QString& caption,
                                       const QString& suggested, const QString& filter,
                                       const QString& suffix, const QStringList& companions);
