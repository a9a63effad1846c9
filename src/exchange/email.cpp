// The e-mail binding (see email.h).
#include "exchange/email.h"

#include <optional>

#include "core/log.h"
#include "core/text.h"
#include "exchange/session.h"
#include "link/exchange_record.h"
#include "storage/settings.h"

namespace exchange {

namespace {

void Compare() {
  std::optional<std::wstring> setting = storage::GetSettingText("IDC_EMAIL");
  if (!setting || setting->empty()) return;
  std::string held = GetEmail();
  std::wstring widened;
  for (char byte : held) widened += static_cast<wchar_t>(static_cast<unsigned char>(byte));
  if (*setting == widened) return;
  std::string narrowed;
  bool altered = false;
  for (wchar_t character : *setting) {
    narrowed += static_cast<char>(static_cast<unsigned char>(character));
    if (static_cast<uint32_t>(character) > 0xFF) altered = true;
  }
  if (altered) {
    core::LogInfo("Адрес электронной почты содержит знаки вне однобайтовой кодировки, отправлен измененным: " +
                  core::ToNarrow(*setting, core::kCodePageUtf8));
  }
  SendEmail(narrowed);
}

std::string ReadAddress() {
  if (!Connected()) return std::string();
  serverlink::ExchangeRecord request;
  request.type = kTypeReadEmail;
  ReplyResult result;
  SendMessageAndGetAnswer(&result, &request);
  if (result.kind != kReplyAccepted) return std::string();
  std::string address(request.payload.begin(), request.payload.end());
  return address.substr(0, address.find('\0'));
}

void RegisterAddress(const std::string& address) {
  if (!Connected()) return;
  serverlink::ExchangeRecord request;
  request.type = kTypeRegisterEmail;
  request.payload.assign(address.begin(), address.end());
  request.payload.push_back(0);
  request.payloadLength = static_cast<uint32_t>(request.payload.size());
  ReplyResult ignored;
  SendMessageAndGetAnswer(&ignored, &request);
}

}  // namespace

void CheckEmail() {
  core::LogInfo("Check Email");
  try {
    Compare();
  } catch (...) {
    core::LogException("CheckEmail");
  }
  core::LogInfo("Check Email - end");
}

std::string GetEmail() {
  core::LogInfo("GetEmail");
  std::string address;
  try {
    address = ReadAddress();
  } catch (...) {
    core::LogException("GetEmail");
    address.clear();
  }
  core::LogInfo("GetEmail - end");
  return address;
}

bool SendEmail(const std::string& address) {
  core::LogInfo("SendEmail");
  try {
    RegisterAddress(address);
  } catch (...) {
    core::LogException("SendEmail");
  }
  core::LogInfo("SendEmail - end");
  return true;
}

}  // namespace exchange
