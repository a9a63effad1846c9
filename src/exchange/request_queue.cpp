// The helper thread of intake (see request_queue.h).
#include "exchange/request_queue.h"

#include <condition_variable>
#include <deque>
#include <mutex>

#include "platform/thread.h"

namespace exchange {

struct RequestQueueState {
  std::mutex lock;
  std::condition_variable posted;           // a task or the end was posted
  std::deque<std::function<void()>> tasks;  // waiting, oldest first; guarded by lock
  bool ending = false;                      // no more tasks will come; guarded by lock
  platform::ThreadHandle helper;            // null when tasks run on the caller's thread
};

namespace {

void RunInOrder(const std::shared_ptr<RequestQueueState>& state) {
  std::unique_lock<std::mutex> hold(state->lock);
  for (;;) {
    state->posted.wait(hold, [&] { return state->ending || !state->tasks.empty(); });
    if (state->tasks.empty()) return;  // ending, and nothing left
    std::function<void()> task = std::move(state->tasks.front());
    state->tasks.pop_front();
    hold.unlock();
    task();
    hold.lock();
  }
}

}  // namespace

RequestQueue::RequestQueue() : state(std::make_shared<RequestQueueState>()) {
  std::shared_ptr<RequestQueueState> shared = state;
  state->helper = platform::ThreadStart([shared] { RunInOrder(shared); });
}

RequestQueue::~RequestQueue() {
  if (!state->helper) return;
  {
    std::lock_guard<std::mutex> hold(state->lock);
    state->ending = true;
  }
  state->posted.notify_one();
  platform::ThreadJoin(state->helper);
}

void RequestQueue::Post(std::function<void()> task) {
  if (!state->helper) {
    task();
    return;
  }
  {
    std::lock_guard<std::mutex> hold(state->lock);
    state->tasks.push_back(std::move(task));
  }
  state->posted.notify_one();
}

}  // namespace exchange
