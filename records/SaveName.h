// What a save proposes in its file dialog: the folder it starts in and a
// name that says what is saved and when, with the extension of its type.
#pragma once

#include <QDateTime>
#include <QString>

#include "Configuration.h"

enum class Saved {
    Trend,         // the trend's picture
    ModulesOnLine, // the list of the modules on the line
    Frames,        // the exchange monitor's frames
    MeasureLog,    // the measurement log
    Configuration, // the module's configuration
    ConfigReport,  // the report of a configuration write
};

// The file name proposed for a save of `what` made at `when`. The module's
// configuration and the report of its write carry the module's registration
// number `serial` where it is known.
QString SuggestedFileName(Saved what, const QDateTime& when,
                          const config::Value& serial = std::nullopt);

// That name in the folder where the save starts.
QString SuggestedSavePath(Saved what, const QDateTime& when = QDateTime::currentDateTime(),
                          const config::Value& serial = std::nullopt);

// The Documents folder, or the home folder where there is none (a file
// dialog would take the missing folder's name for a file).
QString DocumentsOrHomeFolder();
