// Writes the lines of the measurement log to its file on a thread of its
// own, each as soon as it comes, and puts them onto the disk: a write or a
// sync waits for the disk, tens of milliseconds on a slow one or a stick,
// which the polling must not. Lines that come while the disk is busy go out
// together with the next sync, so a crash or a power cut loses at most the
// line or lines being written.
//
// Nobody waits for the thread: once the log is stopped it writes what is
// still waiting, closes the file and ends by itself, however long a hanging
// disk keeps it. It holds the file and what it shares with the log's side
// itself, so either side may go first.
#pragma once

#include <QByteArray>
#include <QList>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class QFile;

class LogWriter {
  public:
    // Lines waiting for a disk that has stopped taking them, at the most.
    static constexpr int MaxWaiting = 65536;

    // Puts bytes onto the disk, on the writer's thread; false when that failed.
    using DiskWrite = std::function<bool(QFile& file, const QByteArray& bytes)>;
    // Writes them and syncs the file.
    static bool WriteAndSync(QFile& file, const QByteArray& bytes);

    // Takes `file` over (open for writing) and starts the thread. A write
    // that fails is taken back (the file gets its length before it back), so
    // that no line is left in part. `failed` is then called once, on the
    // writer's thread, after the file is closed; it must only hand the news on.
    static std::shared_ptr<LogWriter> start(std::unique_ptr<QFile> file, DiskWrite write,
                                            std::function<void()> failed);
    ~LogWriter();
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    // Hands a line over; false when writing has failed or too many lines wait.
    bool add(const QByteArray& line) noexcept;
    // Forgets the lines still waiting (the log is given up).
    void dropWaiting() noexcept;
    // No more lines: the thread writes those waiting, closes the file and
    // ends. Returns at once.
    void finish() noexcept;
    // Whether the file is closed, waiting for it at most `milliseconds`.
    bool waitClosed(int milliseconds);

  private:
    LogWriter(std::unique_ptr<QFile> file, DiskWrite write, std::function<void()> failed);
    void run();

    std::unique_ptr<QFile> file_; // used by the thread alone
    DiskWrite write_;
    std::function<void()> failed_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable closedChanged_;
    QList<QByteArray> waiting_;
    bool quit_ = false;
    bool broken_ = false;
    bool closed_ = false;
};
