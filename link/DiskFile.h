// The steps by which a file on the disk is replaced whole: the settings file
// and the record files share them. Every step is a single system call that
// either happens or does not, so a crash leaves the old file or the new one.
#pragma once

#include <QByteArray>
#include <QString>

namespace disk {

// The file a save replaces: a symbolic link is followed to its target, so
// the link stays a link. Empty for a chain of links that does not end.
QString FinalPath(const QString& path);

// A new file "<target><mark>XXXXXX" (six letters or digits) beside `target`,
// holding `data` and put onto the disk, with the permissions `target` has
// when it exists. Its path; empty, with nothing left behind, on a failure.
QString WriteBeside(const QString& target, const QString& mark, const QByteArray& data);

// Renames `from` over `to` in one step (replacing `to` when it exists); the
// new name reaches the disk with its folder.
bool RenameOver(const QString& from, const QString& to);

// Keeps the content of the existing file `target` under a second name
// "<target><mark>XXXXXX" beside it, so that it outlives a rename over
// `target`: a hard link where the file system has them (`target` stays in
// place), otherwise `target` itself renamed (`moved`: `target` is then
// missing). Its path, or empty when neither could be made.
QString KeepAside(const QString& target, const QString& mark, bool& moved);

} // namespace disk
