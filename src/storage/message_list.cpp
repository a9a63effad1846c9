// The message list, the in-memory copy of `Messages` that the window, the
// dialogs and the web interface address by position, and the texts shown
// for its entries (see messages.h). The list grows with the table: users
// keep years of documents and every row stays reachable.
#include <algorithm>
#include <mutex>
#include <unordered_map>

#include "core/format.h"
#include "core/log.h"
#include "core/text.h"
#include "platform/clock.h"
#include "storage/database.h"
#include "storage/messages.h"

namespace storage {
namespace {

// The list keeps of each row only its key, oldest first, so that a new
// message, the newest, is added at the end: position p of the list (newest
// first) is keys[size - 1 - p]. A row's columns are read from the table
// when a face asks for that row; the last rows asked for are kept.
std::mutex listMutex;                     // guards everything below
std::vector<ListKey> keys;                // oldest first
int64_t listHighestId = 0;                // highest row id the list holds
std::unordered_map<int32_t, int32_t> statusOverride;  // id → status written for the window before the table
int64_t overrideChanges = 0;                          // times statusOverride changed
std::unordered_map<int32_t, MessageEntry> recent;     // id → the row's columns as last read
constexpr size_t kRecentRows = 1024;                  // a few screenfuls

size_t IndexOf(size_t position) { return keys.size() - 1 - position; }

// The entry of a key, from the rows kept or read now (outside the lock),
// with its status as the window last set it and its position.
std::optional<MessageEntry> EntryOf(const ListKey& key, size_t position) {
  std::optional<MessageEntry> entry;
  {
    std::lock_guard<std::mutex> lock(listMutex);
    auto kept = recent.find(key.id);
    if (kept != recent.end()) entry = kept->second;
  }
  if (!entry) {
    entry = SelectListEntry(key.id);
    if (!entry) return std::nullopt;
    std::lock_guard<std::mutex> lock(listMutex);
    if (recent.size() >= kRecentRows) recent.clear();
    recent[key.id] = *entry;
  }
  std::lock_guard<std::mutex> lock(listMutex);
  auto status = statusOverride.find(key.id);
  if (status != statusOverride.end()) entry->status = status->second;
  entry->row = static_cast<int32_t>(position);
  return entry;
}

}  // namespace

std::optional<size_t> RebuildMessageList() {
  try {
    std::vector<ListKey> fresh;
    bool ok = SelectListKeys(&fresh);
    std::lock_guard<std::mutex> lock(listMutex);
    recent.clear();
    if (!statusOverride.empty()) ++overrideChanges;
    statusOverride.clear();
    if (!ok) {
      keys.clear();
      listHighestId = 0;
      return std::nullopt;
    }
    keys = std::move(fresh);
    listHighestId = 0;
    for (const ListKey& key : keys) listHighestId = std::max<int64_t>(listHighestId, key.id);
    return keys.size();
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
    std::vector<int32_t> addedIds;
    // Oldest of the new rows first, so that each goes in behind the rows
    // of its date already there, as a rebuild orders them.
    for (auto entry = fresh.rbegin(); entry != fresh.rend(); ++entry) {
      // Another thread may have put the row in meanwhile.
      if (entry->id <= listHighestId) continue;
      // Oldest first; among equal dates the newer id in front (nearer the
      // start), as the index read backwards gives them.
      auto place = std::upper_bound(keys.begin(), keys.end(), entry->dateIn,
                                    [](int64_t date, const ListKey& held) { return date < held.dateIn; });
      while (place != keys.begin() && (place - 1)->dateIn == entry->dateIn && (place - 1)->id < entry->id) --place;
      keys.insert(place, ListKey{entry->dateIn, entry->id, entry->idm});
      recent[entry->id] = *entry;
      addedIds.push_back(entry->id);
    }
    for (int32_t id : addedIds) listHighestId = std::max<int64_t>(listHighestId, id);
    // The added entries with their positions now, ascending.
    std::vector<MessageEntry> added;
    for (size_t position = 0; position < keys.size() && added.size() < addedIds.size(); ++position) {
      const ListKey& key = keys[IndexOf(position)];
      if (std::find(addedIds.begin(), addedIds.end(), key.id) == addedIds.end()) continue;
      MessageEntry entry = recent[key.id];
      entry.row = static_cast<int32_t>(position);
      added.push_back(std::move(entry));
    }
    return added;
  } catch (...) {
    core::LogException("AddNewMessagesToList");
    return std::nullopt;
  }
}

size_t MessageCount() {
  std::lock_guard<std::mutex> lock(listMutex);
  return keys.size();
}

std::optional<MessageEntry> MessageAt(int position) {
  ListKey key;
  {
    std::lock_guard<std::mutex> lock(listMutex);
    if (position < 0 || static_cast<size_t>(position) >= keys.size()) return std::nullopt;
    key = keys[IndexOf(static_cast<size_t>(position))];
  }
  return EntryOf(key, static_cast<size_t>(position));
}

std::vector<MessageEntry> MessagesInRange(size_t first, size_t count) {
  std::vector<ListKey> wanted;
  {
    std::lock_guard<std::mutex> lock(listMutex);
    for (size_t position = first; position < keys.size() && wanted.size() < count; ++position) {
      wanted.push_back(keys[IndexOf(position)]);
    }
  }
  std::vector<MessageEntry> entries;
  for (size_t i = 0; i < wanted.size(); ++i) {
    if (std::optional<MessageEntry> entry = EntryOf(wanted[i], first + i)) entries.push_back(std::move(*entry));
  }
  return entries;
}

std::vector<MessageEntry> MessageListSnapshot() {
  // One statement for every row, rather than one per row.
  std::vector<MessageEntry> rows;
  if (!SelectMessageList(&rows)) return {};
  std::lock_guard<std::mutex> lock(listMutex);
  for (MessageEntry& entry : rows) {
    auto status = statusOverride.find(entry.id);
    if (status != statusOverride.end()) entry.status = status->second;
  }
  return rows;
}

std::optional<ListVersion> MessageListVersion() {
  int64_t overrides;
  {
    std::lock_guard<std::mutex> lock(listMutex);
    overrides = overrideChanges;
  }
  const int64_t connection = DatabaseOpenings();
  int64_t dataVersion = 0;
  int64_t ownChanges = 0;
  if (Database() == nullptr || !SelectTableVersion(&dataVersion, &ownChanges)) return std::nullopt;
  return ListVersion{connection, dataVersion, ownChanges, overrides};
}

std::vector<int32_t> ListedIdms() {
  std::lock_guard<std::mutex> lock(listMutex);
  std::vector<int32_t> idms;
  idms.reserve(keys.size());
  for (auto key = keys.rbegin(); key != keys.rend(); ++key) idms.push_back(key->idm);
  return idms;
}

int FindMessageByIdm(int32_t idm) {
  std::lock_guard<std::mutex> lock(listMutex);
  for (size_t position = 0; position < keys.size(); ++position) {
    if (keys[IndexOf(position)].idm == idm) return static_cast<int>(position);
  }
  return -1;
}

int FindMessageById(int32_t id) {
  std::lock_guard<std::mutex> lock(listMutex);
  for (size_t position = 0; position < keys.size(); ++position) {
    if (keys[IndexOf(position)].id == id) return static_cast<int>(position);
  }
  return -1;
}

bool SetMessageStatus(int position, int32_t id, int32_t status) {
  std::lock_guard<std::mutex> lock(listMutex);
  if (position < 0 || static_cast<size_t>(position) >= keys.size()) return false;
  if (keys[IndexOf(static_cast<size_t>(position))].id != id) return false;
  statusOverride[id] = status;
  ++overrideChanges;
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

std::string FormatMessageDateUtf8(int64_t seconds) {
  platform::CalendarTime local = platform::LocalFromUnix(seconds);
  return core::Format("%04d-%02d-%02d %02d:%02d:%02d", local.year, local.month, local.day, local.hour,
                      local.minute, local.second);
}

std::wstring FormatMessageDate(int64_t seconds) {
  return core::ToWide(FormatMessageDateUtf8(seconds), core::kCodePageUtf8);
}

std::array<std::wstring, 5> MessageColumns(const MessageEntry& entry) {
  return {FormatMessageDate(entry.dateIn), entry.senderName, std::to_wstring(entry.senderUNP),
          TypeText(entry.type), StatusText(entry.status)};
}

}  // namespace storage
