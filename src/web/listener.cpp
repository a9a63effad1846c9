// The web interface's listener thread and its table of connection slots
// (see listener.h).
#include "web/listener.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "core/folders.h"
#include "core/log.h"
#include "core/text.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/instance_lock.h"
#include "platform/thread.h"

namespace web {

namespace {

constexpr uint32_t kLoopback = 0x7F000001;  // 127.0.0.1, the only peer served
constexpr int kStopCheckMs = 200;           // how often an idle listener looks for a stop
constexpr int kWorkersEndMs = 30000;        // the wait for the workers at a stop

// One connection lent to a worker; the socket is invalid while the slot is
// free.
struct Slot {
  platform::NetAddress peer;  // the page's address and port
  platform::Socket socket;    // the connection
};

// The slots, written by the listener when it lends one and by each worker
// when it gives its slot back.
std::mutex tableLock;
std::condition_variable slotFreed;
Slot slots[kWebSlots];
int openCount = 0;

// Start and stop of the listener.
std::mutex runLock;
platform::ThreadHandle listenerThread;
std::atomic<bool> stopAsked{false};
std::atomic<int> exitCode{-1};
std::atomic<uint16_t> boundPort{0};
std::atomic<bool> watchLock{false};  // the main instance holds its lock

// The first free slot at or after `from`, wrapping round; with every slot
// lent it waits until one is given back. -1 when a stop is asked.
int FreeSlotFrom(int from) {
  std::unique_lock<std::mutex> hold(tableLock);
  slotFreed.wait(hold, [] { return openCount < kWebSlots || stopAsked; });
  if (stopAsked) return -1;
  for (int i = 0; i < kWebSlots; ++i) {
    int index = (from + i) % kWebSlots;
    if (!platform::SocketValid(slots[index].socket)) return index;
  }
  return -1;  // not reached: openCount counts the lent slots
}

void Lend(int index, const platform::NetAddress& peer, const platform::Socket& socket) {
  std::lock_guard<std::mutex> hold(tableLock);
  slots[index] = Slot{peer, socket};
  ++openCount;
}

void GiveBack(int index) {
  std::lock_guard<std::mutex> hold(tableLock);
  slots[index].socket = platform::Socket{};
  --openCount;
  slotFreed.notify_all();
}

// The next connection; an invalid socket when a stop is asked.
platform::Socket AcceptOrStop(const platform::Socket& listener, platform::NetAddress* peer) {
  while (!stopAsked) {
    platform::Socket connection = platform::NetAccept(listener, kStopCheckMs, peer);
    if (platform::SocketValid(connection)) return connection;
    int code = platform::LastSystemError();
    if (platform::ErrorKindOf(code) != platform::ErrorKind::TimedOut) {
      // Out of descriptors, for instance: the pending connection stays
      // where it is until one is back.
      core::LogError("Error accept", code);
      platform::SleepMs(kStopCheckMs);
    }
  }
  return platform::Socket{};
}

void RunListener(platform::Socket listener, WebHandler handler, const std::string& programFolder) {
  int current = 0;
  for (;;) {
    current = FreeSlotFrom(current);
    if (current < 0) break;
    core::LogInfo("Web Server work");
    platform::NetAddress peer;
    platform::Socket connection = AcceptOrStop(listener, &peer);
    if (!platform::SocketValid(connection)) break;
    // The listener outlives no client: once the main instance has gone, the
    // connection that finds it gone ends the listener unanswered.
    if (watchLock && !platform::InstanceLockHeld(programFolder)) {
      platform::NetClose(&connection);
      break;
    }
    // Only the page on this machine is served. Any local process could
    // reach the loopback address from another address of its range.
    if (peer.ipv4 != kLoopback) {
      core::LogInfo("Web Server refused " + platform::NetAddressText(peer.ipv4));
      platform::NetClose(&connection);
      continue;
    }
    Lend(current, peer, connection);
    int index = current;
    platform::ThreadHandle worker = platform::ThreadStart([index, connection, handler] {
      ServeConnection(connection, handler);
      GiveBack(index);
    });
    if (worker == nullptr) {
      core::LogError("Error Creating the work_sock thread", platform::LastSystemError());
      platform::NetClose(&connection);
      GiveBack(index);
    }
    current = (current + 1) % kWebSlots;
  }
  core::LogInfo("Web Server stop");
  platform::NetClose(&listener);
  boundPort = 0;
  exitCode = kWebListenerExitCode;
}

}  // namespace

uint16_t WebPort() {
  const char* over = std::getenv("TESSARIN_WEB_PORT");
  if (over == nullptr || *over == '\0') return kWebPort;
  char* end = nullptr;
  long port = std::strtol(over, &end, 10);
  if (*end != '\0' || port < 0 || port > 65535) {
    core::LogInfo(std::string("TESSARIN_WEB_PORT ignored (a port 0-65535 expected): ") + over);
    return kWebPort;
  }
  return static_cast<uint16_t>(port);
}

bool StartWebListener(WebHandler handler, uint16_t port) {
  std::lock_guard<std::mutex> run(runLock);
  if (listenerThread != nullptr && !platform::ThreadFinished(listenerThread)) return true;
  platform::ThreadJoin(listenerThread);
  listenerThread = nullptr;

  core::LogInfo("Try to listen...");
  // The loopback address only: the page runs on this machine, and nothing
  // else may drive the client.
  platform::Socket listener = platform::NetBind(true, port);
  if (!platform::SocketValid(listener)) {
    core::LogError("Error bind", platform::LastSystemError());
    return false;
  }
  std::string linger;
  if (platform::NetLingerBytes(listener, &linger)) {
    core::LogInfo(core::HexEncode(reinterpret_cast<const uint8_t*>(linger.data()), linger.size()));
  } else {
    core::LogError("Error getsockopt", platform::LastSystemError());
  }
  if (!platform::NetStartListening(listener, kWebBacklog)) {
    core::LogError("Error listen", platform::LastSystemError());
    platform::NetClose(&listener);
    return false;
  }
  boundPort = platform::NetLocalPort(listener);
  if (port != kWebPort) core::LogValue("Web Server port", boundPort);
  exitCode = -1;
  stopAsked = false;
  watchLock = false;
  std::string programFolder = core::ProgramFolder();
  listenerThread = platform::ThreadStart([listener, handler, programFolder] {
    RunListener(listener, handler, programFolder);
  });
  if (listenerThread == nullptr) {
    core::LogError("Error Creating the listener thread", platform::LastSystemError());
    platform::NetClose(&listener);
    boundPort = 0;
    return false;
  }
  return true;
}

void WatchInstanceLock() { watchLock = true; }

uint16_t WebListenerPort() { return boundPort; }

int WebListenerExitCode() { return exitCode; }

bool StopWebListener() {
  std::lock_guard<std::mutex> run(runLock);
  {
    std::lock_guard<std::mutex> hold(tableLock);
    stopAsked = true;
    slotFreed.notify_all();
  }
  platform::ThreadJoin(listenerThread);
  listenerThread = nullptr;
  // Each worker ends within its limits unless a command keeps it.
  std::unique_lock<std::mutex> hold(tableLock);
  return slotFreed.wait_for(hold, std::chrono::milliseconds(kWorkersEndMs), [] { return openCount == 0; });
}

int WebConnectionsOpen() {
  std::lock_guard<std::mutex> hold(tableLock);
  return openCount;
}

}  // namespace web
