// TCP sockets on Linux (see net.h): BSD sockets with poll() for every wait.
#include "platform/net.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

#include "platform/error.h"
#include "platform/fault_injection.h"

namespace platform {

namespace {

int64_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Waits for `events` on fd: 1 when ready, 0 when the limit ran out (errno
// ETIMEDOUT), -1 on failure. A negative limit waits for ever.
int WaitFor(int fd, short events, int timeoutMs) {
  const int64_t deadline = timeoutMs < 0 ? 0 : NowMs() + timeoutMs;
  for (;;) {
    int wait = -1;
    if (timeoutMs >= 0) {
      int64_t left = deadline - NowMs();
      wait = left > 0 ? static_cast<int>(left) : 0;
    }
    pollfd item{fd, events, 0};
    int ready = poll(&item, 1, wait);
    if (ready > 0) return 1;
    if (ready == 0) {
      errno = ETIMEDOUT;
      return 0;
    }
    if (errno != EINTR) return -1;
  }
}

// One call instead of reading and writing the flags: a request opens a
// connection every time.
bool SetBlocking(int fd, bool blocking) {
  int nonBlocking = blocking ? 0 : 1;
  return ioctl(fd, FIONBIO, &nonBlocking) == 0;
}

int Fd(const Socket& socket) { return static_cast<int>(socket.handle); }

Socket Failed(int fd) {
  int code = errno;
  if (fd >= 0) close(fd);
  SetLastSystemError(code);
  return Socket{};
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
    SetLastSystemError(EAI_NONAME);
    return EAI_NONAME;
  }
  const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  address->ipv4 = ntohl(ipv4->sin_addr.s_addr);
  address->port = ntohs(ipv4->sin_port);
  freeaddrinfo(found);
  return 0;
}

std::string NetAddressText(uint32_t ipv4) {
  in_addr value{};
  value.s_addr = htonl(ipv4);
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &value, text, sizeof(text));
  return text;
}

Socket NetConnect(const NetAddress& address, int timeoutMs, uint32_t fromIpv4) {
  if (FaultFires(Syscall::Connect)) return Socket{};
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
  if (fd < 0) return Failed(-1);
  if (fromIpv4 != 0) {
    sockaddr_in local = ToSockaddr(NetAddress{fromIpv4, 0});
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) return Failed(fd);
  }
  sockaddr_in target = ToSockaddr(address);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof(target)) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) return Failed(fd);
    int ready = WaitFor(fd, POLLOUT, timeoutMs);
    if (ready <= 0) return Failed(fd);
    int error = 0;
    socklen_t length = sizeof(error);
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return Failed(fd);
    if (error != 0) {
      errno = error;
      return Failed(fd);
    }
  }
  if (!SetBlocking(fd, true)) return Failed(fd);
  return Socket{fd};
}

bool NetSendAll(const Socket& socket, const void* data, size_t size, int timeoutMs) {
  if (FaultFires(Syscall::Send)) return false;
  const auto* next = static_cast<const uint8_t*>(data);
  size_t left = size;
  while (left > 0) {
    ssize_t sent = send(Fd(socket), next, left, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      next += sent;
      left -= static_cast<size_t>(sent);
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (WaitFor(Fd(socket), POLLOUT, timeoutMs) > 0) continue;
    }
    SetLastSystemError(errno);
    return false;
  }
  return true;
}

int64_t NetSendOnce(const Socket& socket, const void* data, size_t size) {
  if (FaultFires(Syscall::Send)) return -1;
  for (;;) {
    ssize_t sent = send(Fd(socket), data, size, MSG_NOSIGNAL);
    if (sent >= 0) return sent;
    if (errno != EINTR) {
      SetLastSystemError(errno);
      return -1;
    }
  }
}

int64_t NetRecv(const Socket& socket, void* buffer, size_t capacity, int timeoutMs) {
  if (FaultFires(Syscall::Recv)) return -1;
  for (;;) {
    if (WaitFor(Fd(socket), POLLIN, timeoutMs) <= 0) {
      SetLastSystemError(errno);
      return -1;
    }
    ssize_t received = recv(Fd(socket), buffer, capacity, MSG_DONTWAIT);
    if (received >= 0) return received;
    if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
      SetLastSystemError(errno);
      return -1;
    }
  }
}

bool NetShutdownSend(const Socket& socket) {
  if (shutdown(Fd(socket), SHUT_WR) != 0) {
    SetLastSystemError(errno);
    return false;
  }
  return true;
}

void NetClose(Socket* socket) {
  if (SocketValid(*socket)) close(Fd(*socket));
  socket->handle = -1;
}

Socket NetBind(bool loopbackOnly, uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return Failed(-1);
  // A restarted listener takes its port back while connections of the last
  // run linger (Windows would set SO_EXCLUSIVEADDRUSE here instead).
  int on = 1;
  if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) != 0) return Failed(fd);
  NetAddress local{loopbackOnly ? INADDR_LOOPBACK : INADDR_ANY, port};
  sockaddr_in address = ToSockaddr(local);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) return Failed(fd);
  return Socket{fd};
}

bool NetStartListening(const Socket& socket, int backlog) {
  // Accept waits with poll(); a listener that never blocks cannot hang when
  // another thread took the connection first.
  if (listen(Fd(socket), backlog) != 0 || !SetBlocking(Fd(socket), false)) {
    SetLastSystemError(errno);
    return false;
  }
  return true;
}

bool NetLingerBytes(const Socket& socket, std::string* bytes) {
  linger option{};
  socklen_t length = sizeof(option);
  if (getsockopt(Fd(socket), SOL_SOCKET, SO_LINGER, &option, &length) != 0) {
    SetLastSystemError(errno);
    return false;
  }
  bytes->assign(reinterpret_cast<const char*>(&option), length);
  return true;
}

uint16_t NetLocalPort(const Socket& socket) {
  sockaddr_in address{};
  socklen_t length = sizeof(address);
  if (getsockname(Fd(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    SetLastSystemError(errno);
    return 0;
  }
  return ntohs(address.sin_port);
}

Socket NetAccept(const Socket& listener, int timeoutMs, NetAddress* peer) {
  for (;;) {
    if (WaitFor(Fd(listener), POLLIN, timeoutMs) <= 0) return Failed(-1);
    sockaddr_in address{};
    socklen_t length = sizeof(address);
    int fd = accept4(Fd(listener), reinterpret_cast<sockaddr*>(&address), &length,
                     SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      // Another thread took the connection, or it went before we got it.
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ||
          errno == ECONNABORTED) {
        continue;
      }
      return Failed(-1);
    }
    if (!SetBlocking(fd, true)) return Failed(fd);
    if (peer != nullptr) {
      peer->ipv4 = ntohl(address.sin_addr.s_addr);
      peer->port = ntohs(address.sin_port);
    }
    return Socket{fd};
  }
}

}  // namespace platform
