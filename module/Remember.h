// Entries the tool remembers in its settings file for next time (the check's
// points, the protocol's people) are a convenience: a file that cannot be
// written is said once per run, and never stops what the entries were for.
// So is an entry read with a value out of its range.
#pragma once

#include <QList>
#include <QString>
#include <functional>

class ProfileFile;
struct IgnoredSetting;
class QWidget;

// Runs `save` on the settings file `file`. When it fails, a warning box
// owned by `owner` says so the first time for that file in this run; later
// failures pass in silence. Throws nothing from the save.
void Remember(QWidget* owner, ProfileFile file, const std::function<void(ProfileFile&)>& save);

// The warning for entries read out of their range (IgnoredSetting): for each
// file its path, then each entry with its value, what it may be and the value
// in force instead. A long value is cut short.
QString IgnoredSettingsText(const QList<IgnoredSetting>& entries);

// Shows the entries noted since the last time (TakeIgnoredSettings) in one
// warning box owned by `owner`; nothing when there are none.
void TellIgnoredSettings(QWidget* owner);
