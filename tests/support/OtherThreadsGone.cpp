// Linked into every test program of the sanitizer build: at exit, before the
// leak check, waits (at most two seconds) until the program's other threads
// are gone.
//
// QtTest's watchdog thread is waited for when the tests end, but its thread
// data is released only by the thread's own exit handlers, which may run
// after the main thread has gone on to exit; the leak check then finds that
// data unreferenced and fails a test that passed. A thread of the tool's own
// that is still running after two seconds is left to the check as it is.
#include <chrono>
#include <filesystem>
#include <thread>

namespace {

int Threads() {
    std::error_code error;
    int n = 0;
    for (std::filesystem::directory_iterator it("/proc/self/task", error), end; !error && it != end;
         it.increment(error))
        ++n;
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
