// The worker of one web connection (see worker.h), started by the listener.
#include "web/worker.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "core/format.h"
#include "core/log.h"
#include "platform/error.h"
#include "platform/ui.h"

namespace web {

namespace {

std::mutex limitsLock;
WebLimits limits = kDefaultWebLimits;

constexpr char kHeadersEnd[] = "\r\n\r\n";

// The value of the Content-length header among the headers (the text up to
// their blank line, which starts with the request line); 0 without one.
size_t DeclaredLength(const std::string& headers) {
  static const std::string name = "\r\ncontent-length:";
  std::string lower = headers;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  size_t at = lower.find(name);
  if (at == std::string::npos) return 0;
  // A length past every limit is cut here; the size limit ends the reading.
  unsigned long long value = std::strtoull(lower.c_str() + at + name.size(), nullptr, 10);
  return static_cast<size_t>(std::min<unsigned long long>(value, 1ull << 40));
}

}  // namespace

void SetWebLimits(const WebLimits& value) {
  std::lock_guard<std::mutex> hold(limitsLock);
  limits = value;
}

WebLimits GetWebLimits() {
  std::lock_guard<std::mutex> hold(limitsLock);
  return limits;
}

size_t WholeRequestLength(const std::string& received, size_t searchFrom) {
  size_t end = received.find(kHeadersEnd, searchFrom);
  if (end == std::string::npos) return std::string::npos;
  return end + sizeof(kHeadersEnd) - 1 + DeclaredLength(received.substr(0, end));
}

RequestEnd ReadRequest(const platform::Socket& socket, const WebLimits& limits, std::string* request) {
  std::vector<char> piece(kWebPiece);
  size_t whole = std::string::npos;  // the request's length, once known
  for (;;) {
    const size_t before = request->size();
    int64_t received = platform::NetRecv(socket, piece.data(), piece.size(), limits.readTimeoutMs);
    if (received < 0) {
      core::LogError("Web Server recv", platform::LastSystemError());
      return RequestEnd::Failed;
    }
    request->append(piece.data(), static_cast<size_t>(received));
    core::LogInfo(core::Format("\t\t\tRead Sock=%d= Read bytes=%d= Read total =%d=", static_cast<int>(socket.handle),
                               static_cast<int>(received), static_cast<int>(request->size())));
    if (received == 0) return RequestEnd::Closed;
    if (request->size() > limits.maxRequestBytes) {
      core::LogValue("Web request too large", static_cast<int64_t>(request->size()));
      return RequestEnd::TooLarge;
    }
    // The page sends its request and waits: its end is known from the
    // request itself, however it was cut into pieces on the way.
    if (whole == std::string::npos) whole = WholeRequestLength(*request, before < 3 ? 0 : before - 3);
    if (whole != std::string::npos && request->size() >= whole) return RequestEnd::Whole;
  }
}

void ServeConnection(platform::Socket socket, WebHandler handler) {
  try {
    platform::ui::NoteUserInput();
    WebLimits limits = GetWebLimits();
    std::string request;
    RequestEnd end = ReadRequest(socket, limits, &request);
    // A page that closed in the middle of its request line may have cut a
    // parameter short ("number=12" of "number=1234"): nothing of it is
    // carried out. An empty request is answered, and carries out nothing.
    if (end == RequestEnd::Closed && !request.empty() && request.find('\n') == std::string::npos) {
      core::LogInfo("Web request cut short, not answered");
      end = RequestEnd::Failed;
    }
    if (end == RequestEnd::Whole || end == RequestEnd::Closed) {
      std::string response = handler(request);
      for (size_t sent = 0; sent < response.size(); sent += kWebPiece) {
        size_t size = std::min(kWebPiece, response.size() - sent);
        if (!platform::NetSendAll(socket, response.data() + sent, size, limits.sendTimeoutMs)) {
          core::LogError("Web Server send", platform::LastSystemError());
          break;
        }
      }
    }
  } catch (...) {
    core::LogException("ServeConnection");
  }
  platform::NetClose(&socket);
}

}  // namespace web
