// The headless user interface's signals on Linux (see ui.h): SIGINT and
// SIGTERM end the message loop, SIGUSR1 is a second client's hand-over.
// Called once by the client's start-up; the rest of the headless interface
// is in ../headless_ui.cpp.
#include <pthread.h>
#include <signal.h>

#include <thread>

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

}  // namespace platform::ui
