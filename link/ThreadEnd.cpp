#include "ThreadEnd.h"

#if defined(_WIN32)
#include <windows.h>

#include <chrono>
#include <mutex>
#include <vector>

namespace threadend {
namespace {

std::mutex& Lock() {
    static std::mutex m;
    return m;
}
std::vector<HANDLE>& Watched() {
    static std::vector<HANDLE> handles;
    return handles;
}

// Closes the handles of the threads that have ended, waiting for them until
// `until`; returns the others.
std::vector<HANDLE> KeepRunning(std::vector<HANDLE> handles,
                                std::chrono::steady_clock::time_point until) {
    std::vector<HANDLE> running;
    for (HANDLE h : handles) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        if (WaitForSingleObject(h, left.count() > 0 ? DWORD(left.count()) : 0) == WAIT_OBJECT_0)
            CloseHandle(h);
        else
            running.push_back(h);
    }
    return running;
}

} // namespace

void watchCurrentThread() {
    HANDLE self = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self,
                         SYNCHRONIZE, FALSE, 0))
        return;
    std::lock_guard lock(Lock());
    Watched() = KeepRunning(std::move(Watched()), {});
    Watched().push_back(self);
}

bool waitAll(int milliseconds) {
    std::vector<HANDLE> handles;
    {
        std::lock_guard lock(Lock());
        handles.swap(Watched());
    }
    // Waited for without the lock: a thread that starts meanwhile is not held up.
    handles = KeepRunning(std::move(handles), std::chrono::steady_clock::now() +
                                                  std::chrono::milliseconds(milliseconds));
    const bool none = handles.empty();
    std::lock_guard lock(Lock());
    Watched().insert(Watched().end(), handles.begin(), handles.end());
    return none;
}

} // namespace threadend

#else

namespace threadend {
void watchCurrentThread() {}
bool waitAll(int) {
    return true;
}
} // namespace threadend

#endif
