// Loading and saving the settings table against the `Settings` table of
// "TS.db" (layout in docs/settings-store.md). LoadSettings is called once at
// start-up after the database is open; SaveSettings by the settings dialog,
// the web interface and tsr-tool.
#include <sqlite3.h>

#include <cstring>
#include <mutex>

#include "core/log.h"
#include "core/text.h"
#include "storage/database.h"
#include "storage/password.h"
#include "storage/settings.h"
#include "storage/settings_table.h"
#include "storage/statement.h"
#include "storage/stored_text.h"

namespace storage {
namespace {

// Longest name and text read from a row, in bytes.
constexpr size_t kRowBytesMax = 1023;

// One load or save at a time: a save's inserts and the ids written back
// must not interleave with another save or a reload.
std::mutex storeMutex;

const std::optional<std::wstring>* TextOf(const std::vector<SettingRecord>& records,
                                          const char* name) {
  for (const SettingRecord& record : records) {
    if (std::strcmp(record.name, name) == 0) return &record.text;
  }
  return nullptr;
}

// The rows of `Settings` as records; empty when the table cannot be read.
std::vector<SettingRecord> ReadRows() {
  std::vector<SettingRecord> records;
  Statement select("SELECT id,Name,type,I,B from SETTINGS");
  if (select.handle == nullptr) return records;
  int result;
  while ((result = sqlite3_step(select.handle)) == SQLITE_ROW) {
    SettingRecord& record = records.emplace_back();
    record.id = sqlite3_column_int(select.handle, 0);
    record.type = static_cast<uint8_t>(sqlite3_column_int(select.handle, 2));
    record.value = sqlite3_column_int(select.handle, 3);
    std::string name = ColumnText(select.handle, 1, kRowBytesMax);
    name = std::string(name.c_str());
    if (name.size() > kSettingNameMax) name.resize(kSettingNameMax);
    std::memcpy(record.name, name.data(), name.size());
    std::string bytes = ColumnText(select.handle, 4);
    bytes = CutUtf8(std::string(bytes.c_str()), kRowBytesMax);
    if (record.type == kSettingText || !bytes.empty()) record.text = WideFromStored(bytes);
  }
  if (result != SQLITE_DONE) core::LogError(DatabaseError(), result);
  return records;
}

// Writes one record: UPDATE when its row exists, INSERT otherwise. Returns
// the row id of a new row, or 0.
int64_t WriteRow(const SettingRecord& record, const std::string& b) {
  bool stored = false;
  {
    Statement select("SELECT Name,type,I,B from SETTINGS where id=?");
    if (select.handle == nullptr) return 0;
    sqlite3_bind_int64(select.handle, 1, record.id);
    stored = sqlite3_step(select.handle) == SQLITE_ROW;
  }
  if (stored) {
    Statement update("UPDATE SETTINGS set type = ?, i = ?, b = ? where id = ?");
    if (update.handle == nullptr) return 0;
    sqlite3_bind_int64(update.handle, 1, record.type);
    sqlite3_bind_int64(update.handle, 2, record.value);
    sqlite3_bind_blob(update.handle, 3, BlobPointer(b.data(), b.size()), static_cast<int>(b.size()), SQLITE_STATIC);
    sqlite3_bind_int64(update.handle, 4, record.id);
    sqlite3_step(update.handle);
    return 0;
  }
  Statement insert("INSERT INTO SETTINGS (type,i,name,b)  VALUES(?,?,?,?)");
  if (insert.handle == nullptr) return 0;
  sqlite3_bind_int64(insert.handle, 1, record.type);
  sqlite3_bind_int64(insert.handle, 2, record.value);
  sqlite3_bind_blob(insert.handle, 3, record.name, static_cast<int>(std::strlen(record.name)),
                    SQLITE_STATIC);
  sqlite3_bind_blob(insert.handle, 4, BlobPointer(b.data(), b.size()), static_cast<int>(b.size()), SQLITE_STATIC);
  int64_t rowId = 0;
  // A failed insert leaves the record unstored, so the next save tries
  // again rather than updating a row that belongs to another record.
  if (StepForRowId(insert.handle, &rowId) != SQLITE_DONE) return 0;
  return rowId;
}

}  // namespace

void LoadSettings() {
  try {
    std::lock_guard<std::mutex> store(storeMutex);
    std::vector<SettingRecord> records = ReadRows();
    // The password is kept protected on disk and in clear in memory.
    for (SettingRecord& record : records) {
      if (std::strcmp(record.name, "IDC_PASS") != 0) continue;
      const std::optional<std::wstring>* certificate = TextOf(records, "IDC_CERT");
      if (certificate != nullptr && *certificate && record.text && (*certificate)->size() > 20 &&
          record.text->size() > 7) {
        record.text = UnprotectPassword(core::ToNarrow(*record.text, core::kCodePageUtf8),
                                        **certificate);
      }
      break;
    }
    ReplaceSettingsTable(std::move(records));
  } catch (...) {
    core::LogException("LoadSettings");
  }
}

void SaveSettings() {
  try {
    std::lock_guard<std::mutex> store(storeMutex);
    core::LogInfo("Update parameters");
    ShowSettingsStatus(L"Сохранение параметров...");
    std::vector<SettingRecord> records = SettingsSnapshot();
    const std::optional<std::wstring>* password = TextOf(records, "IDC_PASS");
    const std::optional<std::wstring>* certificate = TextOf(records, "IDC_CERT");
    std::string sealed = (password != nullptr && certificate != nullptr)
                             ? ProtectPassword(*password, *certificate)
                             : std::string();
    for (size_t i = 0; i < records.size(); ++i) {
      const SettingRecord& record = records[i];
      std::string b;
      if (std::strstr(record.name, "IDC_PASS") != nullptr) {
        b = sealed;
      } else if (record.text) {
        b = core::ToNarrow(*record.text, core::kCodePageUtf8);
      }
      int64_t rowId = WriteRow(record, b);
      if (rowId != 0) SetSettingField(static_cast<int>(i), "id", static_cast<int32_t>(rowId));
    }
    core::LogInfo("Update parameters - end");
    ShowSettingsStatus(L"...");
  } catch (...) {
    core::LogException("SaveSettings");
  }
}

}  // namespace storage
