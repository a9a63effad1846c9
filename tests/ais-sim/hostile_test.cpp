// Hostile clients against the simulator process: truncated headers,
// absurd lengths, garbage, half-open and silent connections, more
// connections than the cap and 500 connections at once. The simulator
// must refuse or drop them and go on serving real clients.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <thread>
#include <vector>

#include "link/envelope.h"
#include "platform/net.h"
#include "sim_client.h"

namespace sim_test {
namespace {

class SimHostileTest : public SimTest {
 protected:
  platform::Socket Open() {
    platform::NetAddress address{0x7F000001, static_cast<uint16_t>(sim->port())};
    platform::Socket socket = platform::NetConnect(address, 5000);
    EXPECT_TRUE(platform::SocketValid(socket));
    return socket;
  }

  // Sends the bytes, ends sending, and reads until the simulator closes
  // (at most the timeout); what came back.
  Bytes Exchange(const Bytes& bytes, int timeoutMs = 5000) {
    platform::Socket socket = Open();
    if (!bytes.empty()) platform::NetSendAll(socket, bytes.data(), bytes.size(), 5000);
    platform::NetShutdownSend(socket);
    Bytes received = ReadToEnd(socket, timeoutMs);
    platform::NetClose(&socket);
    return received;
  }

  static Bytes ReadToEnd(const platform::Socket& socket, int timeoutMs) {
    Bytes received;
    uint8_t chunk[4096];
    for (;;) {
      int64_t got = platform::NetRecv(socket, chunk, sizeof chunk, timeoutMs);
      if (got <= 0) break;
      received.insert(received.end(), chunk, chunk + got);
    }
    return received;
  }

  static Bytes Header(uint8_t operation, uint32_t length) {
    Bytes header(serverlink::kHeaderBytes);
    serverlink::WriteRequestHeader({operation, length, static_cast<uint32_t>(std::time(nullptr))}, header.data());
    return header;
  }

  // A real client still gets answers.
  void ExpectServing() {
    Session session = Connect(PkiOrg("alpha"));
    EXPECT_EQ(Call(session, Request(40)).code, 101) << SimLog();
  }
};

TEST_F(SimHostileTest, BadHeadersAreRefusedUnreadWithCode11) {
  const Bytes refused = {0xFF, 11, 0, 0, 0, 0, 0, 0, 0};
  // An absurd length, announced but never sent.
  EXPECT_EQ(Exchange(Header(0xAC, 0xFFFFFFF0u)), refused);
  // Lengths that are no multiple of 16, zero, or leave no frame after the
  // session identifier; an unknown operation byte.
  EXPECT_EQ(Exchange(Header(0xB1, 33)), refused);
  EXPECT_EQ(Exchange(Header(0xB1, 0)), refused);
  EXPECT_EQ(Exchange(Header(0xAC, 64)), refused);
  EXPECT_EQ(Exchange(Header(0x17, 16)), refused);
  // Above the configured limit.
  StartSim({"--max-body", "4096"});
  EXPECT_EQ(Exchange(Header(0xB1, 4112)), refused);
  EXPECT_GE(sim->Counter("refused.header"), 1);
  ExpectServing();
}

TEST_F(SimHostileTest, GarbageBodiesAreRefusedAndShortOnesDropped) {
  Bytes garbage = Header(0xB1, 64);
  for (int i = 0; i < 64; ++i) garbage.push_back(static_cast<uint8_t>(i * 37 + 11));
  EXPECT_EQ(Exchange(garbage), (Bytes{0xFF, 11, 0, 0, 0, 0, 0, 0, 0}));

  // Garbage within a "session": the identifier is nobody's.
  Bytes session = Header(0xAC, 96);
  session.resize(session.size() + 96, 0x5A);
  EXPECT_EQ(Exchange(session), (Bytes{0xFF, 7, 0, 0, 0, 0, 0, 0, 0}));

  // A header cut short, a body cut short: closed without answer.
  EXPECT_TRUE(Exchange({0xB1, 0, 0}).empty());
  Bytes shortBody = Header(0xB1, 160);
  shortBody.resize(shortBody.size() + 40, 1);
  EXPECT_TRUE(Exchange(shortBody).empty());
  EXPECT_EQ(sim->Counter("connections.short_header"), 1);
  EXPECT_EQ(sim->Counter("connections.short_body"), 1);
  ExpectServing();
}

TEST_F(SimHostileTest, SilentAndHalfOpenConnectionsAreClosedAfterTheTimeout) {
  StartSim({"--io-timeout", "300", "--request-deadline", "2000"});
  platform::Socket silent = Open();
  platform::Socket halfHeader = Open();
  platform::NetSendAll(halfHeader, "\xB1\x00", 2, 1000);
  // A client that trickles a byte at a time is cut off by the deadline.
  platform::Socket trickle = Open();
  Bytes request = Header(0xB1, 160);
  request.resize(request.size() + 160, 0);
  bool closed = false;
  for (size_t i = 0; i < request.size() && !closed; ++i) {
    closed = !platform::NetSendAll(trickle, &request[i], 1, 1000);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  // The simulator has closed all three: reading ends with no answer.
  EXPECT_TRUE(ReadToEnd(silent, 3000).empty());
  EXPECT_TRUE(ReadToEnd(halfHeader, 3000).empty());
  EXPECT_TRUE(ReadToEnd(trickle, 3000).empty());
  platform::NetClose(&silent);
  platform::NetClose(&halfHeader);
  platform::NetClose(&trickle);
  EXPECT_EQ(sim->Counter("connections.timed_out"), 3) << SimLog();
  ExpectServing();
}

TEST_F(SimHostileTest, FiveHundredConnectionsAtOnce) {
  // 500 connections that send half a header and wait, all open together.
  std::vector<platform::Socket> held;
  for (int i = 0; i < 500; ++i) {
    held.push_back(Open());
    platform::NetSendAll(held.back(), "\xAC\x00\x00\x00", 4, 1000);
  }
  for (int i = 0; i < 750 && sim->Get("/status").body.value("activeConnections", 0) < 500; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(sim->Get("/status").body["activeConnections"], 500);
  // Real clients are served meanwhile.
  ExpectServing();
  for (platform::Socket& socket : held) platform::NetClose(&socket);
  for (int i = 0; i < 750 && sim->Get("/status").body.value("activeConnections", -1) != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(sim->Get("/status").body["activeConnections"], 0);
  EXPECT_EQ(sim->Counter("connections.short_header"), 500);
  EXPECT_TRUE(sim->Running());
}

TEST_F(SimHostileTest, ConnectionsAboveTheCapAreClosedAtOnce) {
  StartSim({"--max-connections", "20"});
  std::vector<platform::Socket> held;
  for (int i = 0; i < 40; ++i) held.push_back(Open());
  // The twenty above the cap are closed without a byte; the others wait
  // for their header.
  int closedAtOnce = 0;
  for (platform::Socket& socket : held) {
    uint8_t byte;
    if (platform::NetRecv(socket, &byte, 1, 100) == 0) ++closedAtOnce;
  }
  EXPECT_EQ(closedAtOnce, 20);
  EXPECT_EQ(sim->Counter("connections.over_cap"), 20);
  for (platform::Socket& socket : held) platform::NetClose(&socket);
  ExpectServing();
}

}  // namespace
}  // namespace sim_test
