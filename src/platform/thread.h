// Threads whose end can be asked for, as the program asks a thread for its
// exit code ("still active").
#pragma once

#include <functional>
#include <memory>

namespace platform {

struct ThreadRecord;
using ThreadHandle = std::shared_ptr<ThreadRecord>;

// Starts body on a new thread; null on failure. The thread runs to its end
// even when every handle is dropped.
ThreadHandle ThreadStart(std::function<void()> body);

// True once body has returned.
bool ThreadFinished(const ThreadHandle& thread);

// Waits for the end of the thread.
void ThreadJoin(const ThreadHandle& thread);

}  // namespace platform
