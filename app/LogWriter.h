// Writes the lines of the measurement log to its file on a thread of its
// own, each as soon as it comes, and puts them onto the disk: a write or a
// sync waits for the disk, tens of milliseconds on a slow one or a stick,
// which the polling must not. Lines that come while the disk is busy go out
// together with the next sync, so a crash or a power cut loses at most the
// line or lines being written.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QWaitCondition>
#include <atomic>
#include <functional>
#include <memory>

class QFile;
class QThread;

class LogWriter {
  public:
    // Lines waiting for a disk that has stopped taking them, at the most.
    static constexpr int MaxWaiting = 65536;

    // `file`: open for writing, used by nothing else until this object is
    // gone. `failed` is called once, on the writer's thread, when a write or
    // sync fails.
    LogWriter(QFile* file, std::function<void()> failed);
    ~LogWriter(); // writes what is waiting, then returns
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    // Hands a line over; false when writing has failed or too many lines wait.
    bool add(const QByteArray& line) noexcept;
    // Forgets the lines still waiting (the log is given up).
    void dropWaiting() noexcept;

  private:
    void run();

    QFile* file_;
    std::function<void()> failed_;
    QMutex mutex_;
    QWaitCondition wake_;
    QList<QByteArray> waiting_;
    bool quit_ = false;
    std::atomic<bool> broken_{false};
    std::unique_ptr<QThread> thread_;
};
