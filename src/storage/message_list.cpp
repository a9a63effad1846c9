// The message list, the in-memory copy of `Messages` that the window, the
// dialogs and the web interface address by position, and the texts shown
// for its entries (see messages.h). The list grows with the table: users
// keep years of documents and every row stays reachable.
#include <algorithm>
#include <mutex>

#include "core/format.h"
#include "core/log.h"
#include "core/text.h"
#include "platform/clock.h"
#include "storage/messages.h"

namespace storage {
namespace {

std::mutex listMutex;
std::vector<MessageEntry> messageList;  // newest first; index = list-view row
int64_t listHighestId = 0;              // highest row id the list holds; guarded by listMutex

int64_t HighestId(const std::vector<MessageEntry>& rows) {
  int64_t highest = 0;
  for (const MessageEntry& entry : rows) highest = std::max<int64_t>(highest, entry.id);
  return highest;
}

}  // namespace

std::optional<size_t> RebuildMessageList() {
  try {
    std::vector<MessageEntry> rows;
    bool ok = SelectMessageList(&rows);
    std::lock_guard<std::mutex> lock(listMutex);
    if (!ok) {
      messageList.clear();
      listHighestId = 0;
      return std::nullopt;
    }
    rows.shrink_to_fit();
    messageList = std::move(rows);
    listHighestId = HighestId(messageList);
    return messageList.size();
  } catch (...) {
    core::LogException("RebuildMessageList");
    return std::nullopt;
  }
}

std::optional<std::vector<MessageEntry>> AddNewMessagesToList() {
  try {
    int64_t after;
    {
      std::lock_guard<std::mutex> lock(listMutex);
      after = listHighestId;
    }
    std::vector<MessageEntry> fresh;
    if (!SelectMessagesAfter(after, &fresh)) return std::nullopt;

    std::lock_guard<std::mutex> lock(listMutex);
    std::vector<MessageEntry> added;
    size_t firstChanged = messageList.size();
    for (MessageEntry& entry : fresh) {
      // Another thread may have put the row in meanwhile.
      if (entry.id <= listHighestId) continue;
      // Newest first; among equal dates the older rows stay in front.
      auto place = std::upper_bound(messageList.begin(), messageList.end(), entry.dateIn,
                                    [](int64_t date, const MessageEntry& held) { return date > held.dateIn; });
      size_t position = static_cast<size_t>(place - messageList.begin());
      firstChanged = std::min(firstChanged, position);
      messageList.insert(place, std::move(entry));
    }
    int64_t highest = listHighestId;
    for (size_t i = firstChanged; i < messageList.size(); ++i) {
      messageList[i].row = static_cast<int32_t>(i);
    }
    for (size_t i = firstChanged; i < messageList.size(); ++i) {
      if (messageList[i].id > listHighestId) added.push_back(messageList[i]);
      highest = std::max<int64_t>(highest, messageList[i].id);
    }
    listHighestId = highest;
    return added;
  } catch (...) {
    core::LogException("AddNewMessagesToList");
    return std::nullopt;
  }
}

size_t MessageCount() {
  std::lock_guard<std::mutex> lock(listMutex);
  return messageList.size();
}

std::optional<MessageEntry> MessageAt(int position) {
  std::lock_guard<std::mutex> lock(listMutex);
  if (position < 0 || static_cast<size_t>(position) >= messageList.size()) return std::nullopt;
  return messageList[static_cast<size_t>(position)];
}

std::vector<MessageEntry> MessagesInRange(size_t first, size_t count) {
  std::lock_guard<std::mutex> lock(listMutex);
  if (first >= messageList.size()) return {};
  const size_t end = first + std::min(count, messageList.size() - first);
  return std::vector<MessageEntry>(messageList.begin() + static_cast<std::ptrdiff_t>(first),
                                   messageList.begin() + static_cast<std::ptrdiff_t>(end));
}

std::vector<MessageEntry> MessageListSnapshot() {
  std::lock_guard<std::mutex> lock(listMutex);
  return messageList;
}

std::vector<int32_t> ListedIdms() {
  std::lock_guard<std::mutex> lock(listMutex);
  std::vector<int32_t> idms;
  idms.reserve(messageList.size());
  for (const MessageEntry& entry : messageList) idms.push_back(entry.idm);
  return idms;
}

int FindMessageById(int32_t id) {
  std::lock_guard<std::mutex> lock(listMutex);
  for (size_t i = 0; i < messageList.size(); ++i) {
    if (messageList[i].id == id) return static_cast<int>(i);
  }
  return -1;
}

int FindMessageByIdm(int32_t idm) {
  std::lock_guard<std::mutex> lock(listMutex);
  for (size_t i = 0; i < messageList.size(); ++i) {
    if (messageList[i].idm == idm) return static_cast<int>(i);
  }
  return -1;
}

bool SetMessageStatus(int position, int32_t id, int32_t status) {
  std::lock_guard<std::mutex> lock(listMutex);
  if (position < 0 || static_cast<size_t>(position) >= messageList.size()) return false;
  MessageEntry& entry = messageList[static_cast<size_t>(position)];
  if (entry.id != id) return false;
  entry.status = status;
  return true;
}

std::wstring StatusText(int32_t status) {
  switch (status) {
    case kStatusReceived:
      return L"Не подписан";
    case kStatusSending:
      return L"Отправляется";
    case kStatusSigned:
      return L"Подписан";
    default:
      return L"Отклонен";
  }
}

std::wstring TypeText(int32_t type) {
  return type == kMessageCertificateRequest ? L"Запрос на СОК" : L"Электронный документ";
}

std::wstring FormatMessageDate(int64_t seconds) {
  platform::CalendarTime local = platform::LocalFromUnix(seconds);
  std::string text = core::Format("%04d-%02d-%02d %02d:%02d:%02d", local.year, local.month,
                                  local.day, local.hour, local.minute, local.second);
  return core::ToWide(text, core::kCodePageUtf8);
}

std::array<std::wstring, 5> MessageColumns(const MessageEntry& entry) {
  return {FormatMessageDate(entry.dateIn), entry.senderName, std::to_wstring(entry.senderUNP),
          TypeText(entry.type), StatusText(entry.status)};
}

}  // namespace storage
