// The statements that the client runs against the `Messages` table (see
// messages.h; the table in docs/message-table.md). Each function prepares,
// runs and finalizes one statement on the shared connection.
#include <sqlite3.h>

#include <string>

#include "core/format.h"
#include "core/log.h"
#include "storage/database.h"
#include "storage/messages.h"
#include "storage/statement.h"
#include "storage/stored_text.h"

namespace storage {

// The empty texts are written as '' literals: stock SQLite also takes ""
// for an empty text when no column of that name exists, but a build
// without that leniency refuses the statement, and the rows it should
// have finished would stay in status 1.
const char kMarkDeliveredSql[] =
    "UPDATE messages set status = ?, DateOperation = ?, tempSD = '', tempDFS = '', "
    "message = ? where id = ?";

const char* const kStatementsCheckedAtOpen[] = {kMarkDeliveredSql, nullptr};

namespace {

int BindBlob(sqlite3_stmt* statement, int index, const uint8_t* data, size_t size, bool copy) {
  return sqlite3_bind_blob(statement, index, BlobPointer(data, size),
                           static_cast<int>(size), copy ? SQLITE_TRANSIENT : SQLITE_STATIC);
}

// Steps an UPDATE; true when it ran and changed a row.
bool RunUpdate(sqlite3_stmt* statement) {
  int changes = 0;
  return StepForChanges(statement, &changes) == SQLITE_DONE && changes > 0;
}

// Reads the columns shared by SelectForSending and SelectForShow: senderIKS,
// message, type, status, dateIn, expire, senderBranch, number.
StoredMessage ReadStored(sqlite3_stmt* statement) {
  StoredMessage row;
  ColumnFixed(statement, 0, row.senderIKS.data(), row.senderIKS.size());
  row.message = ColumnBytes(statement, 1);
  row.type = sqlite3_column_int(statement, 2);
  row.status = sqlite3_column_int(statement, 3);
  row.dateIn = sqlite3_column_int64(statement, 4);
  row.expire = sqlite3_column_int(statement, 5);
  row.senderBranch = sqlite3_column_int(statement, 6);
  ColumnFixed(statement, 7, row.number.data(), row.number.size());
  return row;
}

}  // namespace

int64_t SelectIdByIdm(int32_t idm) {
  try {
    Statement select("SELECT id from MESSAGES WHERE idm = ?");
    if (select.handle == nullptr) return -1;
    sqlite3_bind_int(select.handle, 1, idm);
    int result = sqlite3_step(select.handle);
    if (result == SQLITE_ROW) return sqlite3_column_int64(select.handle, 0);
    return result == SQLITE_DONE ? 0 : -1;
  } catch (...) {
    core::LogException("SelectIdByIdm");
    return -1;
  }
}

int InsertMessage(const NewMessage& message) {
  try {
    Statement insert(
        "INSERT INTO MESSAGES (idm,dateIn,dateOperation,senderUNP,\t\t\t\t\t\t\tsenderBranch,"
        "senderName,senderIKS,type,status,message,number,expire) "
        "VALUES(?,?,?,?,?,?,?,?,?,?,?,?)");
    if (insert.handle == nullptr) return insert.prepareResult;
    sqlite3_stmt* s = insert.handle;
    sqlite3_bind_int(s, 1, message.idm);
    sqlite3_bind_int64(s, 2, message.dateIn);
    sqlite3_bind_int(s, 3, 0);
    sqlite3_bind_int(s, 4, message.senderUNP);
    sqlite3_bind_int(s, 5, message.senderBranch);
    BindBlob(s, 6, reinterpret_cast<const uint8_t*>(message.senderName.data()),
             message.senderName.size(), false);
    BindBlob(s, 7, message.senderIKS.data(), message.senderIKS.size(), false);
    sqlite3_bind_int(s, 8, message.type);
    sqlite3_bind_int(s, 9, kStatusReceived);
    BindBlob(s, 10, message.message.data(), message.message.size(), false);
    BindBlob(s, 11, message.number.data(), message.number.size(), false);
    sqlite3_bind_int(s, 12, message.expire);
    int result = sqlite3_step(s);
    core::LogInfo(core::Format("%s - %d", "step", result));
    return result == SQLITE_DONE ? 0 : result;
  } catch (...) {
    core::LogException("InsertMessage");
    return SQLITE_ERROR;
  }
}

// The list's columns, all in the index MessagesList, so that the list is
// read from the index alone, never from the rows with their documents.
const char kListColumns[] = "SELECT senderUNP,senderName,type,status,dateIn,expire,senderBranch,id,senderIKS,idm ";

// Steps a statement of the list's ten columns and appends its rows.
static bool ReadListRows(sqlite3_stmt* s, std::vector<MessageEntry>* rows, bool numberRows) {
  int result;
  while ((result = sqlite3_step(s)) == SQLITE_ROW) {
    MessageEntry& entry = rows->emplace_back();
    entry.senderUNP = sqlite3_column_int(s, 0);
    entry.senderName = WideFromStored(ColumnText(s, 1));
    entry.type = sqlite3_column_int(s, 2);
    entry.status = sqlite3_column_int(s, 3);
    entry.dateIn = sqlite3_column_int64(s, 4);
    entry.senderBranch = sqlite3_column_int(s, 6);
    entry.id = sqlite3_column_int(s, 7);
    ColumnFixed(s, 8, entry.senderIKS.data(), entry.senderIKS.size());
    entry.idm = sqlite3_column_int(s, 9);
    if (numberRows) entry.row = static_cast<int32_t>(rows->size() - 1);
  }
  if (result != SQLITE_DONE) {
    core::LogError(sqlite3_errmsg(sqlite3_db_handle(s)), result);
    return false;
  }
  return true;
}

bool SelectMessageList(std::vector<MessageEntry>* rows) {
  try {
    static const std::string text = std::string(kListColumns) + "from MESSAGES order by dateIn DESC";
    Statement select(text.c_str());
    if (select.handle == nullptr) return false;
    return ReadListRows(select.handle, rows, true);
  } catch (...) {
    core::LogException("SelectMessageList");
    return false;
  }
}

bool SelectMessagesAfter(int64_t afterId, std::vector<MessageEntry>* rows) {
  try {
    // The same columns as the list, only for rows newer than the list;
    // the primary key bounds the scan to them (the list's index would be
    // read whole).
    static const std::string text =
        std::string(kListColumns) + "from MESSAGES NOT INDEXED where id > ? order by dateIn DESC, id ASC";
    Statement select(text.c_str());
    if (select.handle == nullptr) return false;
    sqlite3_bind_int64(select.handle, 1, afterId);
    return ReadListRows(select.handle, rows, false);
  } catch (...) {
    core::LogException("SelectMessagesAfter");
    return false;
  }
}

bool SelectTableVersion(int64_t* dataVersion, int64_t* ownChanges) {
  try {
    // Read first: the pragma starts a read of its own, so the count of
    // other connections' commits is current, and a change of this
    // connection made after the count shows in the next one.
    *ownChanges = sqlite3_total_changes64(Database());
    Statement select("PRAGMA data_version");
    if (select.handle == nullptr || sqlite3_step(select.handle) != SQLITE_ROW) return false;
    *dataVersion = sqlite3_column_int64(select.handle, 0);
    return true;
  } catch (...) {
    core::LogException("SelectTableVersion");
    return false;
  }
}

bool SelectListKeys(std::vector<ListKey>* keys) {
  try {
    // The list's index read backwards: oldest first, rows of equal dateIn
    // by descending id.
    Statement select("SELECT dateIn, id, idm from MESSAGES order by dateIn ASC, id DESC");
    if (select.handle == nullptr) return false;
    int result;
    while ((result = sqlite3_step(select.handle)) == SQLITE_ROW) {
      keys->push_back({sqlite3_column_int64(select.handle, 0), sqlite3_column_int(select.handle, 1),
                       sqlite3_column_int(select.handle, 2)});
    }
    if (result != SQLITE_DONE) {
      core::LogError(sqlite3_errmsg(storage::Database()), result);
      return false;
    }
    return true;
  } catch (...) {
    core::LogException("SelectListKeys");
    return false;
  }
}

std::optional<MessageEntry> SelectListEntry(int32_t id) {
  try {
    static const std::string text = std::string(kListColumns) + "from MESSAGES where id = ?";
    Statement select(text.c_str());
    if (select.handle == nullptr) return std::nullopt;
    sqlite3_bind_int(select.handle, 1, id);
    std::vector<MessageEntry> rows;
    if (!ReadListRows(select.handle, &rows, false) || rows.empty()) return std::nullopt;
    return rows.front();
  } catch (...) {
    core::LogException("SelectListEntry");
    return std::nullopt;
  }
}

bool SelectSendingRows(std::vector<MessageEntry>* rows) {
  try {
    static const std::string text =
        std::string(kListColumns) + "from MESSAGES where status = ? order by dateIn DESC, id ASC";
    Statement select(text.c_str());
    if (select.handle == nullptr) return false;
    sqlite3_bind_int(select.handle, 1, kStatusSending);
    return ReadListRows(select.handle, rows, false);
  } catch (...) {
    core::LogException("SelectSendingRows");
    return false;
  }
}

std::optional<StoredMessage> SelectForSending(int64_t id) {
  try {
    Statement select(
        "SELECT senderIKS,message,type,status,dateIn,expire,senderBranch,number,tempSD,tempDFS "
        "from MESSAGES where id = ?");
    if (select.handle == nullptr) return std::nullopt;
    sqlite3_bind_int64(select.handle, 1, id);
    if (sqlite3_step(select.handle) != SQLITE_ROW) return std::nullopt;
    StoredMessage row = ReadStored(select.handle);
    row.tempSD = ColumnBytes(select.handle, 8);
    row.tempDFS = ColumnBytes(select.handle, 9);
    return row;
  } catch (...) {
    core::LogException("SelectForSending");
    return std::nullopt;
  }
}

bool MarkSending(int64_t id, int64_t operationTime, const std::vector<uint8_t>& signedData,
                 const std::vector<uint8_t>& payload) {
  try {
    Statement update(
        "UPDATE messages set status = ?, DateOperation = ?, tempSD = ?, tempDFS = ? where id = ?");
    if (update.handle == nullptr) return false;
    sqlite3_bind_int64(update.handle, 1, kStatusSending);
    sqlite3_bind_int64(update.handle, 2, operationTime);
    BindBlob(update.handle, 3, signedData.data(), signedData.size(), true);
    BindBlob(update.handle, 4, payload.data(), payload.size(), true);
    sqlite3_bind_int64(update.handle, 5, id);
    return RunUpdate(update.handle);
  } catch (...) {
    core::LogException("MarkSending");
    return false;
  }
}

bool MarkDelivered(int64_t id, int32_t status, int64_t operationTime,
                   const std::vector<uint8_t>& message) {
  try {
    Statement update(kMarkDeliveredSql);
    if (update.handle == nullptr) return false;
    sqlite3_bind_int64(update.handle, 1, status);
    sqlite3_bind_int64(update.handle, 2, operationTime);
    BindBlob(update.handle, 3, message.data(), message.size(), true);
    sqlite3_bind_int64(update.handle, 4, id);
    return RunUpdate(update.handle);
  } catch (...) {
    core::LogException("MarkDelivered");
    return false;
  }
}

std::optional<StoredMessage> SelectForShow(int64_t id) {
  try {
    Statement select(
        "SELECT senderIKS,message,type,status,dateIn,expire,senderBranch,number from MESSAGES "
        "where id = ?");
    if (select.handle == nullptr) return std::nullopt;
    sqlite3_bind_int64(select.handle, 1, id);
    if (sqlite3_step(select.handle) != SQLITE_ROW) return std::nullopt;
    return ReadStored(select.handle);
  } catch (...) {
    core::LogException("SelectForShow");
    return std::nullopt;
  }
}

bool StoreDecrypted(int64_t id, const std::vector<uint8_t>& body, int32_t type) {
  try {
    Statement update("UPDATE messages set message = ?, type = ? where id = ?");
    if (update.handle == nullptr) return false;
    BindBlob(update.handle, 1, body.data(), body.size(), true);
    sqlite3_bind_int64(update.handle, 2, type);
    sqlite3_bind_int64(update.handle, 3, id);
    return RunUpdate(update.handle);
  } catch (...) {
    core::LogException("StoreDecrypted");
    return false;
  }
}

}  // namespace storage
