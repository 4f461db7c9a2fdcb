// Where the tool's windows hand their entries: Sink, one small interface
// (the tests give a fake), and Writer, the real one, which puts each entry
// into the local queue and hands the queue to the store on a thread of its
// own, so that no window waits for the database. While the store cannot
// take entries, they wait in the queue and are tried again every
// retryMs; the tool is told once that the store is unreachable and once
// that the waiting entries went.
#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <optional>

#include "HistoryEntry.h"
#include "HistoryStore.h"

class QThread;

namespace History {

class Sink {
  public:
    virtual ~Sink() = default;
    // Returns at once, from any thread.
    virtual void add(const Entry& entry) = 0;
};

// The sink the windows use; none (entries dropped) until the program sets one.
Sink* CurrentSink();
void SetCurrentSink(Sink* sink);
// Adds through the current sink, if there is one.
void Record(const Entry& entry);

class Writer;
// The current sink when it is the real writer (it also answers questions).
Writer* CurrentWriter();

// The calibration interval of a module as the history last answered for it
// (Writer::askModule), else DefaultIntervalMonths. Never waits.
int IntervalFor(const QString& registration);
void NoteInterval(const QString& registration, int months);

class WriterWorker;

class Writer : public QObject, public Sink {
    Q_OBJECT
  public:
    Writer(Target target, QString queuePath, int retryMs = 15000, QObject* parent = nullptr);
    ~Writer() override;

    void add(const Entry& entry) override;
    const Target& target() const { return target_; }
    // Asks for the line of the fleet of a module; moduleFound answers.
    void askModule(const QString& registration);
    // Tries the queue now.
    void retry();
    // Writes to `target` from now on: the store in use is closed, the queue
    // (what waits in it included) goes to the new one at once, and a new
    // store that cannot be reached is told once, as at the start.
    void retarget(const Target& target);
    // Waits until every entry handed over so far has been tried at least
    // once (written, or left in the queue), at most `ms`; false on timeout.
    bool settle(int ms);

  signals:
    void unavailable(const QString& message);
    void available(int written);
    void moduleFound(const QString& registration, const std::optional<History::ModuleRow>& row);

  private:
    Target target_;
    WriterWorker* worker_;
};

// An object on the thread the history's databases are used on: one thread
// for the whole run, shared by every writer and every trial of a connection.
// On Windows it is never ended: a process with a thread that had used the
// database drivers and ended before the process hung in its own exit, in the
// C++ runtime's unload; the thread, idle in its event loop, goes with the
// process. Elsewhere it is ended with the application object.
QObject* DatabaseThread();

} // namespace History
