// The simulator's TCP side: a loopback listener and one thread per
// connection, up to a cap. Each connection carries one request: the
// 9-byte header, the body, the answer, then the connection is closed.
// Every wait on the peer has a limit, a whole request has a deadline, and
// the bodies held at once share a byte budget, so slow, silent or
// oversized clients cost a thread for a bounded time and bounded memory.
// Why a thread per connection is in README.md. Called by main.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "handler.h"
#include "platform/net.h"

namespace aissim {

struct ServerSettings {
  int ioTimeoutMs = 10000;            // longest silence of a peer within a request
  int requestDeadlineMs = 30000;      // longest time to receive one whole request
  int maxConnections = 1024;          // connections served at once; more are closed at once
  uint32_t maxBody = kDefaultMaxBody; // longest request body
  size_t bodyBudget = 256u << 20;     // bytes of request bodies held at once
};

// Accepts and serves connections on the listener until `stop` is set,
// then waits (at most ioTimeoutMs) for the connections in progress.
void RunServer(const platform::Socket& listener, const ServerSettings& settings, const std::atomic<bool>& stop);

// Connections being served right now.
int ActiveConnections();

}  // namespace aissim
