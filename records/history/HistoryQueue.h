// The entries waiting for the history store: a file of JSON lines in the
// user's data folder. Every record goes there first and leaves it only once
// the store has it, so a record survives a server that is down, a file
// that is locked, a full disk or the end of the run. Copies of the tool on
// one PC share the file; each change holds its lock file for no longer than
// the file's own read or write, and gives up after a bounded wait.
#pragma once

#include <QList>
#include <QSet>
#include <QString>

#include "HistoryEntry.h"

namespace History {

class Queue {
  public:
    explicit Queue(QString path, int lockWaitMs = 2000);
    const QString& path() const { return path_; }

    // Adds the entries at the end. False when the lock was not had in time
    // or the file could not be written (`error` says why).
    bool append(const QList<Entry>& entries, QString* error = nullptr);
    // Every whole entry waiting, oldest first; a damaged line is passed over
    // (and kept in the file). False as above.
    bool read(QList<Entry>* entries, QString* error = nullptr);
    // Takes the entries with these uids out of the file; the rest stays.
    bool remove(const QSet<QString>& uids, QString* error = nullptr);

  private:
    QString path_;
    int lockWaitMs_;
};

} // namespace History
