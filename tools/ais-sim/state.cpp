// The simulator's SQLite state (see state.h).
#include "state.h"

#include <sqlite3.h>

#include <cstring>
#include <mutex>
#include <unordered_map>

#include "link/frame.h"
#include "link/sha512.h"
#include "sim_log.h"

namespace aissim {

namespace {

std::recursive_mutex gLock;
sqlite3* gDatabase = nullptr;

constexpr char kSchema[] = R"SQL(
CREATE TABLE IF NOT EXISTS organisations (
  iks TEXT PRIMARY KEY,
  unp INTEGER NOT NULL,
  branch INTEGER NOT NULL,
  name TEXT NOT NULL,
  certificate BLOB,
  service_code INTEGER NOT NULL,
  email TEXT NOT NULL DEFAULT '',
  registered INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS messages (
  idm INTEGER PRIMARY KEY AUTOINCREMENT,
  recipient TEXT NOT NULL,
  sender TEXT NOT NULL,
  frame BLOB NOT NULL,
  type INTEGER NOT NULL,
  family INTEGER NOT NULL,
  number TEXT NOT NULL,
  expiry INTEGER NOT NULL,
  state INTEGER NOT NULL,
  created INTEGER NOT NULL,
  changed INTEGER NOT NULL,
  original INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS messages_mailbox ON messages (recipient, state);
CREATE INDEX IF NOT EXISTS messages_number ON messages (number);
CREATE INDEX IF NOT EXISTS messages_expiry ON messages (state, expiry);
CREATE TABLE IF NOT EXISTS version (
  id INTEGER PRIMARY KEY CHECK (id = 1),
  digest BLOB NOT NULL,
  bytes BLOB NOT NULL,
  required INTEGER NOT NULL
);
)SQL";

// Prepared statements not in use, by their text: every request runs the
// same few statements, and preparing one costs more than running it.
// Guarded by gLock; emptied before the database closes.
std::unordered_multimap<std::string, sqlite3_stmt*> gIdleStatements;

// A prepared statement, taken from the idle ones or prepared, and reset and
// given back on every way out.
struct Statement {
  sqlite3_stmt* handle = nullptr;  // null when preparation failed
  std::string sql;                 // its text, the key it goes back under
  explicit Statement(const char* text) : sql(text) {
    auto idle = gIdleStatements.find(sql);
    if (idle != gIdleStatements.end()) {
      handle = idle->second;
      gIdleStatements.erase(idle);
    } else if (gDatabase != nullptr) {
      sqlite3_prepare_v3(gDatabase, text, -1, SQLITE_PREPARE_PERSISTENT, &handle, nullptr);
    }
  }
  ~Statement() {
    if (handle == nullptr) return;
    sqlite3_reset(handle);
    sqlite3_clear_bindings(handle);
    gIdleStatements.emplace(std::move(sql), handle);
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return handle != nullptr; }
  void Bind(int index, int64_t value) { sqlite3_bind_int64(handle, index, value); }
  void Bind(int index, const std::string& text) {
    sqlite3_bind_text(handle, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  void Bind(int index, const std::vector<uint8_t>& bytes) {
    sqlite3_bind_blob(handle, index, bytes.empty() ? "" : static_cast<const void*>(bytes.data()),
                      static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
  }
  bool Row() { return ok() && sqlite3_step(handle) == SQLITE_ROW; }
  bool Done() { return ok() && sqlite3_step(handle) == SQLITE_DONE; }
  int64_t Int(int column) { return sqlite3_column_int64(handle, column); }
  std::string Text(int column) {
    const unsigned char* text = sqlite3_column_text(handle, column);
    return text == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(text),
                                                         static_cast<size_t>(sqlite3_column_bytes(handle, column)));
  }
  std::vector<uint8_t> Blob(int column) {
    const void* data = sqlite3_column_blob(handle, column);
    int size = sqlite3_column_bytes(handle, column);
    if (data == nullptr || size <= 0) return {};
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    return std::vector<uint8_t>(bytes, bytes + size);
  }
};

constexpr char kOrganisationColumns[] =
    "iks, unp, branch, name, certificate, service_code, email, registered";

Organisation ReadOrganisation(Statement& row) {
  Organisation organisation;
  organisation.iks = row.Text(0);
  organisation.unp = static_cast<int32_t>(row.Int(1));
  organisation.branch = static_cast<uint16_t>(row.Int(2));
  organisation.name = row.Text(3);
  organisation.certificate = row.Blob(4);
  organisation.serviceCode = static_cast<int>(row.Int(5));
  organisation.email = row.Text(6);
  organisation.registered = row.Int(7);
  return organisation;
}

std::vector<Organisation> QueryOrganisations(Statement& query) {
  std::vector<Organisation> found;
  while (query.Row()) found.push_back(ReadOrganisation(query));
  return found;
}

constexpr char kMessageColumns[] =
    "idm, recipient, sender, frame, family, number, state, created, changed, original";

StoredMessage ReadMessage(Statement& row) {
  StoredMessage message;
  message.idm = row.Int(0);
  message.recipient = row.Text(1);
  message.sender = row.Text(2);
  std::vector<uint8_t> frame = row.Blob(3);
  serverlink::ParseFrame(frame.data(), frame.size(), &message.record);
  message.family = static_cast<int>(row.Int(4));
  message.numberText = row.Text(5);
  message.state = static_cast<int>(row.Int(6));
  message.created = row.Int(7);
  message.changed = row.Int(8);
  message.original = row.Int(9);
  return message;
}

std::vector<StoredMessage> QueryMessages(Statement& query) {
  std::vector<StoredMessage> found;
  while (query.Row()) found.push_back(ReadMessage(query));
  return found;
}

bool UpdateOrganisation(const char* sql, const std::string& iks, const std::function<void(Statement&)>& bind) {
  std::lock_guard<std::recursive_mutex> hold(gLock);
  Statement update(sql);
  bind(update);
  update.Bind(2, iks);
  return update.Done() && sqlite3_changes(gDatabase) == 1;
}

}  // namespace

int TypeFamily(int type) {
  int base = type > 100 ? type - 100 : type;
  if (base == 62 || base == 63) base -= 10;
  return base;
}

bool OpenState(const std::string& path, std::string* error) {
  std::lock_guard<std::recursive_mutex> hold(gLock);
  CloseState();
  const char* name = path.empty() ? ":memory:" : path.c_str();
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
  if (sqlite3_open_v2(name, &gDatabase, flags, nullptr) != SQLITE_OK) {
    *error = gDatabase != nullptr ? sqlite3_errmsg(gDatabase) : "out of memory";
    CloseState();
    return false;
  }
  sqlite3_busy_timeout(gDatabase, 5000);
  char* message = nullptr;
  if (sqlite3_exec(gDatabase, kSchema, nullptr, nullptr, &message) != SQLITE_OK) {
    *error = message != nullptr ? message : "schema failed";
    sqlite3_free(message);
    CloseState();
    return false;
  }
  return true;
}

void CloseState() {
  std::lock_guard<std::recursive_mutex> hold(gLock);
  for (auto& idle : gIdleStatements) sqlite3_finalize(idle.second);
  gIdleStatements.clear();
  if (gDatabase != nullptr) sqlite3_close(gDatabase);
  gDatabase = nullptr;
}

bool SaveOrganisation(const Organisation& organisation) {
  std::lock_guard<std::recursive_mutex> hold(gLock);
  Statement insert(
      "INSERT OR REPLACE INTO organisations (iks, unp, branch, name, certificate, service_code, email, "
      "registered) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
  insert.Bind(1, organisation.iks);
  insert.Bind(2, organisation.unp);
  insert.Bind(3, organisation.branch);
  insert.Bind(4, organisation.name);
  insert.Bind(5, organisation.certificate);
  insert.Bind(6, organisation.serviceCode);
  insert.Bind(7, organisation.email);
  insert.Bind(8, organisation.registered);
  return insert.Done();
}

std::optional<Organisation> FindOrganisation(const std::string& iks) {
  std::lock_guard<std::recursive_mutex> hold(gLock);
  Statement query((std::string("SELECT ") + kOrganisationColumns + " FROM organisations WHERE iks = ?1").c_str());
  query.Bind(1, iks);
  if (!query.Row()) return std::nullopt;
  return ReadOrganisation(query);
}

std::optional<Organisation> FindOrganisationByUnp(int32_t unp, uint16_t branch) {
  std::lock_guard<std::recursive_mutex> hold(gLock);
  Statement query((std::string("SELECT ") + kOrganisationColumns +
                   " FROM organisations WHERE unp = ?1 AND branch = ?2 ORDER BY registered, iks LIMIT 1")
                      .c_str());
  query.Bind(1, unp);
  query.Bind(2, branch);
  if (!query.Row()) return std::nullopt;
  return ReadOrganisation(query);
}

std::vector<Organisation> ListOrganisations() {
  std::lock_guard<std::recursive_mutex> hold(gLock);
  Statement query((std::string("SELECT ") + kOrganisationColumns + " FROM organisations ORDER BY registered, iks").c_str());
  return QueryOrganisations(query);
}

bool SetServiceCode(const std::string& iks, int code) {
  return UpdateOrganisation("UPDATE organisations SET service_code = ?1 WHERE iks = ?2", iks,
                            [code](Statement& update) { update.Bind(1, code); });
}

bool SetEmail(const std::string& iks, const std::string& email) {
  return UpdateOrganisation("UPDATE organisations SET email = ?1 WHERE iks = ?2", iks,
                            [&email](Statement& update) { update.Bind(1, email); });
}

bool SetBranch(const std::string& iks, uint16_t branch) {
  return UpdateOrganisation("UPDATE organisations SET branch = ?1 WHERE iks = ?2", iks,
                            [branch](Statement& update) { update.Bind(1, branch); });
}

bool AddMessage(StoredMessage* message) {
  std::lock_guard<std::recursive_mutex> hold(gLock);
  message->family = TypeFamily(message->record.type);
  message->numberText = serverlink::HasFlag(message->record.flags, serverlink::kFlagNumber)
                            ? serverlink::FormatNumber(message->record.number)
                            : std::string();
  Statement insert(
      "INSERT INTO messages (recipient, sender, frame, type, family, number, expiry, state, created, "
      "changed, original) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?9, ?10)");
  insert.Bind(1, message->recipient);
  insert.Bind(2, message->sender);
  insert.Bind(3, serverlink::BuildFrame(message->record));
  insert.Bind(4, message->record.type);
  insert.Bind(5, message->family);
  insert.Bind(6, message->numberText);
  insert.Bind(7, serverlink::HasFlag(message->record.flags, serverlink::kFlagExpiry)
                     ? static_cast<int64_t>(message->record.expiry)
                     : 0);
  insert.Bind(8, message->state);
  insert.Bind(9, message->created);
  insert.Bind(10, message->original);
  if (!insert.Done()) return false;
  message->idm = sqlite3_last_insert_rowid(gDatabase);
  message->changed = message->created;
  return true;
}

std::optional<StoredMessage> LoadMessage(int64_t idm) {
  std::lock_guard<std::recursive_mutex> hold(gLock);
  Statement query((std::string("SELECT ") + kMessageColumns + " FROM messages WHERE idm = ?1").c_str());
  query.Bind(1, idm);
  if (!query.Row()) return std::nullopt;
  return ReadMessage(query);
}

std::vector<int64_t> WaitingIds(const std::string& recipient) {
  std::lock_guard<std::recursive_mutex> hold(gLock);
  Statement query("SELECT idm FROM messages WHERE recipient = ?1 AND state = 0 ORDER BY idm");
  query.Bind(1, recipient);
  std::vector<int64_t> ids;
  while (query.Row()) ids.push_back(query.Int(0));
  return ids;
}

bool SetMessageState(int64_t idm, int state, int64_t now) {
  std::lock_guard<std::recursive_mutex> hold(gLock);
  Statement update("UPDATE messages SET state = ?1, changed = ?2 WHERE idm = ?3");
  update.Bind(1, state);
  update.Bind(2, now);
  update.Bind(3, idm);
  return update.Done() && sqlite3_changes(gDatabase) == 1;
}

std::optional<StoredMessage> FindOriginal(const std::string& recipient, const std::string& numberText,
                                          const std::vector<int>& families) {
  if (numberText.empty() || families.empty()) return std::nullopt;
  std::lock_guard<std::recursive_mutex> hold(gLock);
  std::string sql = std::string("SELECT ") + kMessageColumns +
                    " FROM messages WHERE recipient = ?1 AND number = ?2 AND sender <> '' AND family IN (";
  for (size_t i = 0; i < families.size(); ++i) sql += (i == 0 ? "" : ",") + std::to_string(families[i]);
  sql += ") ORDER BY idm DESC LIMIT 1";
  Statement query(sql.c_str());
  query.Bind(1, recipient);
  query.Bind(2, numberText);
  if (!query.Row()) return std::nullopt;
  return ReadMessage(query);
}

bool SentBefore(const std::string& sender, const std::string& numberText, int family,
                const std::string& recipient) {
  std::lock_guard<std::recursive_mutex> hold(gLock);
  Statement query(
      "SELECT 1 FROM messages WHERE sender = ?1 AND number = ?2 AND family = ?3 AND "
      "(?4 = '' OR recipient = ?4) LIMIT 1");
  query.Bind(1, sender);
  query.Bind(2, numberText);
  query.Bind(3, family);
  query.Bind(4, recipient);
  return query.Row();
}

std::vector<StoredMessage> ExpiredWaiting(int64_t now) {
  std::lock_guard<std::recursive_mutex> hold(gLock);
  Statement query((std::string("SELECT ") + kMessageColumns +
                   " FROM messages WHERE state = 0 AND expiry > 0 AND expiry < ?1 ORDER BY idm")
                      .c_str());
  query.Bind(1, now);
  return QueryMessages(query);
}

std::vector<StoredMessage> ListMessages(const std::string& recipient, const std::string& sender,
                                        bool waitingOnly) {
  std::lock_guard<std::recursive_mutex> hold(gLock);
  Statement query((std::string("SELECT ") + kMessageColumns +
                   " FROM messages WHERE (?1 = '' OR recipient = ?1) AND (?2 = '' OR sender = ?2) AND "
                   "(?3 = 0 OR state = 0) ORDER BY idm")
                      .c_str());
  query.Bind(1, recipient);
  query.Bind(2, sender);
  query.Bind(3, waitingOnly ? 1 : 0);
  return QueryMessages(query);
}

void WithStateLock(const std::function<void()>& work) {
  std::lock_guard<std::recursive_mutex> hold(gLock);
  work();
}

bool PublishVersion(const PublishedVersion& version) {
  std::lock_guard<std::recursive_mutex> hold(gLock);
  Statement insert("INSERT OR REPLACE INTO version (id, digest, bytes, required) VALUES (1, ?1, ?2, ?3)");
  insert.Bind(1, version.digest);
  insert.Bind(2, version.bytes);
  insert.Bind(3, version.required ? 1 : 0);
  return insert.Done();
}

std::optional<PublishedVersion> PublishProgram(std::vector<uint8_t> bytes, bool required, std::string* error) {
  PublishedVersion version;
  version.bytes = std::move(bytes);
  version.required = required;
  version.digest.resize(serverlink::kSha512Bytes);
  if (version.bytes.empty()) {
    *error = "the program is empty";
    return std::nullopt;
  }
  if (!serverlink::Sha512(version.bytes.data(), version.bytes.size(), version.digest.data())) {
    *error = "no digest";
    return std::nullopt;
  }
  if (!PublishVersion(version)) {
    *error = "not stored";
    return std::nullopt;
  }
  LogLine("program version published, " + std::to_string(version.bytes.size()) + " bytes");
  return version;
}

bool WithdrawVersion() {
  std::lock_guard<std::recursive_mutex> hold(gLock);
  Statement remove("DELETE FROM version");
  return remove.Done();
}

std::optional<PublishedVersion> GetPublishedVersion() {
  std::lock_guard<std::recursive_mutex> hold(gLock);
  Statement query("SELECT digest, bytes, required FROM version WHERE id = 1");
  if (!query.Row()) return std::nullopt;
  PublishedVersion version;
  version.digest = query.Blob(0);
  version.bytes = query.Blob(1);
  version.required = query.Int(2) != 0;
  return version;
}

}  // namespace aissim
