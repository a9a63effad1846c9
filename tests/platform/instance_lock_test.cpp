// The single-instance lock: named after the folder, held by one process.
#include "platform/instance_lock.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#ifdef _WIN32
#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/process.h"
#endif

#include "test_support.h"

namespace {

TEST(InstanceLock, IsNamedAfterTheProgramFolder) {
  EXPECT_EQ(platform::InstanceLockName("/opt/tessarin/"), "_opt_tessarin_");
  EXPECT_EQ(platform::InstanceLockName("C:\\Program Files\\Tessarin\\"), "C:_Program Files_Tessarin_");
}

#ifdef _WIN32
// A named mutex: a second holder, in this process or another, finds it
// there.
TEST(InstanceLock, ASecondHolderFindsItHeldAndAnotherFolderIsFree) {
  test_support::TempFolder first;
  test_support::TempFolder second;
  EXPECT_FALSE(platform::InstanceLockHeld(first.path));
  ASSERT_EQ(platform::AcquireInstanceLock(first.path), platform::InstanceLock::Acquired);
  EXPECT_TRUE(platform::InstanceLockHeld(first.path));
  EXPECT_EQ(platform::AcquireInstanceLock(first.path), platform::InstanceLock::HeldByAnother);
  EXPECT_FALSE(platform::InstanceLockHeld(second.path));
  EXPECT_EQ(platform::AcquireInstanceLock(second.path), platform::InstanceLock::Acquired);
}

TEST(InstanceLock, ASecondProcessFindsItHeldAndAnotherFolderIsFree) {
  test_support::TempFolder first;
  test_support::TempFolder second;
  ASSERT_EQ(platform::AcquireInstanceLock(first.path), platform::InstanceLock::Acquired);
  // The helper (process_helper.cpp) tries both locks and ends.
  const std::string result = first.path + "result";
  ASSERT_TRUE(platform::ProcessStart(test_support::BuiltProgram("tests/platform/platform_helper.exe"),
                                     {"lock", first.path, second.path, result}));
  for (int i = 0; i < 1000 && !std::filesystem::exists(result); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(test_support::ReadText(result), "first held, second taken");
  // The helper's lock on the second folder goes with the helper.
  for (int i = 0; i < 1000 && platform::InstanceLockHeld(second.path); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_FALSE(platform::InstanceLockHeld(second.path));
  EXPECT_TRUE(platform::InstanceLockHeld(first.path));
}
#else

TEST(InstanceLock, ASecondProcessFindsItHeldAndAnotherFolderIsFree) {
  test_support::ScopedLogFolder temp;  // the lock files live in the temporary folder
  test_support::TempFolder first;
  test_support::TempFolder second;
  EXPECT_FALSE(platform::InstanceLockHeld(first.path));
  ASSERT_EQ(platform::AcquireInstanceLock(first.path), platform::InstanceLock::Acquired);
  EXPECT_TRUE(platform::InstanceLockHeld(first.path));

  pid_t child = fork();
  if (child == 0) {
    bool ok = platform::AcquireInstanceLock(first.path) == platform::InstanceLock::HeldByAnother &&
              platform::AcquireInstanceLock(second.path) == platform::InstanceLock::Acquired;
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // The child's lock on the second folder went with the child.
  EXPECT_FALSE(platform::InstanceLockHeld(second.path));
}
#endif

}  // namespace
