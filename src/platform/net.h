// TCP sockets: the client's connections to the server and its proxies, and
// the listening sockets of the local web interface and of test servers.
//
// Plain blocking sockets. Every wait has a limit in milliseconds (a
// negative limit waits for ever). A failed call returns false, -1 or an
// invalid socket and leaves the raw system code in LastSystemError(); a wait
// that ran out leaves ETIMEDOUT (WSAETIMEDOUT on Windows), whose kind is
// ErrorKind::TimedOut. Connect, send and receive consult the fault table
// (fault_injection.h) first. Any thread may use any socket it owns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

struct Socket {
  intptr_t handle = -1;  // file descriptor on Linux, SOCKET on Windows
};

inline bool SocketValid(const Socket& socket) { return socket.handle >= 0; }

// An IPv4 address and port, both as numbers in host order.
struct NetAddress {
  uint32_t ipv4 = 0;  // e.g. 0x7F000001 for 127.0.0.1
  uint16_t port = 0;  // TCP port
};

// Resolves a host name or dotted address and a port text for IPv4, stream,
// TCP, and takes the first address. Returns 0, or the resolver's own code
// (a getaddrinfo code on Linux), which is also left in LastSystemError().
int NetResolve(const std::string& host, const std::string& port, NetAddress* address);

// "a.b.c.d" of an address.
std::string NetAddressText(uint32_t ipv4);

// A new IPv4 TCP connection, established within timeoutMs. The socket is
// invalid on failure. A nonzero fromIpv4 is the local address the
// connection leaves from (another loopback address, for instance).
Socket NetConnect(const NetAddress& address, int timeoutMs, uint32_t fromIpv4 = 0);

// Sends every byte, waiting at most timeoutMs for the peer to take each
// part. False on failure; the peer may have received a part.
bool NetSendAll(const Socket& socket, const void* data, size_t size, int timeoutMs);

// One send call: the number of bytes the system took, or -1.
int64_t NetSendOnce(const Socket& socket, const void* data, size_t size);

// Waits at most timeoutMs for data and receives what is there, at most
// `capacity` bytes: the count (> 0), 0 when the peer has closed its side,
// -1 on failure or when the wait ran out (ETIMEDOUT).
int64_t NetRecv(const Socket& socket, void* buffer, size_t capacity, int timeoutMs);

// Ends sending on the connection (the peer reads the end) while still
// receiving.
bool NetShutdownSend(const Socket& socket);

// Closes the socket (nothing happens for an invalid one) and makes it
// invalid.
void NetClose(Socket* socket);

// A listening socket with SO_REUSEADDR on the loopback address (127.0.0.1)
// or on every address; port 0 takes a free port, which NetLocalPort tells.
// The same as NetBind followed by NetStartListening.
Socket NetListen(bool loopbackOnly, uint16_t port, int backlog);

// The two steps of NetListen, for a caller that tells their failures
// apart: a socket with SO_REUSEADDR bound to the port (invalid on failure),
// then listening on it with the backlog (false on failure).
Socket NetBind(bool loopbackOnly, uint16_t port);
bool NetStartListening(const Socket& socket, int backlog);

// The raw bytes of the socket's SO_LINGER option as the system gives them
// (struct linger); false on failure.
bool NetLingerBytes(const Socket& socket, std::string* bytes);

// The local port a socket is bound to; 0 on failure.
uint16_t NetLocalPort(const Socket& socket);

// Waits at most timeoutMs for the next connection. The socket is invalid
// on failure or when the wait ran out; *peer (when given) receives the
// peer's address.
Socket NetAccept(const Socket& listener, int timeoutMs, NetAddress* peer = nullptr);

}  // namespace platform
