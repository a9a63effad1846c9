// The headless user interface's signals on Linux (see ui.h): SIGINT and
// SIGTERM end the message loop, SIGUSR1 is a second client's hand-over,
// which a second client sends to the process id kept in "state.txt".
// Called by the client's start-up; the rest of the headless interface is in
// ../headless_ui.cpp.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include <thread>

#include "platform/error.h"
#include "platform/ui.h"

namespace platform::ui {

void InstallSignalHandlers() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  // Threads started from now on inherit the mask; this one takes the
  // signals one by one and turns them into work for the loop.
  std::thread([signals]() {
    for (;;) {
      int signal = 0;
      if (sigwait(&signals, &signal) != 0) continue;
      if (signal == SIGUSR1) {
        ReceiveHandOver();
      } else {
        PostQuit(0);
      }
    }
  }).detach();
}

uint32_t HandOverHandle() { return static_cast<uint32_t>(getpid()); }

bool HandOverToRunningClient(uint32_t handle) {
  const pid_t pid = static_cast<pid_t>(handle);
  if (pid <= 0 || kill(pid, SIGUSR1) != 0) {
    SetLastSystemError(pid <= 0 ? ESRCH : errno);
    return false;
  }
  return true;
}

}  // namespace platform::ui
