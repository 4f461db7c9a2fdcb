#include "LogWriter.h"

#include <QFile>
#include <chrono>
#include <thread>

#include "LogFile.h"

bool LogWriter::WriteAndSync(QFile& file, const QByteArray& bytes) {
    return file.write(bytes) == bytes.size() && SyncLogFile(file);
}

LogWriter::LogWriter(std::unique_ptr<QFile> file, DiskWrite write, std::function<void()> failed)
    : file_(std::move(file)), write_(std::move(write)), failed_(std::move(failed)) {}

LogWriter::~LogWriter() = default;

std::shared_ptr<LogWriter> LogWriter::start(std::unique_ptr<QFile> file, DiskWrite write,
                                            std::function<void()> failed) {
    std::shared_ptr<LogWriter> writer(
        new LogWriter(std::move(file), std::move(write), std::move(failed)));
    // The thread keeps the writer alive until it ends.
    std::thread([writer] { writer->run(); }).detach();
    return writer;
}

bool LogWriter::add(const QByteArray& line) noexcept {
    std::lock_guard lock(mutex_);
    if (broken_ || quit_ || waiting_.size() >= MaxWaiting)
        return false;
    waiting_.append(line);
    wake_.notify_one();
    return true;
}

void LogWriter::dropWaiting() noexcept {
    std::lock_guard lock(mutex_);
    waiting_.clear();
}

void LogWriter::finish() noexcept {
    std::lock_guard lock(mutex_);
    quit_ = true;
    wake_.notify_one();
}

bool LogWriter::waitClosed(int milliseconds) {
    std::unique_lock lock(mutex_);
    return closedChanged_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                   [this] { return closed_; });
}

void LogWriter::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return quit_ || !waiting_.isEmpty(); });
        if (waiting_.isEmpty())
            break; // finished
        QByteArray bytes;
        for (const QByteArray& line : waiting_)
            bytes += line;
        waiting_.clear();
        lock.unlock();
        const qint64 before = file_->size();
        const bool ok = write_(*file_, bytes);
        // A line written in part (the disk filled up) goes again, so that the
        // file ends with a whole line.
        if (!ok)
            file_->resize(before);
        lock.lock();
        if (!ok) {
            broken_ = true;
            waiting_.clear();
            break;
        }
    }
    lock.unlock();
    file_->close();
    lock.lock();
    closed_ = true;
    closedChanged_.notify_all();
    if (broken_ && failed_)
        failed_();
}
