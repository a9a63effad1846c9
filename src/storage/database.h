// The client's database file "TS.db": one connection, opened at start-up
// and kept for the whole run. SQLite is built thread-safe, so every thread
// runs its statements on this one connection.
#pragma once

#include <cstdint>
#include <string>

struct sqlite3;

namespace storage {

// The script that creates the client's two tables when they are missing.
extern const char kSchemaScript[];

// Opens (creating when missing) the file and runs the script in one call,
// then prepares once the statements of kStatementsCheckedAtOpen. A lock of
// another connection is waited for up to 5 seconds. On failure the
// database's message is logged as an error line, the connection is closed
// and false returned. The file is kept in write-ahead-log mode.
bool OpenDatabase(const std::string& pathUtf8, const char* script);

// The open connection, or null before OpenDatabase succeeded.
sqlite3* Database();

// How many connections OpenDatabase has made in this process: what a
// connection counts (its changes, the data version) starts afresh with each.
int64_t DatabaseOpenings();

// Checkpoints the write-ahead log into the file, truncating it, and closes
// the connection. The client calls it as it ends, tsr-tool when it is done.
void CloseDatabase();

// The connection's last error message, for the log.
std::string DatabaseError();

}  // namespace storage
