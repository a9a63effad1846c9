// Test peers on loopback ports: a server that runs a script for each
// connection, the server's side of the transport envelope, and real proxy
// programs started on free ports and stopped again.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/net.h"

namespace link_test {

// Listens on a free loopback port and runs `serve` for every connection,
// one after another, on a thread of its own; the connection is closed when
// `serve` returns. Stops and joins in its destructor.
class LoopbackServer {
 public:
  using Script = std::function<void(platform::Socket&)>;
  explicit LoopbackServer(Script serve);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  uint16_t port() const { return port_; }
  int accepted() const { return accepted_.load(); }  // connections so far
  std::string endpoint() const;                      // "127.0.0.1:<port>"

  // Waits until the script has returned for `count` connections (at most
  // five seconds); what the script wrote is then safe to read.
  bool WaitServed(int count);

 private:
  void Run();
  Script serve_;
  platform::Socket listener_;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  std::mutex servedLock_;
  std::condition_variable servedChanged_;
  int served_ = 0;  // connections whose script has returned
  std::thread thread_;
};

// Receives exactly `count` bytes (false when the peer closed or went silent
// for `timeoutMs`).
bool ReceiveExact(const platform::Socket& socket, size_t count, std::vector<uint8_t>* out,
                  int timeoutMs = 5000);

// Reads until the peer closes or `timeoutMs` of silence; what arrived.
std::vector<uint8_t> ReceiveUntilClosed(const platform::Socket& socket, int timeoutMs = 5000);

// One request as the server sees it.
struct ReceivedRequest {
  std::vector<uint8_t> raw;    // every byte received: header and enciphered body
  uint8_t operation = 0;       // from the header
  uint32_t length = 0;         // L from the header
  uint32_t time = 0;           // T from the header
  std::vector<uint8_t> plain;  // the body deciphered with the outer key of T
};

// Reads the header and the L bytes it announces and deciphers the body.
bool ReceiveRequest(const platform::Socket& socket, ReceivedRequest* request);

// An answer of kind 0xAD as the server sends it: the kind byte, 8 bytes
// (the server's own; the client overwrites bytes 1-4), then `plain`
// enciphered with the outer key of `time`. `plain` must be whole blocks.
std::vector<uint8_t> MakeRecordAnswer(uint32_t time, const std::vector<uint8_t>& plain);

// A loopback TCP port that was free a moment ago.
uint16_t FreePort();

#ifdef _WIN32
// The loopback port of a real Linux proxy that the CTest step before the
// Windows tests (proxies.sh) started: under Wine a Windows program starts a
// Linux one but gets no handle to wait for or to end it. 0, and a failure
// of the test, when the step left no port for `name`.
uint16_t StartedProxyPort(const std::string& name);
#else
// True when the path names an executable program.
bool ProgramExists(const std::string& path);

// A program started for a test (with its standard output and error in
// `logPath`), stopped with SIGTERM (then SIGKILL) and reaped when the
// object goes.
class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& argv, const std::string& logPath);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  bool started() const { return pid_ > 0; }
  // Waits until something accepts connections on the loopback port.
  bool WaitForPort(uint16_t port, int timeoutMs);

 private:
  int pid_ = -1;
};

#endif

}  // namespace link_test
