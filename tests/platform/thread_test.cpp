// Threads that can be asked whether they have ended.
#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace {

TEST(Thread, ReportsRunningUntilItsBodyReturns) {
  std::mutex mutex;
  std::condition_variable cv;
  bool release = false;
  platform::ThreadHandle thread = platform::ThreadStart([&]() {
    std::unique_lock<std::mutex> lock(mutex);
    cv.wait(lock, [&]() { return release; });
  });
  ASSERT_NE(thread, nullptr);
  EXPECT_FALSE(platform::ThreadFinished(thread));
  {
    std::lock_guard<std::mutex> lock(mutex);
    release = true;
  }
  cv.notify_all();
  platform::ThreadJoin(thread);
  EXPECT_TRUE(platform::ThreadFinished(thread));
}

TEST(Thread, RunsToItsEndWhenEveryHandleIsDropped) {
  std::atomic<bool> done{false};
  platform::ThreadStart([&]() { done = true; }).reset();
  for (int i = 0; i < 1000 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_TRUE(done);
}

}  // namespace
