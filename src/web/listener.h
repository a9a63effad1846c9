// The local web interface's listener: a thread that accepts the page's
// connections on the loopback address and lends each to a worker thread of
// its own (worker.h), at most 200 at a time. Started by the shell's
// EnableWebInterface when the web interface is on; once the main instance
// holds its lock (WatchInstanceLock), it ends with the first connection
// accepted after that lock has gone, or when StopWebListener asks. Transport described in docs/web-listener.md.
#pragma once

#include <cstdint>
#include <string>

#include "web/worker.h"

namespace web {

constexpr uint16_t kWebPort = 39477;     // the product's port
constexpr int kWebSlots = 200;           // connections served at once
constexpr int kWebBacklog = kWebSlots;   // connections waiting for a slot
constexpr int kWebListenerExitCode = 99; // the listener thread's exit code

// The port to listen on: kWebPort, or the environment variable
// TESSARIN_WEB_PORT (a decimal port; 0 takes a free one, which the log
// tells), meant for tests and special set-ups that cannot have the
// product's port; other values are logged and ignored.
uint16_t WebPort();

// Binds 127.0.0.1:port (port 0 takes a free one), listens and starts the
// listener thread, which hands each request to `handler`. The lock it
// watches is the one of the program folder at this call. False when the
// socket cannot be bound or listened on or the thread cannot start (all
// logged); true at once while a listener already runs.
bool StartWebListener(WebHandler handler, uint16_t port);

// From now on the listener ends with the first connection accepted after
// the lock of the program folder has gone. The client starts the listener
// before it takes that lock; a connection in between is served, where
// checking the lock before it was taken would end the listener for the
// whole run. Called once the lock is held; StartWebListener forgets it.
void WatchInstanceLock();

// The port the running listener is bound to; 0 when none runs.
uint16_t WebListenerPort();

// The listener thread's exit code once it has ended (kWebListenerExitCode);
// -1 while it runs or when none was started.
int WebListenerExitCode();

// Asks the listener to end, waits for it and, at most 30 s, for every
// worker: for tests and for the end of a process. False when a worker still
// runs. A later StartWebListener starts anew.
bool StopWebListener();

// Connections lent to workers now.
int WebConnectionsOpen();

}  // namespace web
