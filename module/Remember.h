// Entries the tool remembers in its settings file for next time (the check's
// points, the protocol's people) are a convenience: a file that cannot be
// written is said once per run, and never stops what the entries were for.
#pragma once

#include <QString>
#include <functional>

class ProfileFile;
class QWidget;

// Runs `save` on the settings file `file`. When it fails, a warning box
// owned by `owner` says so the first time for that file in this run; later
// failures pass in silence. Throws nothing from the save.
void Remember(QWidget* owner, ProfileFile file, const std::function<void(ProfileFile&)>& save);
