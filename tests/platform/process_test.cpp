// Programs started by a process that blocks or ignores signals (as the
// client does) begin with a clean signal state.
#include "platform/process.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "test_support.h"

namespace {

TEST(Process, AStartedProgramHasNoSignalBlockedOrIgnored) {
  test_support::TempFolder dir;
  std::string status = dir.path + "status";
  sigset_t blocked;
  sigset_t saved;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGTERM);
  sigaddset(&blocked, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &blocked, &saved);
  platform::IgnoreBrokenPipes();
  // cp reports its own state: a shell would clear the mask by itself.
  bool started = platform::ProcessStart("/bin/cp", {"/proc/self/status", status});
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  signal(SIGPIPE, SIG_DFL);
  ASSERT_TRUE(started);

  std::string text;
  for (int i = 0; i < 500 && text.find("SigCgt:") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    text = test_support::ReadText(status);
  }
  unsigned long long blockedMask = ~0ull;
  unsigned long long ignoredMask = ~0ull;
  size_t at = text.find("SigBlk:");
  ASSERT_NE(at, std::string::npos) << text;
  ASSERT_EQ(std::sscanf(text.c_str() + at, "SigBlk: %llx SigIgn: %llx", &blockedMask, &ignoredMask), 2) << text;
  EXPECT_EQ(blockedMask, 0u);
  // The C library's own two signals (32 and 33, below SIGRTMIN) stay ignored
  // in every child that posix_spawn starts; the child's C library takes
  // them over.
  EXPECT_EQ(ignoredMask & ~(3ull << 31), 0u) << text;
}

}  // namespace
