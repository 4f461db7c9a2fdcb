// The measurement log's file as the system holds it: open for appending,
// kept from other writers while the log is on (an advisory lock on Linux, a
// share mode that lets others only read on Windows), and synced to the disk.
#pragma once

class QFile;
class QString;

// Opens `path`, made when missing, unbuffered for reading and appending.
// False when it cannot be opened, or when another log (of this or another
// copy of the program) writes into it.
bool OpenLogFile(QFile& file, const QString& path);

// Puts what was written to `file` onto the disk; false when that failed.
bool SyncLogFile(QFile& file);
