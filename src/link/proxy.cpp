// HTTP CONNECT and SOCKS5 tunnels (see proxy.h and docs/transport.md).
#include "link/proxy.h"

#include <cstdint>
#include <cstring>

#include "core/log.h"
#include "core/text.h"
#include "platform/error.h"

namespace serverlink {

namespace {

constexpr char kNoProxy[] = "Нет связи с прокси-сервером";
constexpr char kNoProxyBytes[] = "Нет связи с прокси-сервером. Получено байт";

// The SOCKS5 replies are read into a buffer of this size.
constexpr size_t kSocksReplyRoom = 50;

bool SendLogged(const platform::Socket& socket, const void* data, size_t size, int timeoutMs) {
  if (platform::NetSendAll(socket, data, size, timeoutMs)) return true;
  core::LogError("Ошибка отправки", platform::LastSystemError());
  return false;
}

// Receives until at least `want` bytes are in the buffer, the peer closes
// or the buffer is full: the count, or -1 after logging a failed receive.
int64_t ReceiveAtLeast(const platform::Socket& socket, uint8_t* buffer, size_t capacity,
                       size_t want, int timeoutMs) {
  size_t count = 0;
  while (count < want && count < capacity) {
    int64_t got = platform::NetRecv(socket, buffer + count, capacity - count, timeoutMs);
    if (got < 0) {
      core::LogError("recv failed", platform::LastSystemError());
      return -1;
    }
    if (got == 0) break;
    count += static_cast<size_t>(got);
  }
  return static_cast<int64_t>(count);
}

bool EndsHead(const std::string& reply) {
  return reply.find("\r\n\r\n") != std::string::npos || reply.find("\n\n") != std::string::npos;
}

}  // namespace

std::string HttpConnectRequest(const std::string& host, const std::string& port,
                               const std::string& user, const std::string& password) {
  std::string request = "CONNECT " + host + ":" + port + " HTTP/1.0\r\n";
  if (!user.empty()) {
    std::string credentials = user + ":" + password;
    request += "Proxy-Authorization: Basic " +
               core::Base64Encode(reinterpret_cast<const uint8_t*>(credentials.data()),
                                  credentials.size()) +
               "\r\n";
  }
  request += "\r\n";
  return request;
}

int HttpStatusCode(const std::string& reply) {
  if (reply.compare(0, 5, "HTTP/") != 0) return -1;
  size_t space = reply.find(' ');
  size_t lineEnd = reply.find_first_of("\r\n");
  if (space == std::string::npos || (lineEnd != std::string::npos && space > lineEnd)) return -1;
  size_t at = reply.find_first_not_of(' ', space);
  if (at == std::string::npos || reply.size() - at < 3) return -1;
  int code = 0;
  for (size_t i = at; i < at + 3; ++i) {
    if (reply[i] < '0' || reply[i] > '9') return -1;
    code = code * 10 + (reply[i] - '0');
  }
  if (reply.size() > at + 3) {
    char after = reply[at + 3];
    if (after != ' ' && after != '\r' && after != '\n') return -1;
  }
  return code;
}

bool HttpConnectTunnel(const platform::Socket& proxy, const std::string& host,
                       const std::string& port, const std::string& user,
                       const std::string& password, int timeoutMs) {
  core::LogInfo("Тип прокси HTTP");
  std::string request = HttpConnectRequest(host, port, user, password);
  // The log keeps the request without the credentials: Base64 is no
  // protection, and the log lies in the user's temporary folder.
  core::LogInfo(user.empty() ? request : HttpConnectRequest(host, port, "***", "***"));
  if (!SendLogged(proxy, request.data(), request.size(), timeoutMs)) return false;

  // The head of the reply, up to its blank line; the server says nothing
  // before it has our request, so nothing of its answer is read here.
  std::string reply;
  uint8_t buffer[kProxyReplyLimit];
  while (!EndsHead(reply) && reply.size() < kProxyReplyLimit) {
    int64_t got = platform::NetRecv(proxy, buffer, kProxyReplyLimit - reply.size(), timeoutMs);
    if (got < 0) {
      core::LogError("recv failed", platform::LastSystemError());
      break;
    }
    if (got == 0) break;
    reply.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(got));
  }
  if (!reply.empty()) core::LogInfo(reply);

  int code = HttpStatusCode(reply);
  if (code == 200 && EndsHead(reply)) return true;
  core::LogInfo(reply);
  core::LogError(kNoProxy, code < 0 ? 0 : code);
  return false;
}

bool Socks5Tunnel(const platform::Socket& proxy, const std::string& host,
                  const std::string& port, int timeoutMs) {
  core::LogInfo("Тип прокси Sock 5");
  platform::NetAddress server;
  int resolved = platform::NetResolve(host, port, &server);
  if (resolved != 0) {
    core::LogError("getaddrinfo error", resolved);
    return false;
  }

  const uint8_t greeting[3] = {0x05, 0x01, 0x00};  // version 5, one method: none
  if (!SendLogged(proxy, greeting, sizeof(greeting), timeoutMs)) return false;
  uint8_t reply[kSocksReplyRoom];
  int64_t count = ReceiveAtLeast(proxy, reply, sizeof(reply), 2, timeoutMs);
  if (count < 0) return false;
  if (count != 2) {
    core::LogError(kNoProxyBytes, count);
    return false;
  }
  if (reply[0] != 0x05 || reply[1] != 0x00) {
    // Another version, or none of our methods accepted (0xFF).
    core::LogError(kNoProxy, reply[1]);
    return false;
  }

  uint8_t connect[10] = {0x05, 0x01, 0x00, 0x01};  // version, CONNECT, reserved, IPv4
  for (int i = 0; i < 4; ++i) connect[4 + i] = static_cast<uint8_t>(server.ipv4 >> (24 - 8 * i));
  connect[8] = static_cast<uint8_t>(server.port >> 8);
  connect[9] = static_cast<uint8_t>(server.port);
  if (!SendLogged(proxy, connect, sizeof(connect), timeoutMs)) return false;
  count = ReceiveAtLeast(proxy, reply, sizeof(reply), 10, timeoutMs);
  if (count < 0) return false;
  if (count != 10) {
    core::LogError(kNoProxyBytes, count);
    return false;
  }
  if (reply[0] != 0x05 || reply[1] != 0x00) {
    // The proxy refused the connection; its reply code says why.
    core::LogError(kNoProxy, reply[1]);
    return false;
  }
  return true;
}

}  // namespace serverlink
