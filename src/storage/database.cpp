// The client's database connection (see database.h). Opened by the start-up
// of the client and by tsr-tool; used by the message table and the settings
// store.
#include "storage/database.h"

#include <sqlite3.h>

#include <atomic>

#include "core/log.h"
#include "storage/messages.h"
#include "storage/statement.h"

namespace storage {

// The tables of the client, character for character as every copy of the
// client has always created them, and the indexes of its queries.
const char kSchemaScript[] =
    "CREATE TABLE IF NOT EXISTS `Messages` (`id`\tINTEGER PRIMARY KEY AUTOINCREMENT,\t\t`idm`\tINTEGER,"
    "\t\t`dateIn`\tINTEGER,\t\t`dateOperation`\tINTEGER,\t\t`senderUNP`\tINTEGER,\t\t`senderBranch`\tINTEGER,"
    "\t\t`senderIKS`\tBLOB,\t\t`senderName`\tBLOB,\t\t`type`\tINTEGER,\t\t`status`\tINTEGER,\t\t`message`\tBLOB,"
    "\t\t`number`\tBLOB,\t\t`expire`\tINTEGER,\t\t`TempSD`\tBLOB,\t\t`TempDFS`\tBLOB\t\t);"
    "CREATE TABLE IF NOT EXISTS `Settings` (`id`\tINTEGER PRIMARY KEY AUTOINCREMENT,\t\t`Name` BLOB,"
    "`type` INTEGER,`I` INTEGER,`B` BLOB);"
    // The indexes came later; a database made before gains them at its
    // next start. The list reads its columns from the first alone, newest
    // first, without touching the rows' documents; the second finds the
    // replies left half-way, the third a message by its server identifier.
    "CREATE INDEX IF NOT EXISTS `MessagesList` ON `Messages` (`dateIn` DESC, `id`, `senderUNP`, `senderBranch`,"
    " `type`, `status`, `idm`, `senderIKS`, `senderName`, `expire`);"
    "CREATE INDEX IF NOT EXISTS `MessagesByStatus` ON `Messages` (`status`);"
    "CREATE INDEX IF NOT EXISTS `MessagesByIdm` ON `Messages` (`idm`);";

namespace {

std::atomic<sqlite3*> connection{nullptr};  // open for the whole run
std::atomic<int64_t> openings{0};  // connections OpenDatabase made so far

// How long a statement waits for a lock that another connection holds (a
// support engineer's sqlite3 or tsr-tool reading the file) before it gives
// up with "database is locked".
constexpr int kBusyTimeoutMs = 5000;

// Prepares each statement of kStatementsCheckedAtOpen once; false, with
// SQLite's message logged, when one cannot be prepared.
bool StatementsPrepare(sqlite3* db) {
  for (const char* const* text = kStatementsCheckedAtOpen; *text != nullptr; ++text) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, *text, -1, &statement, nullptr) != SQLITE_OK) {
      core::LogError(sqlite3_errmsg(db), 0);
      sqlite3_finalize(statement);
      return false;
    }
    sqlite3_finalize(statement);
  }
  return true;
}

}  // namespace

bool OpenDatabase(const std::string& pathUtf8, const char* script) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(pathUtf8.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
    core::LogError(db != nullptr ? sqlite3_errmsg(db) : "sqlite3_open_v2", 0);
    sqlite3_close(db);
    return false;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
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
  // The log is emptied into the file when the connection closes
  // (CloseDatabase), so that a copy of "TS.db" alone is whole.
  sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  // A statement that this SQLite cannot take fails the start, not the
  // operation that needs it later.
  if (!StatementsPrepare(db)) {
    sqlite3_close(db);
    return false;
  }
  sqlite3* old = connection.exchange(db);
  openings.fetch_add(1);
  FinalizeIdleStatements();
  if (old != nullptr) sqlite3_close(old);
  return true;
}

int64_t DatabaseOpenings() { return openings.load(); }

sqlite3* Database() { return connection.load(); }

void CloseDatabase() {
  sqlite3* old = connection.exchange(nullptr);
  FinalizeIdleStatements();
  if (old == nullptr) return;
  // Everything in the write-ahead log goes into "TS.db" and the log is cut
  // to nothing, even when another connection keeps the file open and the
  // close below is not the last one (which would do it by itself).
  if (sqlite3_wal_checkpoint_v2(old, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr) != SQLITE_OK) {
    core::LogError(sqlite3_errmsg(old), 0);
  }
  sqlite3_close(old);
}

std::string DatabaseError() {
  sqlite3* db = connection.load();
  return db != nullptr ? sqlite3_errmsg(db) : "no database";
}

}  // namespace storage
