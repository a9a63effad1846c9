// Test peers on loopback ports (see loopback_server.h).
#include "loopback_server.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <chrono>

#include "link/envelope.h"
#include "link/xtea128.h"
#include "platform/clock.h"
#include "test_support.h"

#ifndef _WIN32
extern char** environ;
#endif

namespace link_test {

LoopbackServer::LoopbackServer(Script serve) : serve_(std::move(serve)) {
  listener_ = platform::NetListen(true, 0, 16);
  port_ = platform::NetLocalPort(listener_);
  thread_ = std::thread([this] { Run(); });
}

LoopbackServer::~LoopbackServer() {
  stop_ = true;
  thread_.join();
  platform::NetClose(&listener_);
}

std::string LoopbackServer::endpoint() const { return "127.0.0.1:" + std::to_string(port_); }

void LoopbackServer::Run() {
  while (!stop_) {
    platform::Socket connection = platform::NetAccept(listener_, 50);
    if (!platform::SocketValid(connection)) continue;
    ++accepted_;
    serve_(connection);
    platform::NetClose(&connection);
    std::lock_guard<std::mutex> hold(servedLock_);
    ++served_;
    servedChanged_.notify_all();
  }
}

bool LoopbackServer::WaitServed(int count) {
  std::unique_lock<std::mutex> hold(servedLock_);
  return servedChanged_.wait_for(hold, std::chrono::seconds(5), [this, count] { return served_ >= count; });
}

bool ReceiveExact(const platform::Socket& socket, size_t count, std::vector<uint8_t>* out,
                  int timeoutMs) {
  out->assign(count, 0);
  size_t have = 0;
  while (have < count) {
    int64_t got = platform::NetRecv(socket, out->data() + have, count - have, timeoutMs);
    if (got <= 0) {
      out->resize(have);
      return false;
    }
    have += static_cast<size_t>(got);
  }
  return true;
}

std::vector<uint8_t> ReceiveUntilClosed(const platform::Socket& socket, int timeoutMs) {
  std::vector<uint8_t> all;
  uint8_t buffer[4096];
  for (;;) {
    int64_t got = platform::NetRecv(socket, buffer, sizeof(buffer), timeoutMs);
    if (got <= 0) return all;
    all.insert(all.end(), buffer, buffer + got);
  }
}

bool ReceiveRequest(const platform::Socket& socket, ReceivedRequest* request) {
  std::vector<uint8_t> header;
  if (!ReceiveExact(socket, serverlink::kHeaderBytes, &header)) return false;
  serverlink::RequestHeader fields = serverlink::ReadRequestHeader(header.data());
  request->operation = fields.operation;
  request->length = fields.length;
  request->time = fields.time;
  std::vector<uint8_t> body;
  if (fields.length > (1u << 24) || !ReceiveExact(socket, fields.length, &body)) return false;
  request->raw = header;
  request->raw.insert(request->raw.end(), body.begin(), body.end());
  uint8_t key[serverlink::kOuterKeyBytes];
  if (!serverlink::MakeOuterKey(fields.time, key)) return false;
  request->plain = serverlink::Xtea128Crypt(body, key, serverlink::XteaDirection::Decrypt);
  return true;
}

std::vector<uint8_t> MakeRecordAnswer(uint32_t time, const std::vector<uint8_t>& plain) {
  std::vector<uint8_t> answer = {serverlink::kAnswerRecord, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
  uint8_t key[serverlink::kOuterKeyBytes];
  serverlink::MakeOuterKey(time, key);
  std::vector<uint8_t> enciphered = serverlink::Xtea128Crypt(plain, key, serverlink::XteaDirection::Encrypt);
  answer.insert(answer.end(), enciphered.begin(), enciphered.end());
  return answer;
}

uint16_t FreePort() {
  platform::Socket probe = platform::NetListen(true, 0, 1);
  uint16_t port = platform::NetLocalPort(probe);
  platform::NetClose(&probe);
  return port;
}

#ifdef _WIN32
uint16_t StartedProxyPort(const std::string& name) {
  // The folder the step wrote into, beside this test program's build folder.
  std::string file = test_support::BuiltProgram("tests/link/proxies/" + name + ".port");
  std::string text = test_support::ReadText(file);
  int port = std::atoi(text.c_str());
  if (port <= 0 || port > 65535) {
    ADD_FAILURE() << "no port of " << name << " in " << file << ": the step LinkProxies.Start starts it";
    return 0;
  }
  return static_cast<uint16_t>(port);
}
#else
bool ProgramExists(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& logPath) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) == 0) pid_ = pid;
  posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
    platform::SleepMs(20);
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
}

bool ChildProcess::WaitForPort(uint16_t port, int timeoutMs) {
  int64_t deadline = platform::MonotonicMs() + timeoutMs;
  while (platform::MonotonicMs() < deadline) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {  // it ended
      pid_ = -1;
      return false;
    }
    platform::Socket probe = platform::NetConnect(platform::NetAddress{0x7F000001, port}, 500);
    if (platform::SocketValid(probe)) {
      platform::NetClose(&probe);
      return true;
    }
    platform::SleepMs(20);
  }
  return false;
}
#endif

}  // namespace link_test
