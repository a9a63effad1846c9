// The admin API of the simulator: a small HTTP+JSON server on a second
// loopback port, through which tests and the demo register organisations,
// put messages into mailboxes, look at mailboxes and at what was received,
// arm faults, move the clock, publish a program version and read the
// counters. The routes are listed in README.md. Started by main.
#pragma once

#include <atomic>
#include <cstdint>

namespace aissim {

// Starts the API on 127.0.0.1:port (0 picks a free port) on a thread of
// its own. Returns the port, or 0 when it could not listen. POST /shutdown
// sets `stop`.
int StartAdmin(int port, std::atomic<bool>* stop);

// Stops the API and waits for its thread.
void StopAdmin();

}  // namespace aissim
