// Puts what was written to an open file onto the disk, on a thread of its
// own: a sync waits for the disk, tens of milliseconds on a slow one, which
// the user-interface thread must not. Each request is answered by a sync that
// starts after it; requests that come during a sync share the next one.
#pragma once

#include <QMutex>
#include <QWaitCondition>
#include <atomic>
#include <memory>

class QThread;

class DiskSync {
  public:
    // `fd`: the file's descriptor, open until this object is gone.
    explicit DiskSync(int fd);
    ~DiskSync(); // waits for the sync under way and a requested one
    DiskSync(const DiskSync&) = delete;
    DiskSync& operator=(const DiskSync&) = delete;

    void request() noexcept;
    // A sync has failed: what was written may not be on the disk.
    bool failed() const noexcept { return failed_.load(); }

  private:
    void run();

    int fd_;
    QMutex mutex_;
    QWaitCondition wake_;
    bool pending_ = false;
    bool quit_ = false;
    std::atomic<bool> failed_{false};
    std::unique_ptr<QThread> thread_;
};
