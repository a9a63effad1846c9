// The socket layer the transport stands on: resolving, connecting,
// listening, waits that run out, half-closing and armed faults.
#include "platform/net.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "loopback_server.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/fault_injection.h"

namespace {

constexpr uint32_t kLoopback = 0x7F000001;

TEST(Net, ResolvesDottedAddressesAndRefusesBadPorts) {
  platform::NetAddress address;
  ASSERT_EQ(platform::NetResolve("127.0.0.1", "1080", &address), 0);
  EXPECT_EQ(address.ipv4, kLoopback);
  EXPECT_EQ(address.port, 1080);
  EXPECT_EQ(platform::NetAddressText(0x0A010203), "10.1.2.3");
  int code = platform::NetResolve("127.0.0.1", "not-a-port", &address);
  EXPECT_NE(code, 0);
  EXPECT_EQ(platform::LastSystemError(), code);
}

TEST(Net, ListenConnectSendReceiveAndHalfClose) {
  platform::Socket listener = platform::NetListen(true, 0, 4);
  ASSERT_TRUE(platform::SocketValid(listener));
  uint16_t port = platform::NetLocalPort(listener);
  ASSERT_NE(port, 0);

  platform::Socket client = platform::NetConnect(platform::NetAddress{kLoopback, port}, 2000);
  ASSERT_TRUE(platform::SocketValid(client));
  platform::NetAddress peer;
  platform::Socket server = platform::NetAccept(listener, 2000, &peer);
  ASSERT_TRUE(platform::SocketValid(server));
  EXPECT_EQ(peer.ipv4, kLoopback);

  const char hello[] = "hello";
  EXPECT_EQ(platform::NetSendOnce(client, hello, 5), 5);
  EXPECT_TRUE(platform::NetShutdownSend(client));
  char buffer[16] = {};
  EXPECT_EQ(platform::NetRecv(server, buffer, sizeof(buffer), 2000), 5);
  EXPECT_EQ(std::string(buffer, 5), "hello");
  EXPECT_EQ(platform::NetRecv(server, buffer, sizeof(buffer), 2000), 0);  // the client's end

  // The other direction still works after the half-close.
  std::vector<uint8_t> big(1 << 20, 0x61);
  std::thread sender([&] { EXPECT_TRUE(platform::NetSendAll(server, big.data(), big.size(), 5000)); });
  std::vector<uint8_t> got;
  EXPECT_TRUE(link_test::ReceiveExact(client, big.size(), &got));
  sender.join();
  EXPECT_EQ(got, big);

  platform::NetClose(&client);
  EXPECT_FALSE(platform::SocketValid(client));
  platform::NetClose(&client);  // closing twice does nothing
  platform::NetClose(&server);
  platform::NetClose(&listener);
}

TEST(Net, WaitsRunOutWithTheTimeoutCode) {
  platform::Socket listener = platform::NetListen(true, 0, 4);
  uint16_t port = platform::NetLocalPort(listener);
  int64_t start = platform::MonotonicMs();
  platform::Socket none = platform::NetAccept(listener, 100);
  EXPECT_FALSE(platform::SocketValid(none));
  EXPECT_EQ(platform::ErrorKindOf(platform::LastSystemError()), platform::ErrorKind::TimedOut);
  EXPECT_GE(platform::MonotonicMs() - start, 90);

  platform::Socket client = platform::NetConnect(platform::NetAddress{kLoopback, port}, 2000);
  platform::Socket server = platform::NetAccept(listener, 2000);
  char byte = 0;
  EXPECT_EQ(platform::NetRecv(client, &byte, 1, 100), -1);
  EXPECT_EQ(platform::ErrorKindOf(platform::LastSystemError()), platform::ErrorKind::TimedOut);
  platform::NetClose(&client);
  platform::NetClose(&server);
  platform::NetClose(&listener);
}

TEST(Net, RefusedConnectionsAndArmedFaults) {
  uint16_t port = link_test::FreePort();
  platform::Socket refused = platform::NetConnect(platform::NetAddress{kLoopback, port}, 2000);
  EXPECT_FALSE(platform::SocketValid(refused));
#ifdef _WIN32
  EXPECT_EQ(platform::LastSystemError(), 10061);  // WSAECONNREFUSED
#else
  EXPECT_EQ(platform::LastSystemError(), ECONNREFUSED);
#endif

  platform::Socket listener = platform::NetListen(false, 0, 4);  // every address
  ASSERT_TRUE(platform::SocketValid(listener));
  port = platform::NetLocalPort(listener);
  platform::InjectFault(platform::Syscall::Connect, ENETUNREACH, 1);
  platform::Socket client = platform::NetConnect(platform::NetAddress{kLoopback, port}, 2000);
  EXPECT_FALSE(platform::SocketValid(client));
  EXPECT_EQ(platform::LastSystemError(), ENETUNREACH);

  client = platform::NetConnect(platform::NetAddress{kLoopback, port}, 2000);  // the fault is used up
  ASSERT_TRUE(platform::SocketValid(client));
  platform::Socket server = platform::NetAccept(listener, 2000);
  platform::InjectFault(platform::Syscall::Send, EPIPE, 1);
  EXPECT_FALSE(platform::NetSendAll(client, "x", 1, 1000));
  EXPECT_EQ(platform::LastSystemError(), EPIPE);
  platform::InjectFault(platform::Syscall::Send, EPIPE, 1);
  EXPECT_EQ(platform::NetSendOnce(client, "x", 1), -1);
  platform::InjectFault(platform::Syscall::Recv, ECONNRESET, 1);
  char byte = 0;
  EXPECT_EQ(platform::NetRecv(server, &byte, 1, 1000), -1);
  EXPECT_EQ(platform::LastSystemError(), ECONNRESET);
  platform::ClearFaults();
  platform::NetClose(&client);
  platform::NetClose(&server);
  platform::NetClose(&listener);
}

}  // namespace
