// The end of the program's own threads as the system sees it.
//
// QThread::wait() and a detached thread's last line say that the thread's
// code is done; on Windows the thread then still runs the runtime's
// thread-exit handlers, which take the threads library's locks. A process
// that exits in that moment kills the thread holding such a lock, and its
// own exit then waits for the lock for ever: the program stays in the task
// list after its window has closed. Threads that may end near the program's
// end say so on their first line; the program waits for them at its end.
#pragma once

namespace threadend {

// Called on the thread itself: the program's end waits for it.
void watchCurrentThread();

// Waits until every watched thread has ended for good, `milliseconds` at
// most in all. True when none is left. Elsewhere than on Windows a thread's
// end holds no such lock, and this returns at once.
bool waitAll(int milliseconds);

} // namespace threadend
