// The local web page's JSONP commands (see web_request.h).
#include "web/web_request.h"

#include <mutex>
#include <optional>

#include "core/log.h"
#include "core/text.h"
#include "storage/settings.h"
#include "web/json_answers.h"
#include "web/response.h"
#include "web/web_documents.h"
#include "web/web_parameters.h"
#include "web/web_settings.h"

namespace web {

namespace {

std::mutex keyLock;
std::optional<std::string> accessKey;  // none until the start-up has decided

// Why a request is not carried out; none when it may be.
std::optional<std::wstring> Refusal(const std::string& request) {
  std::optional<std::string> key;
  {
    std::lock_guard<std::mutex> hold(keyLock);
    key = accessKey;
  }
  if (!key) return std::wstring(L"Клиент запускается, повторите запрос.");
  if (key->empty() || ReadParameter(request, "token") == *key) return std::nullopt;
  return std::wstring(L"Нет доступа: страница не передала ключ доступа клиента.");
}

// Keeps the phone the page gives in "IDC_PHONE".
void RememberPhone(const std::string& phone) {
  const std::wstring wide = core::ToWide(phone, core::kCodePageUtf8);
  if (storage::GetSettingText("IDC_PHONE") == wide) return;
  storage::SetSettingText("IDC_PHONE", wide);
  storage::SaveSettings();
}

// The command's JSON text.
std::string RunCommand(const std::string& command, bool phone, const std::string& request) {
  if (command == "settings") return SettingsCommand();
  if (command == "info") return InfoCommand(request);
  if (command.empty()) return RefusalTypesAnswer();
  if (command == "getdocuments") return phone ? DocumentsCommand(request) : SampleDocumentsAnswer(false);
  if (command == "getmessages") return phone ? FetchCommand(false) : SampleDocumentsAnswer(true);
  if (command == "update") return phone ? UpdateCommand(request) : RefusalTypesAnswer();
  if (!phone) return std::string();
  if (command == "unload") return UnloadCommand(request);
  if (command == "show") return ShowCommand(request);
  if (command == "sign") return SignCommand(request);
  if (command == "register") return FetchCommand(true);
  if (command == "reject") return RejectCommand(request);
  return std::string();
}

}  // namespace

std::string HandleWebRequest(const std::string& request) {
  std::string body;
  try {
    if (std::optional<std::wstring> refusal = Refusal(request)) {
      return FrameWebResponse(CallbackName(request) + MessageJson(*refusal));
    }
    const std::string command = ReadParameter(request, "request").value_or(std::string());
    const std::optional<std::string> phone = CountingPhone(request);
    if (phone) RememberPhone(*phone);
    body = CallbackName(request);
    body += RunCommand(command, phone.has_value(), request);
  } catch (...) {
    core::LogException("HandleWebRequest");
  }
  return FrameWebResponse(body);
}

void SetAccessKey(const std::string& key) {
  std::lock_guard<std::mutex> hold(keyLock);
  accessKey = key;
}

}  // namespace web
