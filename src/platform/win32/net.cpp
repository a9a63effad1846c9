// TCP sockets on Windows (see net.h): Winsock 2.2, started once for the
// process on first use. Every socket is non-blocking and every wait is a
// select() with the caller's limit.
#include "platform/net.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>

#include "platform/clock.h"
#include "platform/error.h"
#include "platform/fault_injection.h"

namespace platform {

namespace {

// WSAStartup once; its failure code stays for every later call.
int StartWinsock() {
  static std::once_flag once;
  static int failure = 0;
  std::call_once(once, [] {
    WSADATA data;
    failure = WSAStartup(MAKEWORD(2, 2), &data);
  });
  if (failure != 0) SetLastSystemError(failure);
  return failure;
}

SOCKET Raw(const Socket& socket) { return static_cast<SOCKET>(socket.handle); }

int LastCode() { return WSAGetLastError(); }

Socket Failed(SOCKET raw, int code) {
  if (raw != INVALID_SOCKET) closesocket(raw);
  SetLastSystemError(code);
  return Socket{};
}

bool SetBlocking(SOCKET raw, bool blocking) {
  u_long nonBlocking = blocking ? 0 : 1;
  return ioctlsocket(raw, FIONBIO, &nonBlocking) == 0;
}

// Waits until the socket can be read (or written, with `write`): 1 when
// ready, 0 when the limit ran out (WSAETIMEDOUT left), -1 on failure. A
// failed connection counts as ready for writing; the caller asks SO_ERROR.
int WaitFor(SOCKET raw, bool write, int timeoutMs) {
  const int64_t deadline = timeoutMs < 0 ? 0 : MonotonicMs() + timeoutMs;
  for (;;) {
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(raw, &ready);
    FD_SET(raw, &failed);
    timeval limit{};
    timeval* wait = nullptr;
    if (timeoutMs >= 0) {
      int64_t left = deadline - MonotonicMs();
      if (left < 0) left = 0;
      limit.tv_sec = static_cast<long>(left / 1000);
      limit.tv_usec = static_cast<long>(left % 1000) * 1000;
      wait = &limit;
    }
    int count = select(0, write ? nullptr : &ready, write ? &ready : nullptr, write ? &failed : nullptr, wait);
    if (count > 0) return 1;
    if (count == 0) {
      SetLastSystemError(WSAETIMEDOUT);
      return 0;
    }
    if (LastCode() != WSAEINTR) {
      SetLastSystemError(LastCode());
      return -1;
    }
  }
}

sockaddr_in ToSockaddr(const NetAddress& address) {
  sockaddr_in result{};
  result.sin_family = AF_INET;
  result.sin_addr.s_addr = htonl(address.ipv4);
  result.sin_port = htons(address.port);
  return result;
}

}  // namespace

int NetResolve(const std::string& host, const std::string& port, NetAddress* address) {
  if (int failure = StartWinsock(); failure != 0) return failure;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  int code = getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
  if (code != 0) {
    SetLastSystemError(code);
    return code;
  }
  if (found == nullptr || found->ai_addr == nullptr || found->ai_family != AF_INET) {
    if (found != nullptr) freeaddrinfo(found);
    SetLastSystemError(WSAHOST_NOT_FOUND);
    return WSAHOST_NOT_FOUND;
  }
  const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  address->ipv4 = ntohl(ipv4->sin_addr.s_addr);
  address->port = ntohs(ipv4->sin_port);
  freeaddrinfo(found);
  return 0;
}

std::string NetAddressText(uint32_t ipv4) {
  return std::to_string(ipv4 >> 24) + "." + std::to_string((ipv4 >> 16) & 0xFF) + "." +
         std::to_string((ipv4 >> 8) & 0xFF) + "." + std::to_string(ipv4 & 0xFF);
}

Socket NetConnect(const NetAddress& address, int timeoutMs, uint32_t fromIpv4) {
  if (FaultFires(Syscall::Connect)) return Socket{};
  if (StartWinsock() != 0) return Socket{};
  SOCKET raw = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (raw == INVALID_SOCKET) return Failed(raw, LastCode());
  if (fromIpv4 != 0) {
    sockaddr_in local = ToSockaddr(NetAddress{fromIpv4, 0});
    if (bind(raw, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) return Failed(raw, LastCode());
  }
  if (!SetBlocking(raw, false)) return Failed(raw, LastCode());
  sockaddr_in target = ToSockaddr(address);
  if (connect(raw, reinterpret_cast<const sockaddr*>(&target), sizeof(target)) != 0) {
    if (LastCode() != WSAEWOULDBLOCK) return Failed(raw, LastCode());
    int ready = WaitFor(raw, true, timeoutMs);
    if (ready <= 0) return Failed(raw, LastSystemError());
    int error = 0;
    int length = sizeof(error);
    if (getsockopt(raw, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) {
      return Failed(raw, LastCode());
    }
    if (error != 0) return Failed(raw, error);
  }
  return Socket{static_cast<intptr_t>(raw)};
}

bool NetSendAll(const Socket& socket, const void* data, size_t size, int timeoutMs) {
  if (FaultFires(Syscall::Send)) return false;
  const char* next = static_cast<const char*>(data);
  size_t left = size;
  while (left > 0) {
    int part = left > 0x40000000u ? 0x40000000 : static_cast<int>(left);
    int sent = send(Raw(socket), next, part, 0);
    if (sent > 0) {
      next += sent;
      left -= static_cast<size_t>(sent);
      continue;
    }
    if (sent < 0 && LastCode() == WSAEWOULDBLOCK) {
      if (WaitFor(Raw(socket), true, timeoutMs) > 0) continue;
      return false;  // the wait left its code
    }
    SetLastSystemError(LastCode());
    return false;
  }
  return true;
}

int64_t NetSendOnce(const Socket& socket, const void* data, size_t size) {
  if (FaultFires(Syscall::Send)) return -1;
  int part = size > 0x40000000u ? 0x40000000 : static_cast<int>(size);
  for (;;) {
    int sent = send(Raw(socket), static_cast<const char*>(data), part, 0);
    if (sent >= 0) return sent;
    if (LastCode() != WSAEWOULDBLOCK || WaitFor(Raw(socket), true, -1) <= 0) {
      if (LastCode() != WSAEWOULDBLOCK) SetLastSystemError(LastCode());
      return -1;
    }
  }
}

int64_t NetRecv(const Socket& socket, void* buffer, size_t capacity, int timeoutMs) {
  if (FaultFires(Syscall::Recv)) return -1;
  int room = capacity > 0x40000000u ? 0x40000000 : static_cast<int>(capacity);
  for (;;) {
    if (WaitFor(Raw(socket), false, timeoutMs) <= 0) return -1;
    int received = recv(Raw(socket), static_cast<char*>(buffer), room, 0);
    if (received >= 0) return received;
    if (LastCode() != WSAEWOULDBLOCK && LastCode() != WSAEINTR) {
      SetLastSystemError(LastCode());
      return -1;
    }
  }
}

bool NetShutdownSend(const Socket& socket) {
  if (shutdown(Raw(socket), SD_SEND) != 0) {
    SetLastSystemError(LastCode());
    return false;
  }
  return true;
}

void NetClose(Socket* socket) {
  if (SocketValid(*socket)) closesocket(Raw(*socket));
  socket->handle = -1;
}

Socket NetBind(bool loopbackOnly, uint16_t port) {
  if (StartWinsock() != 0) return Socket{};
  SOCKET raw = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (raw == INVALID_SOCKET) return Failed(raw, LastCode());
  // No other program may bind the same port while we hold it: on Windows
  // SO_REUSEADDR would let one, SO_EXCLUSIVEADDRUSE forbids it.
  BOOL on = TRUE;
  if (setsockopt(raw, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof(on)) != 0) {
    return Failed(raw, LastCode());
  }
  NetAddress local{loopbackOnly ? INADDR_LOOPBACK : INADDR_ANY, port};
  sockaddr_in address = ToSockaddr(local);
  if (bind(raw, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) return Failed(raw, LastCode());
  return Socket{static_cast<intptr_t>(raw)};
}

bool NetStartListening(const Socket& socket, int backlog) {
  if (listen(Raw(socket), backlog) != 0 || !SetBlocking(Raw(socket), false)) {
    SetLastSystemError(LastCode());
    return false;
  }
  return true;
}

bool NetLingerBytes(const Socket& socket, std::string* bytes) {
  linger option{};
  int length = sizeof(option);
  if (getsockopt(Raw(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&option), &length) != 0) {
    SetLastSystemError(LastCode());
    return false;
  }
  bytes->assign(reinterpret_cast<const char*>(&option), static_cast<size_t>(length));
  return true;
}

uint16_t NetLocalPort(const Socket& socket) {
  sockaddr_in address{};
  int length = sizeof(address);
  if (getsockname(Raw(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    SetLastSystemError(LastCode());
    return 0;
  }
  return ntohs(address.sin_port);
}

Socket NetAccept(const Socket& listener, int timeoutMs, NetAddress* peer) {
  for (;;) {
    if (WaitFor(Raw(listener), false, timeoutMs) <= 0) return Socket{};
    sockaddr_in address{};
    int length = sizeof(address);
    SOCKET raw = accept(Raw(listener), reinterpret_cast<sockaddr*>(&address), &length);
    if (raw == INVALID_SOCKET) {
      // Another thread took the connection, or it went before we got it.
      if (LastCode() == WSAEWOULDBLOCK || LastCode() == WSAEINTR || LastCode() == WSAECONNRESET) continue;
      return Failed(raw, LastCode());
    }
    // The accepted socket is non-blocking like the listener.
    if (peer != nullptr) {
      peer->ipv4 = ntohl(address.sin_addr.s_addr);
      peer->port = ntohs(address.sin_port);
    }
    return Socket{static_cast<intptr_t>(raw)};
  }
}

}  // namespace platform
