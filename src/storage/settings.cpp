// The in-memory settings table and its accessors (see settings.h). Every
// thread of the client reads it; the settings dialog, the web interface and
// the request framing write it. One mutex guards the table and readers get
// copies, so a setter never frees a text that another thread still reads.
#include "storage/settings.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

#include "core/log.h"
#include "core/text.h"
#include "storage/settings_table.h"

namespace storage {
namespace {

std::mutex tableMutex;
std::vector<SettingRecord> table;  // in order of loading, then of creation
std::atomic<StatusBarHook> statusBarHook{nullptr};

// The name as it is kept: up to the first zero byte, at most 127 bytes.
std::string KeyOf(const std::string& name) {
  std::string key(name.c_str());
  if (key.size() > kSettingNameMax) key.resize(kSettingNameMax);
  return key;
}

// Caller holds tableMutex.
int FindLocked(const std::string& key) {
  for (size_t i = 0; i < table.size(); ++i) {
    if (std::strcmp(table[i].name, key.c_str()) == 0) return static_cast<int>(i);
  }
  return -1;
}

// Caller holds tableMutex. The record of the name, appended with the given
// type when missing.
SettingRecord& FindOrAddLocked(const std::string& name, uint8_t type) {
  std::string key = KeyOf(name);
  int index = FindLocked(key);
  if (index >= 0) return table[static_cast<size_t>(index)];
  SettingRecord& record = table.emplace_back();
  std::memcpy(record.name, key.data(), key.size());
  record.type = type;
  return record;
}

// Caller holds tableMutex. The record at the index, the last one for -1,
// or null.
SettingRecord* AtLocked(int index) {
  if (index == -1) return table.empty() ? nullptr : &table.back();
  if (index < 0 || static_cast<size_t>(index) >= table.size()) return nullptr;
  return &table[static_cast<size_t>(index)];
}

}  // namespace

int FindSetting(const std::string& name) {
  std::lock_guard<std::mutex> lock(tableMutex);
  return FindLocked(KeyOf(name));
}

int32_t GetSettingInt(const std::string& name) {
  std::lock_guard<std::mutex> lock(tableMutex);
  int index = FindLocked(KeyOf(name));
  return index < 0 ? 0 : table[static_cast<size_t>(index)].value;
}

std::optional<std::wstring> GetSettingText(const std::string& name) {
  std::lock_guard<std::mutex> lock(tableMutex);
  int index = FindLocked(KeyOf(name));
  if (index < 0) return std::nullopt;
  return table[static_cast<size_t>(index)].text;
}

std::string GetSettingTextJson(const std::string& name) {
  std::optional<std::wstring> text = GetSettingText(name);
  if (!text) return std::string();
  std::string utf8 = core::ToNarrow(*text, core::kCodePageUtf8);
  std::string doubled;
  doubled.reserve(utf8.size());
  for (char c : utf8) {
    doubled.push_back(c);
    if (c == '\\') doubled.push_back(c);
  }
  return doubled;
}

void SetSettingInt(const std::string& name, int32_t value) {
  try {
    std::lock_guard<std::mutex> lock(tableMutex);
    FindOrAddLocked(name, kSettingInteger).value = value;
  } catch (...) {
    core::LogException("SetSettingInt");
  }
}

void SetSettingText(const std::string& name, const std::wstring& text) {
  try {
    std::lock_guard<std::mutex> lock(tableMutex);
    FindOrAddLocked(name, kSettingText).text = text;
  } catch (...) {
    core::LogException("SetSettingText");
  }
}

int32_t GetSettingField(int index, const std::string& field) {
  std::lock_guard<std::mutex> lock(tableMutex);
  const SettingRecord* record = AtLocked(index);
  if (record == nullptr) return 0;
  if (field == "id") return record->id;
  if (field == "type") return record->type;
  if (field == "i") return record->value;
  return 0;
}

void SetSettingField(int index, const std::string& field, int32_t value) {
  std::lock_guard<std::mutex> lock(tableMutex);
  SettingRecord* record = AtLocked(index);
  if (record == nullptr) return;
  if (field == "id") record->id = value;
  if (field == "type") record->type = static_cast<uint8_t>(value);
  if (field == "i") record->value = value;
}

std::vector<SettingRecord> SettingsSnapshot() {
  std::lock_guard<std::mutex> lock(tableMutex);
  return table;
}

void ClearSettings() {
  std::lock_guard<std::mutex> lock(tableMutex);
  table.clear();
}

void ReplaceSettingsTable(std::vector<SettingRecord> records) {
  std::lock_guard<std::mutex> lock(tableMutex);
  table = std::move(records);
}

void SetStatusBarHook(StatusBarHook hook) { statusBarHook.store(hook); }

void ShowSettingsStatus(const std::wstring& text) {
  StatusBarHook hook = statusBarHook.load();
  if (hook != nullptr) hook(text);
}

}  // namespace storage
