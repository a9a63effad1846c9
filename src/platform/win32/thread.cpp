// Threads whose end can be asked for, on Windows: _beginthreadex (which
// sets up the C runtime for the thread), the thread's handle kept for
// waiting and for its exit code.
#include "platform/thread.h"

#include <process.h>
#include <windows.h>

#include <atomic>

#include "platform/error.h"
#include "platform/fault_injection.h"

namespace platform {

struct ThreadRecord {
  HANDLE handle = nullptr;             // the thread, for waiting
  unsigned id = 0;                     // its identifier
  std::function<void()> body;          // what it runs
  std::atomic<bool> finished{false};   // set when the body has returned

  ~ThreadRecord() {
    // The thread runs on to its end when the last handle goes.
    if (handle != nullptr) CloseHandle(handle);
  }
};

namespace {

unsigned __stdcall Run(void* argument) {
  // The thread keeps the record alive until its body has returned.
  auto* keep = static_cast<ThreadHandle*>(argument);
  ThreadHandle record = std::move(*keep);
  delete keep;
  record->body();
  record->body = nullptr;
  record->finished = true;
  return 0;
}

}  // namespace

ThreadHandle ThreadStart(std::function<void()> body) {
  if (FaultFires(Syscall::ThreadStart)) return nullptr;
  auto record = std::make_shared<ThreadRecord>();
  record->body = std::move(body);
  auto* keep = new ThreadHandle(record);
  // Started suspended, so that the handle is in the record before the
  // thread can drop its reference.
  uintptr_t handle = _beginthreadex(nullptr, 0, Run, keep, CREATE_SUSPENDED, &record->id);
  if (handle == 0) {
    SetLastSystemError(static_cast<int>(GetLastError()));
    delete keep;
    return nullptr;
  }
  record->handle = reinterpret_cast<HANDLE>(handle);
  ResumeThread(record->handle);
  return record;
}

bool ThreadFinished(const ThreadHandle& thread) { return thread == nullptr || thread->finished; }

void ThreadJoin(const ThreadHandle& thread) {
  if (thread != nullptr && thread->handle != nullptr && thread->id != GetCurrentThreadId()) {
    WaitForSingleObject(thread->handle, INFINITE);
  }
}

}  // namespace platform
