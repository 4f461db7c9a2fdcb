// The program's end waits for its writers' threads to be gone for good.
#include <QtTest>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "ThreadEnd.h"

class TestThreadEnd : public QObject {
    Q_OBJECT

  private slots:
    // A thread still inside its code keeps waitAll from saying "none left"
    // until it has ended; one that ended is not waited for again.
    void waitsUntilTheWatchedThreadsHaveEnded() {
#if !defined(Q_OS_WIN)
        QSKIP("a thread's end holds no lock of the threads library here");
#else
        struct Shared {
            std::mutex m;
            std::condition_variable cv;
            bool watching = false;
            bool release = false;
        };
        const auto shared = std::make_shared<Shared>();
        std::thread([shared] {
            threadend::watchCurrentThread();
            std::unique_lock lock(shared->m);
            shared->watching = true;
            shared->cv.notify_all();
            shared->cv.wait(lock, [&] { return shared->release; });
        }).detach();
        {
            std::unique_lock lock(shared->m);
            shared->cv.wait(lock, [&] { return shared->watching; });
        }
        QVERIFY(!threadend::waitAll(100));
        {
            std::lock_guard lock(shared->m);
            shared->release = true;
        }
        shared->cv.notify_all();
        QVERIFY(threadend::waitAll(5000));
        QVERIFY(threadend::waitAll(0));
#endif
    }
};

QTEST_GUILESS_MAIN(TestThreadEnd)
#include "test_thread_end.moc"
