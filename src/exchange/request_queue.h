// A helper thread for the work that intake need not wait for.
// ClientGetMessagesFromServer (intake.cpp) fetches and opens message n + 1
// and deletes message n - 1 on it while it confirms and stores message n,
// so that work, the server's and the network's run beside the loop's
// instead of after it.
//
// The order that keeps documents safe stays with the caller: a deletion is
// posted only after its row is committed, and a fetched message that is
// never taken simply stays on the server.
#pragma once

#include <functional>
#include <memory>

namespace exchange {

struct RequestQueueState;

// Runs posted tasks one at a time, in the order posted, on a thread of its
// own. When the system refuses a thread, Post runs the task at once on the
// caller's thread.
struct RequestQueue {
  RequestQueue();
  // Runs the tasks still queued, then ends the thread.
  ~RequestQueue();
  RequestQueue(const RequestQueue&) = delete;
  RequestQueue& operator=(const RequestQueue&) = delete;

  // Tasks must not throw: a request logs its own failures.
  void Post(std::function<void()> task);

  std::shared_ptr<RequestQueueState> state;  // shared with the helper thread
};

}  // namespace exchange
