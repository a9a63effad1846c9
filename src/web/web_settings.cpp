// The web page's settings commands (see web_settings.h).
#include "web/web_settings.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "core/log.h"
#include "core/text.h"
#include "crypto/certificates.h"
#include "platform/ui.h"
#include "storage/settings.h"
#include "web/json_answers.h"
#include "web/web_parameters.h"

namespace web {

namespace {

// The settings the page shows, in its order; the first two are integers.
const char* const kPageSettings[] = {"IDC_SERVICE", "IDC_SECURE", "IDC_CERT", "IDC_PASS",  "IDC_BRANCH", "IDC_PATH",
                                     "IDC_FACE",    "IDC_BASE",   "IDC_POST", "IDC_NAME",  "IDC_PHONE"};

const char kHiddenPassword[] = "************";

std::mutex hookMutex;
std::function<void()> settingsChanged;  // guarded by hookMutex

bool IntegerSetting(const std::string& name) { return name == "IDC_SERVICE" || name == "IDC_SECURE"; }

std::string Utf8(const std::wstring& text) { return core::ToNarrow(text, core::kCodePageUtf8); }

// A branch code the page may store: none, or four characters that start
// with a number other than 0.
bool BranchAcceptable(const std::string& value) {
  return value.empty() || (core::ToWide(value, core::kCodePageUtf8).size() == 4 && LeadingNumber(value) != 0);
}

void PostSettingsChanged() {
  std::function<void()> hook;
  {
    std::lock_guard<std::mutex> lock(hookMutex);
    hook = settingsChanged;
  }
  if (hook) platform::ui::Post(hook);
}

}  // namespace

void SetSettingsChangedHook(std::function<void()> hook) {
  std::lock_guard<std::mutex> lock(hookMutex);
  settingsChanged = std::move(hook);
}

std::string SettingsCommand() {
  std::vector<std::string> settings;
  for (const char* name : kPageSettings) {
    std::string value;
    if (IntegerSetting(name)) {
      value = std::to_string(storage::GetSettingInt(name));
    } else {
      value = Utf8(storage::GetSettingText(name).value_or(std::wstring()));
      if (std::string(name) == "IDC_PASS" && !value.empty()) value = kHiddenPassword;
    }
    settings.push_back(SettingItem(name, value));
  }
  std::vector<std::string> certificates;
  const int count = crypto::CertificateCount();
  for (int i = 0; i < count; ++i) {
    crypto::CertificateEntry entry;
    if (!crypto::GetCertificateEntry(i, &entry)) continue;
    certificates.push_back(SettingItem(Utf8(entry.keyIdText),
                                       Utf8(entry.unpText + L" " + entry.subjectName + L" действителен с " +
                                            entry.validFromText + L" по " + entry.validToText)));
  }
  return SettingsAnswer(settings, certificates);
}

std::string UpdateCommand(const std::string& request) {
  bool cut = false;
  const std::string raw = ReadParameter(request, "data", &cut).value_or(std::string());
  if (cut) return MessageJson(std::wstring(L"Слишком много данных. Настройки не сохранены."));
  const std::string data = PercentDecode(raw);

  std::optional<std::string> error;
  size_t at = 0;
  while (true) {
    const size_t open = data.find("{IDC_", at);
    if (open == std::string::npos) break;
    const size_t nameEnd = data.find('}', open + 1);
    if (nameEnd == std::string::npos) break;
    const size_t valueOpen = data.find('{', nameEnd + 1);
    if (valueOpen == std::string::npos) break;
    const size_t valueEnd = data.find('}', valueOpen + 1);
    if (valueEnd == std::string::npos) break;
    at = valueEnd + 1;
    const std::string name = data.substr(open + 1, nameEnd - open - 1);
    const std::string value = data.substr(valueOpen + 1, valueEnd - valueOpen - 1);
    if (name.size() > storage::kSettingNameMax) continue;  // no setting has such a name
    if (IntegerSetting(name)) {
      const int64_t number = std::clamp<int64_t>(LeadingNumber(value), INT32_MIN, INT32_MAX);
      storage::SetSettingInt(name, static_cast<int32_t>(number));
    } else if (name == "IDC_PASS" && value == kHiddenPassword) {
      // The page shows the password as asterisks: it stays as it is.
    } else if (name == "IDC_BRANCH" && !BranchAcceptable(value)) {
      error = MessageJson(std::wstring(L"Реквизит <Код филиала> не соответствует формату 9999.Реквизит не сохранен."));
    } else {
      storage::SetSettingText(name, core::ToWide(value, core::kCodePageUtf8));
    }
  }
  storage::SaveSettings();
  PostSettingsChanged();
  return error ? *error : MessageJson(std::wstring(L"Настройки сохранены."));
}

}  // namespace web
