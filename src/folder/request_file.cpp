// GetXMLTypes and the parsing of a request file's text (request_file.h).
#include "folder/request_file.h"

#include <cstdint>
#include <optional>

#include "core/format.h"
#include "core/log.h"
#include "core/text.h"
#include "folder/request_types.h"
#include "link/frame.h"
#include "platform/error.h"
#include "platform/file.h"

namespace folder {
namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string Upper(std::string text) {
  for (char& c : text) c = UpperAscii(c);
  return text;
}

// Decimal value up to the first non-digit; no digit gives 0. Held below
// 2^32 so that a long run of digits cannot overflow.
uint32_t DecimalPrefix(const std::string& text) {
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > 0xFFFFFFFFu) value = 0xFFFFFFFFu;
  }
  return static_cast<uint32_t>(value);
}

// Entries of `receivercpks`: each "<certificate>…</certificate>" in turn;
// the list ends at an entry without `cpk`, when no further entry follows,
// or when the slots are full.
void ReadRecipients(const std::string& list, std::vector<RecipientSlot>* slots) {
  static const std::string kOpen = "<certificate>";
  static const std::string kClose = "</certificate>";
  size_t from = 0;
  while (slots->size() < kRecipientSlotsMax) {
    size_t open = list.find(kOpen, from);
    if (open == std::string::npos) break;
    size_t close = list.find(kClose, open + kOpen.size());
    if (close == std::string::npos) break;
    std::string entry = list.substr(open + kOpen.size(), close - open - kOpen.size());
    std::optional<std::string> certificate = core::FindTag(entry, "cpk");
    if (!certificate) break;
    RecipientSlot slot;
    slot.certificate = *certificate;
    slot.publicKey = core::FindTag(entry, "add").value_or(std::string());
    slots->push_back(std::move(slot));
    from = close + kClose.size();
  }
}

// A key identifier must be exactly 40 hexadecimal digits before anything
// uses it; an empty one means "not given".
bool BadIks(const std::string& iks) { return !iks.empty() && !core::IsHexText(iks, 40); }

// A new request named by its file, before anything else is known of it.
void StartRequest(const std::string& folder, const std::string& fileName, FolderRequest* request) {
  *request = FolderRequest{};
  request->fileName = fileName;
  request->path = folder + fileName;
}

}  // namespace

void LowerTagNames(std::string* text) {
  size_t open = text->find('<');
  while (open != std::string::npos) {
    size_t close = text->find('>', open + 1);
    if (close == std::string::npos) break;
    for (size_t i = open + 1; i < close; ++i) (*text)[i] = LowerAscii((*text)[i]);
    open = text->find('<', close + 1);
  }
}

void ParseRequestText(std::string text, FolderRequest* request) {
  LowerTagNames(&text);
  request->type = 0;
  request->reserved.clear();
  request->senderIks.clear();
  request->receiverIks.clear();
  request->receiverUnp.clear();
  request->receiverBranch.clear();
  request->message.clear();
  request->number.clear();
  request->expire.clear();
  request->recipients.clear();
  request->rejectionCode = 0;
  request->confirmDelivery = false;
  request->faults &= kFaultUnreadable;
  request->text = std::move(text);
  const std::string& whole = request->text;
  if (whole.find("<root>") == std::string::npos) return;

  auto take = [&whole](const char* name, std::string* field) {
    std::optional<std::string> value = core::FindTag(whole, name);
    if (value) *field = std::move(*value);
  };
  take("senderiks", &request->senderIks);
  take("receiveriks", &request->receiverIks);
  take("receiverunp", &request->receiverUnp);
  take("receivervranch", &request->receiverBranch);
  take("expire", &request->expire);
  std::string confirm;
  take("confirmdelivery", &confirm);
  request->confirmDelivery = confirm.find("yes") != std::string::npos;
  take("number", &request->number);
  take("message", &request->message);
  if (std::optional<std::string> list = core::FindTag(whole, "receivercpks")) {
    ReadRecipients(*list, &request->recipients);
  }
  request->senderIks = Upper(request->senderIks);
  request->receiverIks = Upper(request->receiverIks);

  std::string type;
  take("type", &type);
  for (char& c : type) c = LowerAscii(c);
  request->type = TypeCodeFromName(type);
  if (std::optional<std::string> code = core::FindTag(whole, "rejectioncode")) {
    request->rejectionCode = static_cast<uint8_t>(DecimalPrefix(*code));
  }

  // Malformed values are flagged, never used: the handlers answer them with
  // the conversion error.
  if (BadIks(request->senderIks)) {
    request->faults |= kFaultSenderIks;
    core::LogError("Неправильный ИКС отправителя в сообщении", 0);
  }
  if (BadIks(request->receiverIks)) {
    request->faults |= kFaultReceiverIks;
    core::LogError("Неправильный идентификатор ключа в сообщении", 0);
  }
  if (!request->number.empty() && !serverlink::ParseNumber(request->number)) {
    request->faults |= kFaultNumber;
    core::LogError("Неправильный номер в сообщении", 0);
  }
}

void GetXMLTypes(const std::string& folder, const std::string& fileName, FolderRequest* request) {
  StartRequest(folder, fileName, request);
  try {
    platform::File file;
    if (!platform::FileOpen(request->path, platform::OpenMode::ReadExisting, &file)) {
      request->faults |= kFaultUnreadable;
      core::LogError("Can't open XML type file " + request->path, platform::LastSystemError());
      return;
    }
    int64_t size = 0;
    std::string text;
    int64_t got = -1;
    if (platform::FileSize(file, &size)) {
      text.resize(static_cast<size_t>(size));
      got = size == 0 ? 0 : platform::FileReadAt(file, 0, text.data(), text.size());
    }
    platform::FileClose(&file);
    if (got != size) {
      request->faults |= kFaultUnreadable;
      core::LogError(core::Format("Error read XML type file. Size %lld, Read %lld",
                                  static_cast<long long>(size), static_cast<long long>(got)),
                     0);
      return;
    }
    ParseRequestText(std::move(text), request);
  } catch (...) {
    core::LogException("GetXMLTypes");
  }
}

void GetXMLTypesOfText(const std::string& folder, const std::string& fileName, std::string text,
                       FolderRequest* request) {
  StartRequest(folder, fileName, request);
  try {
    ParseRequestText(std::move(text), request);
  } catch (...) {
    core::LogException("GetXMLTypes");
  }
}

}  // namespace folder
