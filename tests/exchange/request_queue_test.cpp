// The helper thread of intake: tasks run one at a time in the order they
// were posted, off the poster's thread, and the end of the queue waits for
// every task still queued (intake relies on it for its last deletion).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "exchange/request_queue.h"

namespace {

TEST(RequestQueueTest, RunsTasksInOrderOffThePostersThreadAndFinishesThemAtItsEnd) {
  std::mutex lock;
  std::vector<int> ran;
  std::atomic<int> running{0};
  bool overlapped = false;
  bool onPoster = false;
  const std::thread::id poster = std::this_thread::get_id();
  {
    exchange::RequestQueue queue;
    for (int i = 0; i < 20; ++i) {
      queue.Post([&, i] {
        if (running.fetch_add(1) != 0) overlapped = true;
        if (std::this_thread::get_id() == poster) onPoster = true;
        // Slow early tasks leave the later ones queued when the end comes.
        std::this_thread::sleep_for(std::chrono::milliseconds(i < 3 ? 20 : 0));
        {
          std::lock_guard<std::mutex> hold(lock);
          ran.push_back(i);
        }
        running.fetch_sub(1);
      });
    }
  }
  std::vector<int> expected;
  for (int i = 0; i < 20; ++i) expected.push_back(i);
  EXPECT_EQ(ran, expected);
  EXPECT_FALSE(overlapped);
  EXPECT_FALSE(onPoster);
}

}  // namespace
