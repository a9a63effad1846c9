// The web listener through real loopback connections: the answer's bytes,
// requests in pieces, the peers it refuses, connections dropped half-way,
// and its end once the client's instance lock has gone.
#include "web/listener.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "core/folders.h"
#include "core/log.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/fault_injection.h"
#include "platform/instance_lock.h"
#include "platform/net.h"
#include "test_support.h"
#include "web/response.h"

namespace {

constexpr int kWaitMs = 20000;  // far longer than any answer takes

// Tells how much of the request arrived, in the page's answer format.
std::string CountingHandler(const std::string& request) {
  if (request.find("request=big") != std::string::npos) return web::FrameWebResponse(std::string(100000, 'b'));
  return web::FrameWebResponse("jQuery1({\"bytes\" :" + std::to_string(request.size()) +
                               ",\"message\" :\"Документ не найден\"})");
}

std::string Answer(size_t requestSize) { return CountingHandler(std::string(requestSize, ' ')); }

// A request of the page, padded by a header to `size` bytes.
std::string Get(const std::string& query, size_t size = 0) {
  std::string request = "GET /?" + query + " HTTP/1.1\r\nHost: 127.0.0.1\r\nX: ";
  return request + std::string(std::max(request.size() + 4, size) - request.size() - 4, 'x') + "\r\n\r\n";
}

class WebListenerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    core::SetLogRoot("Tessarin");
    core::SetRunStamp("web_test");
    core::SetProgramFolder(program.path);
    ASSERT_EQ(platform::AcquireInstanceLock(program.path), platform::InstanceLock::Acquired);
    ASSERT_TRUE(web::StartWebListener(&CountingHandler, 0));
    to.port = web::WebListenerPort();
    log = core::LastLogFile();  // "Normal": no error so far
  }
  void TearDown() override {
    platform::ClearFaults();
    web::SetWebLimits(web::kDefaultWebLimits);
    EXPECT_TRUE(web::StopWebListener()) << "every worker ended";
  }

  platform::Socket Connect(uint32_t from = 0) { return platform::NetConnect(to, kWaitMs, from); }

  // Everything the listener sends until it closes the connection, and
  // "<silence>" when it neither sends nor closes.
  static std::string ReadAll(platform::Socket* socket) {
    std::string received;
    char piece[4096];
    int64_t count = 0;
    while ((count = platform::NetRecv(*socket, piece, sizeof(piece), kWaitMs)) > 0) received.append(piece, count);
    if (count < 0 && platform::ErrorKindOf(platform::LastSystemError()) == platform::ErrorKind::TimedOut) {
      received += "<silence>";
    }
    platform::NetClose(socket);
    return received;
  }

  // Sends the request; with endSending the page then closes its side.
  std::string Exchange(const std::string& request, bool endSending = false) {
    platform::Socket socket = Connect();
    EXPECT_TRUE(platform::SocketValid(socket));
    platform::NetSendAll(socket, request.data(), request.size(), kWaitMs);
    if (endSending) platform::NetShutdownSend(socket);
    return ReadAll(&socket);
  }

  // Waits until the run's log holds the text.
  void WaitForLog(const std::string& text) {
    for (int i = 0; i < 2000 && test_support::ReadText(log).find(text) == std::string::npos; ++i) platform::SleepMs(10);
    EXPECT_NE(test_support::ReadText(log).find(text), std::string::npos) << text;
  }

  test_support::ScopedLogFolder logs;  // the log and the lock files
  test_support::TempFolder program;
  platform::NetAddress to{0x7F000001, 0};
  std::string log;
};

TEST_F(WebListenerTest, AnswersByteForByteAnEmptyRequestAndALongAnswer) {
  std::string dir = WEB_TEST_DATA;
  EXPECT_EQ(Exchange(test_support::ReadText(dir + "info_request.http")), test_support::ReadText(dir + "info_response.http"));
  EXPECT_EQ(Exchange("", true), Answer(0));
  EXPECT_EQ(Exchange("GET /?request=sign&number=12", true), "") << "a request line cut short is not carried out";
  EXPECT_EQ(Exchange(Get("request=big"), true), CountingHandler("request=big"));
}

TEST_F(WebListenerTest, ReadsARequestWholeWhateverItsPieces) {
  // The page's request in two segments, the first read alone.
  std::string request = Get("request=info&callback=cb");
  platform::Socket socket = Connect();
  platform::NetSendAll(socket, request.data(), 20, kWaitMs);
  WaitForLog("Read total =20=");
  platform::NetSendAll(socket, request.data() + 20, request.size() - 20, kWaitMs);
  EXPECT_EQ(ReadAll(&socket), Answer(request.size()));

  // A body behind the headers, as long as they declare.
  std::string post = "POST / HTTP/1.1\r\nContent-Length: 12\r\n\r\n";
  socket = Connect();
  platform::NetSendAll(socket, post.data(), post.size(), kWaitMs);
  WaitForLog("Read total =" + std::to_string(post.size()) + "=");
  platform::NetSendAll(socket, "request=info", 12, kWaitMs);
  EXPECT_EQ(ReadAll(&socket), Answer(post.size() + 12));

  // Exactly one piece, and the page waits for the answer.
  EXPECT_EQ(Exchange(Get("request=info", web::kWebPiece)), Answer(web::kWebPiece));
  EXPECT_EQ(Exchange(Get("request=info", 3 * web::kWebPiece + 1)), Answer(3 * web::kWebPiece + 1));
}

TEST_F(WebListenerTest, ServesOnlyTheLoopbackAddressItself) {
  platform::Socket other = platform::NetConnect(platform::NetAddress{0x7F000002, to.port}, kWaitMs);
  EXPECT_FALSE(platform::SocketValid(other)) << "bound to 127.0.0.1 alone";
  platform::Socket fromOther = Connect(0x7F000002);
  ASSERT_TRUE(platform::SocketValid(fromOther));
  std::string request = Get("request=info");
  platform::NetSendAll(fromOther, request.data(), request.size(), kWaitMs);
  EXPECT_EQ(ReadAll(&fromOther), "") << "a peer from 127.0.0.2 is closed unanswered";
  EXPECT_EQ(Exchange(request), Answer(request.size()));
}

TEST_F(WebListenerTest, NoConnectionKeepsAWorkerOrADescriptor) {
  web::SetWebLimits(web::WebLimits{300, 2000, 64 * 1024});
  core::LogInfo("before");
  const int before = test_support::OpenDescriptorCount();
  const std::string request = Get("request=getdocuments&callback=cb&phone=375291234567");

  // Workers that cannot start: more than there are slots.
  platform::InjectFault(platform::Syscall::ThreadStart, EAGAIN, 250);
  for (int i = 0; i < 250; ++i) ASSERT_EQ(Exchange(request), "") << i;
  platform::ClearFaults();

  std::vector<platform::Socket> silent;
  for (int i = 250; i < 10000; ++i) {
    platform::Socket socket = Connect();
    ASSERT_TRUE(platform::SocketValid(socket)) << i;
    switch (i % 4) {
      case 0:
        platform::NetSendAll(socket, request.data(), request.size(), kWaitMs);
        ASSERT_EQ(ReadAll(&socket), Answer(request.size())) << i;
        break;
      case 1:  // gone before a byte
        platform::NetClose(&socket);
        break;
      case 2:  // gone half-way
        platform::NetSendAll(socket, request.data(), request.size() / 2, kWaitMs);
        platform::NetClose(&socket);
        break;
      default:
        if (i % 500 == 3) {  // silent, and kept open
          silent.push_back(socket);
          break;
        }
        // gone before the answer
        platform::NetSendAll(socket, request.data(), request.size(), kWaitMs);
        platform::NetClose(&socket);
    }
  }
  for (platform::Socket& socket : silent) ASSERT_EQ(ReadAll(&socket), "") << "closed for its silence";
  // Past the size limit, the end of the request makes no answer.
  EXPECT_EQ(Exchange(Get("request=info", 100 * 1024)), "");

  for (int64_t end = platform::MonotonicMs() + kWaitMs; platform::MonotonicMs() < end; platform::SleepMs(10)) {
    core::LogInfo("after");
    if (web::WebConnectionsOpen() == 0 && test_support::OpenDescriptorCount() == before) break;
  }
  EXPECT_EQ(web::WebConnectionsOpen(), 0);
  EXPECT_EQ(test_support::OpenDescriptorCount(), before);
  EXPECT_EQ(Exchange(request), Answer(request.size()));
}

TEST_F(WebListenerTest, ConnectionsBeyondTheSlotsWaitTheirTurn) {
  std::vector<platform::Socket> silent;
  for (int i = 0; i < web::kWebSlots; ++i) silent.push_back(Connect());
  for (int i = 0; i < 1000 && web::WebConnectionsOpen() < web::kWebSlots; ++i) platform::SleepMs(10);
  ASSERT_EQ(web::WebConnectionsOpen(), web::kWebSlots);
  // The listener takes no connection now; the system keeps them for it.
  std::vector<platform::Socket> waiting;
  for (int i = 0; i < 20; ++i) {
    waiting.push_back(platform::NetConnect(to, 3000));
    ASSERT_TRUE(platform::SocketValid(waiting.back())) << i;
  }
  for (platform::Socket& socket : silent) platform::NetClose(&socket);
  std::string request = Get("request=info");
  for (platform::Socket& socket : waiting) {
    platform::NetSendAll(socket, request.data(), request.size(), kWaitMs);
    EXPECT_EQ(ReadAll(&socket), Answer(request.size()));
  }
}

TEST_F(WebListenerTest, EndsWithTheFirstConnectionAfterTheClientsLockHasGone) {
  EXPECT_TRUE(web::StopWebListener());
  EXPECT_EQ(web::WebListenerExitCode(), web::kWebListenerExitCode);
  EXPECT_FALSE(platform::SocketValid(Connect())) << "stopped";

  // Before the client has taken its lock, a connection is served.
  test_support::TempFolder client;
  core::SetProgramFolder(client.path);
  ASSERT_TRUE(web::StartWebListener(&CountingHandler, 0));
  to.port = web::WebListenerPort();
  const std::string early = Get("request=info");
  EXPECT_EQ(Exchange(early), Answer(early.size())) << "the lock is not yet taken";
  EXPECT_TRUE(web::StopWebListener());

  // Another process holds the lock of another folder until told to end.
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  pid_t holder = fork();
  if (holder == 0) {
    close(pipeEnds[1]);
    char byte;
    bool held = platform::AcquireInstanceLock(client.path) == platform::InstanceLock::Acquired;
    if (!held || read(pipeEnds[0], &byte, 1) < 0) _exit(1);
    _exit(0);
  }
  close(pipeEnds[0]);
  for (int i = 0; i < 1000 && !platform::InstanceLockHeld(client.path); ++i) platform::SleepMs(10);
  ASSERT_TRUE(web::StartWebListener(&CountingHandler, 0));
  web::WatchInstanceLock();
  to.port = web::WebListenerPort();
  EXPECT_EQ(web::WebListenerExitCode(), -1);
  std::string request = Get("request=info");
  EXPECT_EQ(Exchange(request), Answer(request.size()));

  close(pipeEnds[1]);
  int status = 0;
  waitpid(holder, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Exchange(request), "") << "accepted, then closed unanswered";
  for (int i = 0; i < 1000 && web::WebListenerExitCode() != 99; ++i) platform::SleepMs(10);
  EXPECT_EQ(web::WebListenerExitCode(), web::kWebListenerExitCode);
  EXPECT_FALSE(platform::SocketValid(Connect()));
}

}  // namespace
