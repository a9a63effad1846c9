// The client's database file "TS.db": one connection, opened at start-up
// and kept for the whole run. SQLite is built thread-safe, so every thread
// runs its statements on this one connection.
#pragma once

#include <string>

struct sqlite3;

namespace storage {

// The script that creates the client's two tables when they are missing.
extern const char kSchemaScript[];

// Opens (creating when missing) the file and runs the script in one call.
// On failure the database's message is logged as an error line, the
// connection is closed and false returned.
bool OpenDatabase(const std::string& pathUtf8, const char* script);

// The open connection, or null before OpenDatabase succeeded.
sqlite3* Database();

// Closes the connection (tests and tools; the client keeps it to the end).
void CloseDatabase();

// The connection's last error message, for the log.
std::string DatabaseError();

}  // namespace storage
