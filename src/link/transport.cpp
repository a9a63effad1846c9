// SendMessageToServer (see transport.h and docs/transport.md).
#include "link/transport.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>

#include "core/log.h"
#include "core/text.h"
#include "link/proxy.h"
#include "link/xtea128.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/net.h"
#include "storage/settings.h"

#ifndef TESSARIN_SERVER_HOST
#error "TESSARIN_SERVER_HOST must come from the build configuration"
#endif
#ifndef TESSARIN_SERVER_PORT
#error "TESSARIN_SERVER_PORT must come from the build configuration"
#endif

namespace serverlink {

namespace {

// Answers are received in pieces of this size.
constexpr size_t kReceiveChunk = 12800;

std::mutex gLimitsLock;
TransportLimits gLimits = kDefaultTransportLimits;
std::atomic<int64_t> gRequestTimeShift{0};

// Closes the connection on every way out of the call.
struct Connection {
  platform::Socket socket;  // the connection, invalid until made
  ~Connection() { platform::NetClose(&socket); }
};

// Clears the outer key on every way out of the call.
struct OuterKey {
  uint8_t bytes[kOuterKeyBytes] = {};  // SHA-512 of the key block
  ~OuterKey() { WipeBytes(bytes, sizeof(bytes)); }
};

std::string TextSetting(const char* name) {
  std::optional<std::wstring> text = storage::GetSettingText(name);
  return text ? core::ToNarrow(*text, core::kCodePageUtf8) : std::string();
}

// Opens the tunnel of the proxy type in the settings; types other than
// HTTP and SOCKS5 use the connection as it is.
bool OpenTunnel(const platform::Socket& proxy, const ServerEndpoint& server, int timeoutMs) {
  int type = std::atoi(storage::GetSettingTextJson("IDC_PROXY_T").c_str());
  if (type == kProxyHttp) {
    // The credentials go into the authorisation as the user typed them.
    return HttpConnectTunnel(proxy, server.host, server.port, TextSetting("IDC_PROXY_USER"),
                             TextSetting("IDC_PROXY_PASS"), timeoutMs);
  }
  if (type == kProxySocks5) return Socks5Tunnel(proxy, server.host, server.port, timeoutMs);
  return true;
}

// Turns the received bytes into the answer the caller gets.
int FinishAnswer(std::vector<uint8_t>* received, uint32_t time, const uint8_t* key,
                 std::vector<uint8_t>* answer) {
  if (received->empty()) return kSendClosedEmpty;
  // A plain refusal or acceptance carries its kind and code, nothing more;
  // every other answer has the header in front of its enciphered frame.
  uint8_t kind = (*received)[0];
  bool plain = kind == kAnswerRefused || kind == kAnswerAccepted;
  if (received->size() < (plain ? 2 : kHeaderBytes)) {
    core::LogError("Ответ сервера короче заголовка", static_cast<int64_t>(received->size()));
    return kSendFailed;
  }
  if (!plain) {
    for (int i = 0; i < 4; ++i) (*received)[1 + i] = static_cast<uint8_t>(time >> (8 * i));
    size_t enciphered = received->size() - kHeaderBytes;
    size_t whole = enciphered / 16 * 16;
    if (whole != enciphered) {
      core::LogValue("Неполный блок в конце ответа отброшен", static_cast<int64_t>(enciphered - whole));
      received->resize(kHeaderBytes + whole);
    }
    uint8_t* body = received->data() + kHeaderBytes;
    Xtea128Crypt(body, whole, key, body, XteaDirection::Decrypt);
  }
  *answer = std::move(*received);
  return static_cast<int>(answer->size());
}

int Exchange(uint8_t operation, const std::vector<uint8_t>& request, std::vector<uint8_t>* answer,
             const uint8_t* prefix) {
  answer->clear();
  if (request.empty() || request.size() % 16 != 0) {
    core::LogError("Неправильная длина сообщения", 0);
    return kSendBadLength;
  }
  const TransportLimits limits = GetTransportLimits();
  const ServerEndpoint server = ServerAddress();

  ServerEndpoint target = server;
  const bool useProxy = storage::GetSettingInt("IDC_PROXY_USE") != 0;
  if (useProxy) {
    target.host = storage::GetSettingTextJson("IDC_PROXY_A");
    target.port = storage::GetSettingTextJson("IDC_PROXY_PORT");
  }
  platform::NetAddress address;
  int resolved = platform::NetResolve(target.host, target.port, &address);
  if (resolved != 0) {
    core::LogError("getaddrinfo error", resolved);
    return kSendFailed;
  }

  Connection connection;
  connection.socket = platform::NetConnect(address, limits.connectTimeoutMs);
  if (!platform::SocketValid(connection.socket)) {
    core::LogError("Connection Error", platform::LastSystemError());
    return kSendFailed;
  }
  core::LogInfo("Соединение установлено");
  if (useProxy && !OpenTunnel(connection.socket, server, limits.receiveTimeoutMs)) {
    return kSendFailed;
  }

  const size_t bodyLength = request.size() + (prefix != nullptr ? kPrefixBytes : 0);
  const uint32_t time = static_cast<uint32_t>(platform::UnixNow() + gRequestTimeShift.load());
  std::vector<uint8_t> message(kHeaderBytes + bodyLength);
  WriteRequestHeader(RequestHeader{operation, static_cast<uint32_t>(bodyLength), time}, message.data());
  OuterKey key;
  if (!MakeOuterKey(time, key.bytes)) return kSendKeyFailed;
  uint8_t* body = message.data() + kHeaderBytes;
  if (prefix != nullptr) std::memcpy(body, prefix, kPrefixBytes);
  std::memcpy(body + bodyLength - request.size(), request.data(), request.size());
  Xtea128Crypt(body, bodyLength, key.bytes, body, XteaDirection::Encrypt);
  if (!platform::NetSendAll(connection.socket, message.data(), message.size(), limits.receiveTimeoutMs)) {
    core::LogError("Ошибка отправки", platform::LastSystemError());
    return kSendFailed;
  }

  std::vector<uint8_t> received;
  received.reserve(kReceiveChunk);
  std::vector<uint8_t> chunk(kReceiveChunk);
  for (;;) {
    int64_t got = platform::NetRecv(connection.socket, chunk.data(), chunk.size(), limits.receiveTimeoutMs);
    if (got == 0) {
      core::LogInfo("Соединение завершено");
      break;
    }
    if (got < 0) {
      // Silence past the limit counts as a failed receive. With nothing
      // received the call ends as if the server had closed; a part of an
      // answer is no answer.
      core::LogError("recv failed", platform::LastSystemError());
      if (received.empty()) break;
      return kSendFailed;
    }
    if (received.size() + static_cast<size_t>(got) > limits.maxAnswerBytes) {
      core::LogError("Ответ сервера длиннее допустимого", static_cast<int64_t>(limits.maxAnswerBytes));
      return kSendFailed;
    }
    received.insert(received.end(), chunk.begin(), chunk.begin() + got);
  }
  platform::NetClose(&connection.socket);
  return FinishAnswer(&received, time, key.bytes, answer);
}

}  // namespace

void SetTransportLimits(const TransportLimits& limits) {
  std::lock_guard<std::mutex> hold(gLimitsLock);
  gLimits = limits;
}

void SetRequestTimeShift(int64_t seconds) { gRequestTimeShift.store(seconds); }

TransportLimits GetTransportLimits() {
  std::lock_guard<std::mutex> hold(gLimitsLock);
  return gLimits;
}

ServerEndpoint ServerAddress() {
  ServerEndpoint endpoint{TESSARIN_SERVER_HOST, TESSARIN_SERVER_PORT};
  const char* over = std::getenv("TESSARIN_SERVER");
  if (over == nullptr || *over == '\0') return endpoint;
  std::string text = over;
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) {
    core::LogInfo("TESSARIN_SERVER ignored (host:port expected): " + text);
    return endpoint;
  }
  endpoint.host = text.substr(0, colon);
  endpoint.port = text.substr(colon + 1);
  return endpoint;
}

int SendMessageToServer(uint8_t operation, const std::vector<uint8_t>& request,
                        std::vector<uint8_t>* answer, const uint8_t* prefix) {
  core::LogInfo("SMTS");
  int result = kSendFailed;
  try {
    result = Exchange(operation, request, answer, prefix);
  } catch (...) {
    core::LogException("SendMessageToServer");
    result = kSendFailed;
  }
  core::LogInfo("SMTS - end");
  return result;
}

int SendMessageToServer(uint8_t operation, const crypto::DataBlock& request,
                        crypto::DataBlock* answer, const uint8_t* prefix) {
  std::vector<uint8_t> bytes;
  int result = SendMessageToServer(operation, crypto::BlockBytes(request), &bytes, prefix);
  crypto::SetBlockBytes(answer, bytes);
  return result;
}

}  // namespace serverlink
