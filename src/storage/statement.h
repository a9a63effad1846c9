// Prepared statements on the shared connection, for the settings store and
// the message table: preparing with the error logged, finalizing on scope
// exit, and reading blob columns without passing their end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct sqlite3_stmt;

namespace storage {

// Holds one prepared statement for a scope. The constructor takes an idle
// statement of the same text on Database(), else prepares the whole text
// (length -1); on failure the connection's error message is written to the
// error log (code 0) and the handle stays null. Without an open connection
// the line says so. When it goes, the statement is reset, its bindings
// cleared, and kept idle for the next holder of the same text.
struct Statement {
  explicit Statement(const char* text);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  sqlite3_stmt* handle = nullptr;  // null when preparing failed
  int prepareResult = 0;           // SQLite's result of the prepare
};

// Finalizes the idle statements; the connection closes only without them.
void FinalizeIdleStatements();

// Steps the statement once and reads, under the connection's own mutex so
// that no other thread's statement comes between, the row id it inserted
// or the number of rows it changed. Returns the step's result code.
int StepForRowId(sqlite3_stmt* statement, int64_t* rowId);
int StepForChanges(sqlite3_stmt* statement, int* changes);

// The bytes of a blob or text column, at most `limit` of them.
std::vector<uint8_t> ColumnBytes(sqlite3_stmt* statement, int column, size_t limit = SIZE_MAX);
std::string ColumnText(sqlite3_stmt* statement, int column, size_t limit = SIZE_MAX);

// Copies at most `size` bytes of a blob column to `out` and fills the rest
// with zeros; returns the column's own length. A short blob is never read
// past its end and a long one is cut.
size_t ColumnFixed(sqlite3_stmt* statement, int column, uint8_t* out, size_t size);

// The data to bind as a blob: never null, so that an empty blob is stored
// as an empty value rather than NULL.
const void* BlobPointer(const void* data, size_t size);

}  // namespace storage
