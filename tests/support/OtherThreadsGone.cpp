// Linked into every test program of the sanitizer build and of the Windows
// build: at exit waits (at most two seconds) until the program's other
// threads are gone.
//
// QtTest's watchdog thread is waited for when the tests end, but the wait
// returns once the thread's code is done, while the runtime's thread-exit
// handlers still run on it. On Linux the leak check may then find that
// thread's data unreferenced and fail a test that passed; on Windows a
// process that exits in that moment kills the thread inside the threads
// library's lock and hangs in its own exit. A thread of the tool's own that
// is still running after two seconds is left as it is.
#include <chrono>
#include <thread>

#if defined(_WIN32)
#include <windows.h>

#include <tlhelp32.h>
#else
#include <filesystem>
#endif

namespace {

int Threads() {
    int n = 0;
#if defined(_WIN32)
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 1;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ++n;
    CloseHandle(snapshot);
#else
    std::error_code error;
    for (std::filesystem::directory_iterator it("/proc/self/task", error), end; !error && it != end;
         it.increment(error))
        ++n;
#endif
    return n;
}

struct OtherThreadsGone {
    ~OtherThreadsGone() {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (Threads() > 1 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
} waitAtExit;

} // namespace
