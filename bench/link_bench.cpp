// Requests per second of SendMessageToServer with a 1 KB body against a
// loopback server that answers in the server's format (header, body
// deciphered, a 1 KB answer enciphered under the outer key), beside a plain
// connect / send / receive / close loop against the same server. The ratio
// shows what the header, the outer key, the ciphers and the log lines cost.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "link/transport.h"
#include "loopback_server.h"
#include "platform/net.h"
#include "test_support.h"

namespace {

// The server and the log folder, made once for the whole run.
struct Bench {
  test_support::ScopedLogFolder log;  // the SMTS lines go here
  link_test::LoopbackServer server{[](platform::Socket& socket) {
    link_test::ReceivedRequest request;
    if (!link_test::ReceiveRequest(socket, &request)) return;
    std::vector<uint8_t> answer = link_test::MakeRecordAnswer(request.time, std::vector<uint8_t>(1024, 0x5A));
    platform::NetSendAll(socket, answer.data(), answer.size(), 5000);
  }};
  Bench() { setenv("TESSARIN_SERVER", server.endpoint().c_str(), 1); }
};

Bench& Shared() {
  static Bench* bench = new Bench();  // lives to the end of the process
  return *bench;
}

void BM_SendMessageToServer(benchmark::State& state) {
  Shared();
  const std::vector<uint8_t> request(1024, 0x3C);
  const std::vector<uint8_t> prefix(64, 0xA5);
  std::vector<uint8_t> answer;
  for (auto _ : state) {
    int result = serverlink::SendMessageToServer(serverlink::kOperationInSession, request, &answer, prefix.data());
    if (result != 9 + 1024) {
      state.SkipWithError("the exchange failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["requests/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SendMessageToServer)->UseRealTime()->MinTime(2.0);

void BM_PlainExchange(benchmark::State& state) {
  Bench& bench = Shared();
  platform::NetAddress address{0x7F000001, bench.server.port()};
  // The same bytes on the wire: a header and 64 + 1024 body bytes, sent
  // unenciphered (the server deciphers whatever arrives).
  std::vector<uint8_t> message(9 + 64 + 1024, 0x3C);
  message[0] = serverlink::kOperationInSession;
  message[1] = message[3] = message[6] = 0;
  message[7] = static_cast<uint8_t>((64 + 1024) & 0xFF);
  message[6] = static_cast<uint8_t>((64 + 1024) >> 8);
  std::vector<uint8_t> buffer(12800);
  for (auto _ : state) {
    platform::Socket socket = platform::NetConnect(address, 5000);
    bool ok = platform::SocketValid(socket) && platform::NetSendAll(socket, message.data(), message.size(), 5000);
    size_t received = 0;
    for (int64_t got = 1; ok && got > 0;) {
      got = platform::NetRecv(socket, buffer.data(), buffer.size(), 5000);
      if (got > 0) received += static_cast<size_t>(got);
      if (got < 0) ok = false;
    }
    platform::NetClose(&socket);
    if (!ok || received != 9 + 1024) {
      state.SkipWithError("the plain exchange failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["requests/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PlainExchange)->UseRealTime()->MinTime(2.0);

}  // namespace
