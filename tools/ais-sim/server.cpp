// The TCP side of the simulator (see server.h).
#include "server.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "core/format.h"
#include "core/log.h"
#include "counters.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "sim_log.h"
#include "wire.h"

namespace aissim {

namespace {

std::mutex gActiveLock;
std::condition_variable gActiveChanged;
int gActive = 0;
std::atomic<size_t> gBodyBytes{0};

// Threads serve one connection after another: a thread started for every
// connection cost more than the request itself (the library's per-thread
// random generators and error state are set up again in every new
// thread). A connection that finds no thread waiting starts one, so any
// number are still served at once; a thread with nothing to do for a
// while ends.
constexpr int kIdleThreadMs = 30000;
std::mutex gWorkLock;
std::condition_variable gWorkArrived;
std::condition_variable gWorkersChanged;
std::deque<platform::Socket> gWaiting;  // accepted, not yet taken; guarded by gWorkLock
int gIdleWorkers = 0;                   // threads waiting for a connection; guarded by gWorkLock
int gWorkers = 0;                       // threads alive; guarded by gWorkLock
bool gClosing = false;                  // RunServer is ending; guarded by gWorkLock

// Bytes and time the peer may use after the answer, while it reads it.
constexpr size_t kDrainLimit = 64u << 10;
constexpr int kDrainMs = 2000;

enum class ReadResult { Complete, Closed, TimedOut, Failed };

// Receives exactly `size` bytes, each wait limited by the I/O timeout and
// all of them by the deadline (a monotonic time in ms).
ReadResult ReadExactly(const platform::Socket& socket, uint8_t* into, size_t size, size_t* got,
                       int ioTimeoutMs, int64_t deadline) {
  *got = 0;
  while (*got < size) {
    int64_t left = deadline - platform::MonotonicMs();
    if (left <= 0) return ReadResult::TimedOut;
    int wait = static_cast<int>(std::min<int64_t>(left, ioTimeoutMs));
    int64_t received = platform::NetRecv(socket, into + *got, size - *got, wait);
    if (received == 0) return ReadResult::Closed;
    if (received < 0) {
      return platform::ErrorKindOf(platform::LastSystemError()) == platform::ErrorKind::TimedOut
                 ? ReadResult::TimedOut
                 : ReadResult::Failed;
    }
    *got += static_cast<size_t>(received);
  }
  return ReadResult::Complete;
}

// Sends the answer, then ends the sending side and lets the peer read it
// before the connection is closed: closing with unread request bytes would
// reset the connection and could destroy the answer in flight.
void SendAndClose(platform::Socket* socket, const std::vector<uint8_t>& answer, int ioTimeoutMs) {
  if (!answer.empty() && !platform::NetSendAll(*socket, answer.data(), answer.size(), ioTimeoutMs)) {
    Count("connections.send_failed");
  }
  platform::NetShutdownSend(*socket);
  uint8_t sink[4096];
  size_t drained = 0;
  const int64_t until = platform::MonotonicMs() + kDrainMs;
  while (drained < kDrainLimit) {
    int64_t left = until - platform::MonotonicMs();
    if (left <= 0) break;
    int64_t got = platform::NetRecv(*socket, sink, sizeof sink, static_cast<int>(left));
    if (got <= 0) break;
    drained += static_cast<size_t>(got);
  }
  platform::NetClose(socket);
}

void SleepUnlessStopped(int milliseconds, const std::atomic<bool>& stop) {
  // The clock counts whole milliseconds, so 'now' may be up to one late:
  // one more makes the delay at least as long as asked.
  const int64_t until = platform::MonotonicMs() + milliseconds + 1;
  while (!stop.load()) {
    int64_t left = until - platform::MonotonicMs();
    if (left <= 0) return;
    platform::SleepMs(static_cast<int>(std::min<int64_t>(left, 100)));
  }
}

// Holds a share of the body budget for the life of the request.
struct BodyShare {
  size_t bytes = 0;  // bytes held
  ~BodyShare() { gBodyBytes.fetch_sub(bytes); }
  bool Take(size_t wanted, size_t budget) {
    size_t before = gBodyBytes.fetch_add(wanted);
    if (before + wanted > budget) {
      gBodyBytes.fetch_sub(wanted);
      return false;
    }
    bytes = wanted;
    return true;
  }
};

void Serve(platform::Socket socket, const ServerSettings& settings, const std::atomic<bool>& stop) {
  const int64_t deadline = platform::MonotonicMs() + settings.requestDeadlineMs;
  uint8_t head[serverlink::kHeaderBytes];
  size_t got = 0;
  ReadResult read = ReadExactly(socket, head, sizeof head, &got, settings.ioTimeoutMs, deadline);
  if (read != ReadResult::Complete) {
    Count(read == ReadResult::TimedOut ? "connections.timed_out" : "connections.short_header");
    LogLine(core::Format("connection ended after %zu header bytes (%s)", got,
                         read == ReadResult::TimedOut ? "silent too long" : "closed"));
    platform::NetClose(&socket);
    return;
  }
  serverlink::RequestHeader header = serverlink::ReadRequestHeader(head);
  std::string refused = CheckHeader(header, settings.maxBody);
  if (!refused.empty()) {
    Reply reply = RefuseHeader(header, refused);
    LogLine(reply.logLine);
    SendAndClose(&socket, reply.answer, settings.ioTimeoutMs);
    return;
  }
  BodyShare share;
  if (!share.Take(header.length, settings.bodyBudget)) {
    Count("connections.over_budget");
    LogLine(core::Format("op %02X -> refused 6 (body of %u bytes over the budget)", header.operation, header.length));
    SendAndClose(&socket, PlainAnswer(kTypeRefused, kCodeServerError), settings.ioTimeoutMs);
    return;
  }
  std::vector<uint8_t> body(header.length);
  read = ReadExactly(socket, body.data(), body.size(), &got, settings.ioTimeoutMs, deadline);
  if (read != ReadResult::Complete) {
    Count(read == ReadResult::TimedOut ? "connections.timed_out" : "connections.short_body");
    LogLine(core::Format("op %02X: connection ended after %zu of %u body bytes (%s)", header.operation, got,
                         header.length, read == ReadResult::TimedOut ? "silent too long" : "closed"));
    platform::NetClose(&socket);
    return;
  }
  Reply reply = HandleRequest(header, std::move(body));
  LogLine(reply.logLine);
  if (reply.delayMs > 0) SleepUnlessStopped(reply.delayMs, stop);
  if (reply.drop) {
    platform::NetClose(&socket);
    return;
  }
  SendAndClose(&socket, reply.answer, settings.ioTimeoutMs);
}

void ServeOne(platform::Socket socket, const ServerSettings& settings, const std::atomic<bool>& stop) {
  try {
    Serve(socket, settings, stop);
  } catch (...) {
    core::LogException("Serve");
    platform::NetClose(&socket);
  }
  std::lock_guard<std::mutex> hold(gActiveLock);
  --gActive;
  gActiveChanged.notify_all();
}

// Serves waiting connections until none came for kIdleThreadMs or the
// server ends.
void Work(ServerSettings settings, const std::atomic<bool>* stop) {
  std::unique_lock<std::mutex> hold(gWorkLock);
  for (;;) {
    if (gWaiting.empty()) {
      ++gIdleWorkers;
      bool arrived = gWorkArrived.wait_for(hold, std::chrono::milliseconds(kIdleThreadMs),
                                           [] { return !gWaiting.empty() || gClosing; });
      --gIdleWorkers;
      if (!arrived || gWaiting.empty()) break;
    }
    platform::Socket socket = gWaiting.front();
    gWaiting.pop_front();
    hold.unlock();
    ServeOne(socket, settings, *stop);
    hold.lock();
  }
  --gWorkers;
  gWorkersChanged.notify_all();
}

// Hands the connection to a waiting thread, or to a new one; false when no
// thread could be started.
bool Dispatch(platform::Socket socket, const ServerSettings& settings, const std::atomic<bool>& stop) {
  std::unique_lock<std::mutex> hold(gWorkLock);
  gWaiting.push_back(socket);
  if (gIdleWorkers >= static_cast<int>(gWaiting.size())) {
    hold.unlock();
    gWorkArrived.notify_one();
    return true;
  }
  try {
    std::thread(Work, settings, &stop).detach();
    ++gWorkers;
    return true;
  } catch (...) {
    gWaiting.pop_back();
    return false;
  }
}

}  // namespace

int ActiveConnections() {
  std::lock_guard<std::mutex> hold(gActiveLock);
  return gActive;
}

void RunServer(const platform::Socket& listener, const ServerSettings& settings, const std::atomic<bool>& stop) {
  while (!stop.load()) {
    platform::Socket socket = platform::NetAccept(listener, 200);
    if (!platform::SocketValid(socket)) continue;
    Count("connections");
    {
      std::unique_lock<std::mutex> hold(gActiveLock);
      if (gActive >= settings.maxConnections) {
        hold.unlock();
        Count("connections.over_cap");
        platform::NetClose(&socket);
        continue;
      }
      ++gActive;
    }
    if (!Dispatch(socket, settings, stop)) {
      // No thread could be started: the connection is closed unserved.
      Count("connections.no_thread");
      platform::NetClose(&socket);
      std::lock_guard<std::mutex> hold(gActiveLock);
      --gActive;
    }
  }
  {
    std::lock_guard<std::mutex> hold(gWorkLock);
    gClosing = true;
  }
  gWorkArrived.notify_all();
  {
    std::unique_lock<std::mutex> hold(gActiveLock);
    gActiveChanged.wait_for(hold, std::chrono::milliseconds(settings.ioTimeoutMs), [] { return gActive == 0; });
  }
  // The idle threads end on being woken; the process must not end under them.
  std::unique_lock<std::mutex> hold(gWorkLock);
  gWorkersChanged.wait_for(hold, std::chrono::milliseconds(settings.ioTimeoutMs), [] { return gWorkers == 0; });
}

}  // namespace aissim
