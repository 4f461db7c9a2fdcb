#include "LogWriter.h"

#include <QFile>
#include <QThread>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

bool SyncToDisk(int fd) {
#ifdef _WIN32
    return _commit(fd) == 0;
#else
    return ::fsync(fd) == 0;
#endif
}

} // namespace

LogWriter::LogWriter(QFile* file, std::function<void()> failed)
    : file_(file), failed_(std::move(failed)), thread_(QThread::create([this] { run(); })) {
    thread_->start();
}

LogWriter::~LogWriter() {
    {
        QMutexLocker lock(&mutex_);
        quit_ = true;
        wake_.wakeOne();
    }
    thread_->wait();
}

bool LogWriter::add(const QByteArray& line) noexcept {
    QMutexLocker lock(&mutex_);
    if (broken_ || waiting_.size() >= MaxWaiting)
        return false;
    waiting_.append(line);
    wake_.wakeOne();
    return true;
}

void LogWriter::dropWaiting() noexcept {
    QMutexLocker lock(&mutex_);
    waiting_.clear();
}

void LogWriter::run() {
    QMutexLocker lock(&mutex_);
    for (;;) {
        if (!quit_ && waiting_.isEmpty())
            wake_.wait(&mutex_);
        if (waiting_.isEmpty()) {
            if (quit_)
                return;
            continue;
        }
        const QList<QByteArray> lines = std::move(waiting_);
        waiting_.clear();
        lock.unlock();
        bool ok = true;
        for (const QByteArray& line : lines)
            ok = ok && file_->write(line) == line.size();
        ok = ok && file_->flush() && SyncToDisk(file_->handle());
        lock.relock();
        if (!ok) {
            broken_ = true;
            waiting_.clear();
            lock.unlock();
            failed_();
            return;
        }
    }
}
