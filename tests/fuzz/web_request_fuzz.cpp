// Fuzz target: the web page's commands on any received request text, with
// an empty client (settings in memory, a fresh database in memory, no
// certificate, no server). The response is always the framing around its
// body; the body is a callback name of script characters only, followed by
// nothing or by "(", one JSON object and ")": every text a request can put
// into an answer stays inside its JSON string.
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "core/log.h"
#include "storage/database.h"
#include "storage/settings.h"
#include "web/response.h"
#include "web/web_request.h"

namespace {

bool CallbackCharacter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '$' ||
         c == '.';
}

void CheckAnswer(const std::string& request) {
  const std::string response = web::HandleWebRequest(request);
  const size_t blank = response.find("\r\n\r\n");
  if (blank == std::string::npos) __builtin_trap();
  const std::string body = response.substr(blank + 4);
  if (response != web::FrameWebResponse(body)) __builtin_trap();

  size_t name = 0;
  while (name < body.size() && CallbackCharacter(body[name])) ++name;
  if (name == body.size()) return;
  if (body.size() < name + 2 || body[name] != '(' || body.back() != ')') __builtin_trap();
  const std::string json = body.substr(name + 1, body.size() - name - 2);
  if (!nlohmann::json::accept(json)) __builtin_trap();
  if (!nlohmann::json::parse(json).is_object()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool logRoot = (core::SetLogRoot("TessarinWebFuzz"), true);
  (void)logRoot;
  web::SetAccessKey("");
  storage::CloseDatabase();
  storage::ClearSettings();
  if (!storage::OpenDatabase(":memory:", storage::kSchemaScript)) __builtin_trap();
  CheckAnswer(std::string(reinterpret_cast<const char*>(data), size));
  // What an "update" stored comes back in the settings answer.
  CheckAnswer("GET /?request=settings&callback=cb HTTP/1.1\r\n\r\n");
  return 0;
}
