// Prepared statements on the shared connection (see statement.h).
#include "storage/statement.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

#include "core/log.h"
#include "storage/database.h"

namespace storage {
namespace {

const uint8_t kEmpty[1] = {0};

// Prepared statements not in use, by their text: intake runs the same few
// statements for every document, and preparing one cost about as much as
// running it. Each belongs to the connection it was prepared on; one of a
// connection that has gone is finalized instead of kept.
std::mutex idleLock;
std::unordered_multimap<std::string, sqlite3_stmt*>& idle =
    *new std::unordered_multimap<std::string, sqlite3_stmt*>;  // guarded by idleLock

sqlite3_stmt* TakeIdle(sqlite3* db, const char* text) {
  std::lock_guard<std::mutex> hold(idleLock);
  auto [first, last] = idle.equal_range(text);
  for (auto found = first; found != last; ++found) {
    sqlite3_stmt* statement = found->second;
    if (sqlite3_db_handle(statement) == db) {
      idle.erase(found);
      return statement;
    }
  }
  return nullptr;
}

}  // namespace

void FinalizeIdleStatements() {
  std::lock_guard<std::mutex> hold(idleLock);
  for (auto& entry : idle) sqlite3_finalize(entry.second);
  idle.clear();
}

Statement::Statement(const char* text) {
  sqlite3* db = Database();
  if (db == nullptr) {
    core::LogError("database is not open", 0);
    prepareResult = SQLITE_MISUSE;
    return;
  }
  handle = TakeIdle(db, text);
  if (handle != nullptr) {
    prepareResult = SQLITE_OK;
    return;
  }
  prepareResult = sqlite3_prepare_v3(db, text, -1, SQLITE_PREPARE_PERSISTENT, &handle, nullptr);
  if (prepareResult != SQLITE_OK) {
    core::LogError(sqlite3_errmsg(db), 0);
    sqlite3_finalize(handle);
    handle = nullptr;
  }
}

Statement::~Statement() {
  if (handle == nullptr) return;
  if (sqlite3_db_handle(handle) != Database()) {
    sqlite3_finalize(handle);
    return;
  }
  sqlite3_reset(handle);
  sqlite3_clear_bindings(handle);
  std::lock_guard<std::mutex> hold(idleLock);
  idle.emplace(sqlite3_sql(handle), handle);
}

int StepForRowId(sqlite3_stmt* statement, int64_t* rowId) {
  sqlite3_mutex* mutex = sqlite3_db_mutex(sqlite3_db_handle(statement));
  sqlite3_mutex_enter(mutex);
  int result = sqlite3_step(statement);
  *rowId = sqlite3_last_insert_rowid(sqlite3_db_handle(statement));
  sqlite3_mutex_leave(mutex);
  return result;
}

int StepForChanges(sqlite3_stmt* statement, int* changes) {
  sqlite3_mutex* mutex = sqlite3_db_mutex(sqlite3_db_handle(statement));
  sqlite3_mutex_enter(mutex);
  int result = sqlite3_step(statement);
  *changes = sqlite3_changes(sqlite3_db_handle(statement));
  sqlite3_mutex_leave(mutex);
  return result;
}

std::vector<uint8_t> ColumnBytes(sqlite3_stmt* statement, int column, size_t limit) {
  const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(statement, column));
  size_t size = static_cast<size_t>(sqlite3_column_bytes(statement, column));
  if (data == nullptr) return {};
  size = std::min(size, limit);
  return std::vector<uint8_t>(data, data + size);
}

std::string ColumnText(sqlite3_stmt* statement, int column, size_t limit) {
  const auto* data = static_cast<const char*>(sqlite3_column_blob(statement, column));
  size_t size = static_cast<size_t>(sqlite3_column_bytes(statement, column));
  if (data == nullptr) return {};
  return std::string(data, std::min(size, limit));
}

size_t ColumnFixed(sqlite3_stmt* statement, int column, uint8_t* out, size_t size) {
  std::memset(out, 0, size);
  const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(statement, column));
  size_t length = static_cast<size_t>(sqlite3_column_bytes(statement, column));
  if (data != nullptr) std::memcpy(out, data, std::min(length, size));
  return data == nullptr ? 0 : length;
}

const void* BlobPointer(const void* data, size_t size) {
  return size == 0 || data == nullptr ? kEmpty : data;
}

}  // namespace storage
