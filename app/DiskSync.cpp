#include "DiskSync.h"

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

DiskSync::DiskSync(int fd) : fd_(fd), thread_(QThread::create([this] { run(); })) {
    thread_->start();
}

DiskSync::~DiskSync() {
    {
        QMutexLocker lock(&mutex_);
        quit_ = true;
        wake_.wakeOne();
    }
    thread_->wait();
}

void DiskSync::request() noexcept {
    QMutexLocker lock(&mutex_);
    pending_ = true;
    wake_.wakeOne();
}

void DiskSync::run() {
    QMutexLocker lock(&mutex_);
    for (;;) {
        while (!pending_ && !quit_)
            wake_.wait(&mutex_);
        if (!pending_)
            return; // quit, nothing left to sync
        pending_ = false;
        lock.unlock();
        if (!SyncToDisk(fd_))
            failed_ = true;
        lock.relock();
    }
}
