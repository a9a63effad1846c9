// The settings store: name/value pairs kept in memory in the settings table
// and persisted in the `Settings` table of "TS.db" (layout and the protected
// password form in docs/settings-store.md).
//
// Every name begins with "IDC_". A setting that was never set reads as 0 or
// as no text. Text getters hand out copies: a setter on another thread may
// replace the stored text at any time. All functions may be called from any
// thread; one mutex guards the in-memory table. The start-up calls
// LoadSettings once after OpenDatabase; the settings dialog, the web
// interface and tsr-tool call SaveSettings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace storage {

// Longest name kept, in bytes; longer names are cut.
constexpr size_t kSettingNameMax = 127;

// Record types, as stored in the `type` column.
constexpr uint8_t kSettingInteger = 0;
constexpr uint8_t kSettingText = 1;

// One setting in memory.
struct SettingRecord {
  int32_t id = 0;                    // row id in `Settings`; 0 while never stored
  char name[kSettingNameMax + 1] = {};  // the key, zero-terminated ASCII
  uint8_t type = kSettingInteger;    // kSettingInteger or kSettingText
  int32_t value = 0;                 // the integer value
  std::optional<std::wstring> text;  // the text value, or none
};

// -1 when absent.
int FindSetting(const std::string& name);

int32_t GetSettingInt(const std::string& name);

// No value when the setting is absent or has no text.
std::optional<std::wstring> GetSettingText(const std::string& name);

// The text as UTF-8 with every backslash doubled; empty when absent.
std::string GetSettingTextJson(const std::string& name);

// Create the setting when missing (integer or text type); the type of an
// existing setting is kept.
void SetSettingInt(const std::string& name, int32_t value);
void SetSettingText(const std::string& name, const std::wstring& text);

// Reads the table from the database (start-up). Logs and leaves the store
// empty when the table cannot be read. The in-memory table is emptied
// first, so a second call reloads rather than appends.
void LoadSettings();

// Writes every setting back: an UPDATE for a stored row, an INSERT for a new
// one. The key-medium password is stored protected. Two saves never run at
// once.
void SaveSettings();

// Row-level access to the record at an index of the table, or to the last
// record when index is -1. Fields: "id", "type", "i" (the integer value).
// Reading an unknown field or index gives 0; setting one does nothing.
int32_t GetSettingField(int index, const std::string& field);
void SetSettingField(int index, const std::string& field, int32_t value);

// Copies of every record, in table order (tsr-tool, tests).
std::vector<SettingRecord> SettingsSnapshot();

// Empties the in-memory table (tests and tools; the client never does).
void ClearSettings();

// The status bar is the shell's; the shell installs its setter here at
// start-up so that SaveSettings can show its progress. Without a hook the
// texts are dropped.
using StatusBarHook = void (*)(const std::wstring& text);
void SetStatusBarHook(StatusBarHook hook);

}  // namespace storage
