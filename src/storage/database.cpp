// The client's database connection (see database.h). Opened by the start-up
// of the client and by tsr-tool; used by the message table and the settings
// store.
#include "storage/database.h"

#include <sqlite3.h>

#include <atomic>

#include "core/log.h"
#include "storage/statement.h"

namespace storage {

// The tables of the client, character for character as every copy of the
// client has always created them.
const char kSchemaScript[] =
    "CREATE TABLE IF NOT EXISTS `Messages` (`id`\tINTEGER PRIMARY KEY AUTOINCREMENT,\t\t`idm`\tINTEGER,"
    "\t\t`dateIn`\tINTEGER,\t\t`dateOperation`\tINTEGER,\t\t`senderUNP`\tINTEGER,\t\t`senderBranch`\tINTEGER,"
    "\t\t`senderIKS`\tBLOB,\t\t`senderName`\tBLOB,\t\t`type`\tINTEGER,\t\t`status`\tINTEGER,\t\t`message`\tBLOB,"
    "\t\t`number`\tBLOB,\t\t`expire`\tINTEGER,\t\t`TempSD`\tBLOB,\t\t`TempDFS`\tBLOB\t\t);"
    "CREATE TABLE IF NOT EXISTS `Settings` (`id`\tINTEGER PRIMARY KEY AUTOINCREMENT,\t\t`Name` BLOB,"
    "`type` INTEGER,`I` INTEGER,`B` BLOB);";

namespace {
std::atomic<sqlite3*> connection{nullptr};  // open for the whole run
}

bool OpenDatabase(const std::string& pathUtf8, const char* script) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(pathUtf8.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
    core::LogError(db != nullptr ? sqlite3_errmsg(db) : "sqlite3_open_v2", 0);
    sqlite3_close(db);
    return false;
  }
  char* message = nullptr;
  if (sqlite3_exec(db, script, nullptr, nullptr, &message) != SQLITE_OK) {
    core::LogError(message != nullptr ? message : sqlite3_errmsg(db), 0);
    sqlite3_free(message);
    sqlite3_close(db);
    return false;
  }
  // Write-ahead logging: every statement commits by itself, and with the
  // rollback journal each commit costs several syncs of the whole page
  // set; with the log it costs one append. Stock SQLite reads the file the
  // same (it stays a plain database with a -wal file beside it while open).
  sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  sqlite3* old = connection.exchange(db);
  FinalizeIdleStatements();
  if (old != nullptr) sqlite3_close(old);
  return true;
}

sqlite3* Database() { return connection.load(); }

void CloseDatabase() {
  sqlite3* old = connection.exchange(nullptr);
  FinalizeIdleStatements();
  if (old != nullptr) sqlite3_close(old);
}

std::string DatabaseError() {
  sqlite3* db = connection.load();
  return db != nullptr ? sqlite3_errmsg(db) : "no database";
}

}  // namespace storage
