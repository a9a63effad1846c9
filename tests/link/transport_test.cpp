// SendMessageToServer against a server on a loopback port that sees the
// exact bytes sent and answers what each test needs, well-behaved or not.
#include "link/transport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "core/format.h"
#include "link/xtea128.h"
#include "platform/clock.h"
#include "transport_fixture.h"

namespace link_test {
namespace {

std::vector<uint8_t> Counting(size_t size, uint8_t start) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(start + i);
  return bytes;
}

uint32_t TimeOfAnswer(const std::vector<uint8_t>& answer) {
  return static_cast<uint32_t>(answer[1]) | static_cast<uint32_t>(answer[2]) << 8 |
         static_cast<uint32_t>(answer[3]) << 16 | static_cast<uint32_t>(answer[4]) << 24;
}

// A count the test raises each time the client has finished a call, so
// that a server script can hold back until then.
struct Releases {
  std::mutex lock;
  std::condition_variable changed;
  int count = 0;
  void Raise() {
    std::lock_guard<std::mutex> hold(lock);
    ++count;
    changed.notify_all();
  }
  void WaitFor(int wanted) {
    std::unique_lock<std::mutex> hold(lock);
    changed.wait_for(hold, std::chrono::seconds(10), [this, wanted] { return count >= wanted; });
  }
};

using Transport = TransportTest;

TEST_F(Transport, SessionRequestCarriesPrefixAndIsAnsweredWithADecipheredRecord) {
  ReceivedRequest seen;
  const std::vector<uint8_t> answerPlain = Counting(32, 0x80);
  LoopbackServer server([&](platform::Socket& socket) {
    ASSERT_TRUE(ReceiveRequest(socket, &seen));
    std::vector<uint8_t> answer = MakeRecordAnswer(seen.time, answerPlain);
    ASSERT_TRUE(platform::NetSendAll(socket, answer.data(), answer.size(), 5000));
  });
  PointAt(server.endpoint());
  const std::vector<uint8_t> prefix = Counting(64, 1);
  const std::vector<uint8_t> request = Counting(32, 0x40);

  uint32_t before = static_cast<uint32_t>(platform::UnixNow());
  std::vector<uint8_t> answer;
  int result = serverlink::SendMessageToServer(serverlink::kOperationInSession, request, &answer, prefix.data());
  uint32_t after = static_cast<uint32_t>(platform::UnixNow());
  ASSERT_TRUE(server.WaitServed(1));

  // 64 + 32 bytes announced as L = 96; 9 + 96 bytes on the wire.
  ASSERT_EQ(seen.raw.size(), 105u);
  EXPECT_EQ(seen.operation, 0xAC);
  EXPECT_EQ(seen.length, 96u);
  EXPECT_GE(seen.time, before);
  EXPECT_LE(seen.time, after);
  std::vector<uint8_t> body = prefix;
  body.insert(body.end(), request.begin(), request.end());
  EXPECT_EQ(seen.plain, body);
  EXPECT_NE(std::vector<uint8_t>(seen.raw.begin() + 9, seen.raw.end()), body);  // enciphered

  // 9 + 32 bytes come back as 41: bytes 1-4 hold T, bytes 9-40 deciphered.
  ASSERT_EQ(result, 41);
  ASSERT_EQ(answer.size(), 41u);
  EXPECT_EQ(answer[0], 0xAD);
  EXPECT_EQ(TimeOfAnswer(answer), seen.time);
  EXPECT_EQ(answer[5], 0x55);  // the server's bytes 5-8 stay
  EXPECT_EQ(answer[8], 0x88);
  EXPECT_EQ(std::vector<uint8_t>(answer.begin() + 9, answer.end()), answerPlain);

  std::string logged = LogText();
  for (const char* text : {"SMTS", "Соединение установлено", "Соединение завершено", "SMTS - end"}) {
    EXPECT_NE(logged.find(text), std::string::npos) << text;
  }
}

TEST_F(Transport, SessionStartHasNoPrefix) {
  ReceivedRequest seen;
  LoopbackServer server([&](platform::Socket& socket) { ReceiveRequest(socket, &seen); });
  PointAt(server.endpoint());
  const std::vector<uint8_t> request = Counting(48, 7);
  crypto::DataBlock answer = crypto::MakeBlock({1, 2, 3});  // emptied: nothing came back
  EXPECT_EQ(serverlink::SendMessageToServer(serverlink::kOperationSessionStart, crypto::MakeBlock(request),
                                            &answer),
            0);
  EXPECT_EQ(answer.count, 0u);
  ASSERT_TRUE(server.WaitServed(1));
  ASSERT_EQ(seen.raw.size(), 57u);
  EXPECT_EQ(seen.operation, 0xB1);
  EXPECT_EQ(seen.length, 48u);
  EXPECT_EQ(seen.plain, request);
}

TEST_F(Transport, RequestOfBadLengthIsRefusedAndNothingIsSent) {
  LoopbackServer server([](platform::Socket&) {});
  PointAt(server.endpoint());
  std::vector<uint8_t> answer = {1, 2, 3};
  EXPECT_EQ(serverlink::SendMessageToServer(0xAC, std::vector<uint8_t>(15, 1), &answer, nullptr), -100);
  EXPECT_TRUE(answer.empty());
  EXPECT_EQ(serverlink::SendMessageToServer(0xAC, std::vector<uint8_t>(), &answer, nullptr), -100);
  EXPECT_EQ(serverlink::SendMessageToServer(0xAC, std::vector<uint8_t>(33, 1), &answer, nullptr), -100);
  platform::SleepMs(100);
  EXPECT_EQ(server.accepted(), 0);
  EXPECT_NE(LogText().find("Неправильная длина сообщения"), std::string::npos);
}

TEST_F(Transport, PlainAnswersAreReturnedAsReceived) {
  for (uint8_t kind : {uint8_t{0xFF}, uint8_t{0xAE}}) {
    const std::vector<uint8_t> plain = {kind, 0x07, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0x01, 0x02, 0x03};
    LoopbackServer server([&](platform::Socket& socket) {
      ReceivedRequest seen;
      ASSERT_TRUE(ReceiveRequest(socket, &seen));
      platform::NetSendAll(socket, plain.data(), plain.size(), 5000);
    });
    PointAt(server.endpoint());
    std::vector<uint8_t> answer;
    EXPECT_EQ(serverlink::SendMessageToServer(0xAC, Counting(16, 0), &answer, Counting(64, 0).data()),
              static_cast<int>(plain.size()));
    EXPECT_EQ(answer, plain) << int{kind};
  }
}

TEST_F(Transport, TrailingPartOfABlockIsDroppedAndLogged) {
  const std::vector<uint8_t> answerPlain = Counting(32, 0x10);
  LoopbackServer server([&](platform::Socket& socket) {
    ReceivedRequest seen;
    ASSERT_TRUE(ReceiveRequest(socket, &seen));
    std::vector<uint8_t> answer = MakeRecordAnswer(seen.time, answerPlain);
    answer.insert(answer.end(), {1, 2, 3, 4, 5});
    platform::NetSendAll(socket, answer.data(), answer.size(), 5000);
  });
  PointAt(server.endpoint());
  std::vector<uint8_t> answer;
  ASSERT_EQ(serverlink::SendMessageToServer(0xAC, Counting(16, 0), &answer), 41);
  EXPECT_EQ(std::vector<uint8_t>(answer.begin() + 9, answer.end()), answerPlain);
  EXPECT_NE(LogText().find("Неполный блок в конце ответа отброшен - 5"), std::string::npos);
}

TEST_F(Transport, ServerThatClosesWithoutAnsweringGivesZero) {
  // At once, before the request arrives.
  {
    LoopbackServer server([](platform::Socket&) {});
    PointAt(server.endpoint());
    std::vector<uint8_t> answer;
    EXPECT_EQ(serverlink::SendMessageToServer(0xAC, Counting(32, 0), &answer), 0);
    EXPECT_TRUE(answer.empty());
  }
  // After reading the request.
  LoopbackServer server([](platform::Socket& socket) {
    ReceivedRequest seen;
    ReceiveRequest(socket, &seen);
  });
  PointAt(server.endpoint());
  std::vector<uint8_t> answer;
  EXPECT_EQ(serverlink::SendMessageToServer(0xAC, Counting(32, 0), &answer), 0);
}

TEST_F(Transport, GarbageIsDecipheredInWholeBlocksLikeAnyAnswer) {
  std::vector<uint8_t> garbage(100);
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(i * 37 + 11);
  garbage[0] = 0x01;
  uint32_t time = 0;
  LoopbackServer server([&](platform::Socket& socket) {
    ReceivedRequest seen;
    ASSERT_TRUE(ReceiveRequest(socket, &seen));
    time = seen.time;
    platform::NetSendAll(socket, garbage.data(), garbage.size(), 5000);
  });
  PointAt(server.endpoint());
  std::vector<uint8_t> answer;
  ASSERT_EQ(serverlink::SendMessageToServer(0xAC, Counting(16, 0), &answer), 9 + 80);
  ASSERT_TRUE(server.WaitServed(1));
  EXPECT_EQ(answer[0], 0x01);
  EXPECT_EQ(TimeOfAnswer(answer), time);
  uint8_t key[serverlink::kOuterKeyBytes];
  ASSERT_TRUE(serverlink::MakeOuterKey(time, key));
  std::vector<uint8_t> expected = serverlink::Xtea128Crypt(
      std::vector<uint8_t>(garbage.begin() + 9, garbage.begin() + 89), key, serverlink::XteaDirection::Decrypt);
  EXPECT_EQ(std::vector<uint8_t>(answer.begin() + 9, answer.end()), expected);
}

TEST_F(Transport, AnEncipheredAnswerShorterThanTheHeaderFailsAPlainOneNeedsKindAndCode) {
  struct Case {
    std::vector<uint8_t> bytes;  // what the server answers
    int result;                  // what the call returns
  };
  for (const Case& c : {Case{{0xAD, 1, 2, 3, 4}, -1}, Case{{0xFF}, -1}, Case{{0xFF, 12}, 2}, Case{{0xAE, 0}, 2}}) {
    LoopbackServer server([&](platform::Socket& socket) {
      ReceivedRequest seen;
      ASSERT_TRUE(ReceiveRequest(socket, &seen));
      platform::NetSendAll(socket, c.bytes.data(), c.bytes.size(), 5000);
    });
    PointAt(server.endpoint());
    std::vector<uint8_t> answer;
    EXPECT_EQ(serverlink::SendMessageToServer(0xAC, Counting(16, 0), &answer), c.result) << int{c.bytes[0]};
    EXPECT_EQ(answer, c.result > 0 ? c.bytes : std::vector<uint8_t>());
  }
}

TEST_F(Transport, EndlessStreamIsCutOffAtTheAnswerLimit) {
  std::atomic<int64_t> sent{0};
  {
    LoopbackServer server([&](platform::Socket& socket) {
      ReceivedRequest seen;
      ASSERT_TRUE(ReceiveRequest(socket, &seen));
      std::vector<uint8_t> chunk(1 << 20, 0x42);
      while (sent < (100 << 20) && platform::NetSendAll(socket, chunk.data(), chunk.size(), 5000)) {
        sent += static_cast<int64_t>(chunk.size());
      }
    });
    PointAt(server.endpoint());
    std::vector<uint8_t> answer;
    EXPECT_EQ(serverlink::SendMessageToServer(0xAC, Counting(16, 0), &answer), -1);
    EXPECT_TRUE(answer.empty());
    EXPECT_NE(LogText().find("Ответ сервера длиннее допустимого"), std::string::npos);
  }  // waits for the script to notice that the client is gone
  EXPECT_LT(sent.load(), 100 << 20);  // the client stopped reading
}

TEST_F(Transport, SilenceEndsTheCallAtTheReceiveLimit) {
  serverlink::SetTransportLimits(serverlink::TransportLimits{5000, 300, kTestLimits.maxAnswerBytes});
  // Silent from the start: nothing received.
  {
    LoopbackServer server([](platform::Socket& socket) {
      ReceivedRequest seen;
      ReceiveRequest(socket, &seen);
      ReceiveUntilClosed(socket, 5000);  // until the client gives up
    });
    PointAt(server.endpoint());
    std::vector<uint8_t> answer;
    int64_t start = platform::MonotonicMs();
    EXPECT_EQ(serverlink::SendMessageToServer(0xAC, Counting(16, 0), &answer), 0);
    int64_t waited = platform::MonotonicMs() - start;
    EXPECT_GE(waited, 250);
    EXPECT_LT(waited, 4000);
    EXPECT_NE(LogText().find("recv failed"), std::string::npos);
  }
  // Silent after a part of the answer: a failure, not a short answer.
  LoopbackServer server([](platform::Socket& socket) {
    ReceivedRequest seen;
    ASSERT_TRUE(ReceiveRequest(socket, &seen));
    std::vector<uint8_t> answer = MakeRecordAnswer(seen.time, std::vector<uint8_t>(64, 1));
    platform::NetSendAll(socket, answer.data(), 30, 5000);
    ReceiveUntilClosed(socket, 5000);
  });
  PointAt(server.endpoint());
  std::vector<uint8_t> answer;
  EXPECT_EQ(serverlink::SendMessageToServer(0xAC, Counting(16, 0), &answer), -1);
  EXPECT_TRUE(answer.empty());
}

TEST_F(Transport, UnreachableServerFails) {
  PointAt("127.0.0.1:" + std::to_string(FreePort()));
  std::vector<uint8_t> answer;
  EXPECT_EQ(serverlink::SendMessageToServer(0xAC, Counting(16, 0), &answer), -1);
  EXPECT_NE(LogText().find("Connection Error"), std::string::npos);

  PointAt("127.0.0.1:no-such-service");
  EXPECT_EQ(serverlink::SendMessageToServer(0xAC, Counting(16, 0), &answer), -1);
  EXPECT_NE(LogText().find("getaddrinfo error"), std::string::npos);
}

TEST_F(Transport, FailedSystemCallsEndTheCall) {
  Releases released;
  int served = 0;
  const std::vector<uint8_t> ready = {0xFF, 9, 9, 9, 9, 9, 9, 9, 9};
  // The faults are process-wide: the script makes no call that consults
  // them before the client has finished the call of its connection.
  LoopbackServer server([&](platform::Socket& socket) {
    ++served;
    released.WaitFor(served < 2 ? served : 2);
    std::vector<uint8_t> request;
    ReceiveExact(socket, 9 + 16, &request, 1000);
    platform::NetSendAll(socket, ready.data(), ready.size(), 5000);
  });
  PointAt(server.endpoint());
  std::vector<uint8_t> answer;

  platform::InjectFault(platform::Syscall::Connect, ECONNREFUSED, 1);
  EXPECT_EQ(serverlink::SendMessageToServer(0xAC, Counting(16, 0), &answer), -1);
  EXPECT_EQ(server.accepted(), 0);

  // A failed send ends the call: no answer is awaited.
  platform::InjectFault(platform::Syscall::Send, EPIPE, 1);
  EXPECT_EQ(serverlink::SendMessageToServer(0xAC, Counting(16, 0), &answer), -1);
  EXPECT_NE(LogText().find("Ошибка отправки"), std::string::npos);
  released.Raise();
  ASSERT_TRUE(server.WaitServed(1));  // its receive must not meet the next fault

  // A receive that fails before the first byte: nothing received.
  platform::InjectFault(platform::Syscall::Recv, ECONNRESET, 1);
  EXPECT_EQ(serverlink::SendMessageToServer(0xAC, Counting(16, 0), &answer), 0);
  EXPECT_TRUE(answer.empty());
  EXPECT_NE(LogText().find(core::Format("recv failed %d", ECONNRESET)), std::string::npos);  // not a timeout
  released.Raise();

  // With nothing armed the same server's answer arrives.
  EXPECT_EQ(serverlink::SendMessageToServer(0xAC, Counting(16, 0), &answer), 9);
  EXPECT_EQ(answer, ready);
}

TEST_F(Transport, ConcurrentCallsEachGetTheirOwnAnswer) {
  // The server answers every request with its own deciphered body.
  LoopbackServer server([](platform::Socket& socket) {
    ReceivedRequest seen;
    if (!ReceiveRequest(socket, &seen)) return;
    std::vector<uint8_t> answer = MakeRecordAnswer(seen.time, seen.plain);
    platform::NetSendAll(socket, answer.data(), answer.size(), 5000);
  });
  PointAt(server.endpoint());
  std::vector<std::thread> threads;
  std::atomic<int> matched{0};
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([t, &matched] {
      for (int round = 0; round < 5; ++round) {
        std::vector<uint8_t> request = Counting(16 * static_cast<size_t>(1 + t), static_cast<uint8_t>(t * 40 + round));
        std::vector<uint8_t> answer;
        int result = serverlink::SendMessageToServer(0xAC, request, &answer);
        if (result == static_cast<int>(9 + request.size()) &&
            std::equal(request.begin(), request.end(), answer.begin() + 9)) {
          ++matched;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(matched.load(), 30);
}

TEST_F(Transport, ServerAddressComesFromTheBuildOrTheEnvironment) {
  serverlink::ServerEndpoint endpoint = serverlink::ServerAddress();
  EXPECT_EQ(endpoint.host, TESSARIN_TEST_SERVER_HOST);
  EXPECT_EQ(endpoint.port, TESSARIN_TEST_SERVER_PORT);
  PointAt("10.1.2.3:4567");
  endpoint = serverlink::ServerAddress();
  EXPECT_EQ(endpoint.host, "10.1.2.3");
  EXPECT_EQ(endpoint.port, "4567");
  for (const char* bad : {"no-port", "host:", ":1080"}) {
    PointAt(bad);
    endpoint = serverlink::ServerAddress();
    EXPECT_EQ(endpoint.host, TESSARIN_TEST_SERVER_HOST) << bad;
    EXPECT_EQ(endpoint.port, TESSARIN_TEST_SERVER_PORT) << bad;
  }
}

}  // namespace
}  // namespace link_test
