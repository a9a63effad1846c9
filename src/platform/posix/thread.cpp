// Threads whose end can be asked for, on Linux (std::thread over pthreads).
#include "platform/thread.h"

#include <atomic>
#include <cerrno>
#include <system_error>
#include <thread>

#include "platform/error.h"
#include "platform/fault_injection.h"

namespace platform {

struct ThreadRecord {
  std::thread thread;              // the running thread
  std::atomic<bool> finished{false};  // set when the body has returned

  ~ThreadRecord() {
    if (!thread.joinable()) return;
    // The last handle may go on the thread itself, or while it still runs:
    // then let it finish on its own.
    if (thread.get_id() == std::this_thread::get_id() || !finished) {
      thread.detach();
    } else {
      thread.join();
    }
  }
};

ThreadHandle ThreadStart(std::function<void()> body) {
  if (FaultFires(Syscall::ThreadStart)) return nullptr;
  auto record = std::make_shared<ThreadRecord>();
  try {
    // The thread keeps the record alive until its body has returned.
    record->thread = std::thread([record, body = std::move(body)]() mutable {
      body();
      body = nullptr;
      record->finished = true;
    });
  } catch (const std::system_error& error) {
    SetLastSystemError(error.code().value());
    return nullptr;
  }
  return record;
}

bool ThreadFinished(const ThreadHandle& thread) { return thread == nullptr || thread->finished; }

void ThreadJoin(const ThreadHandle& thread) {
  if (thread != nullptr && thread->thread.joinable() &&
      thread->thread.get_id() != std::this_thread::get_id()) {
    thread->thread.join();
  }
}

}  // namespace platform
