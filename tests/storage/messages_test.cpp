// The message table against a real "TS.db": storing and finding received
// messages, the list and its order, the life of a reply in the row, blobs
// of unexpected length, failures, and the list shared between threads.
#include <sqlite3.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "storage/messages.h"
#include "storage_fixture.h"

namespace storage_test {
namespace {

using storage::MessageEntry;
using storage::NewMessage;

NewMessage Sample(int32_t idm, int64_t dateIn) {
  NewMessage m;
  m.idm = idm;
  m.dateIn = dateIn;
  m.senderUNP = 190000000 + idm;
  m.senderBranch = 65535;
  m.senderName = "ООО \"Отправитель\" " + std::to_string(idm);
  for (size_t i = 0; i < m.senderIKS.size(); ++i) m.senderIKS[i] = static_cast<uint8_t>(i + idm);
  m.type = storage::kMessageDocument;
  m.message = std::vector<uint8_t>(100, static_cast<uint8_t>(idm));
  for (size_t i = 0; i < m.number.size(); ++i) m.number[i] = static_cast<uint8_t>(0x80 + i);
  m.expire = 77;
  return m;
}

class MessagesTest : public StorageTest {
 protected:
  int64_t Insert(int32_t idm, int64_t dateIn) {
    EXPECT_EQ(storage::InsertMessage(Sample(idm, dateIn)), 0);
    return sqlite3_last_insert_rowid(storage::Database());
  }
};

TEST_F(MessagesTest, StoredMessageIsFoundByItsServerIdentifierAndReadBack) {
  EXPECT_EQ(storage::SelectIdByIdm(500), 0);
  int64_t id = Insert(500, 1700000000);
  EXPECT_EQ(storage::SelectIdByIdm(500), id);
  EXPECT_EQ(storage::SelectIdByIdm(501), 0);
  EXPECT_NE(LogText().find("step - 101"), std::string::npos);

  EXPECT_EQ(Query("SELECT status || ',' || dateOperation || ',' || senderBranch || ',' || expire "
                  "FROM Messages"),
            "0,0,65535,77");
  std::optional<storage::StoredMessage> row = storage::SelectForShow(id);
  ASSERT_TRUE(row.has_value());
  NewMessage sample = Sample(500, 1700000000);
  EXPECT_EQ(row->senderIKS, sample.senderIKS);
  EXPECT_EQ(row->number, sample.number);
  EXPECT_EQ(row->message, sample.message);
  EXPECT_EQ(row->type, 52);
  EXPECT_EQ(row->dateIn, 1700000000);
  EXPECT_EQ(row->senderBranch, 65535);
  EXPECT_FALSE(storage::SelectForShow(id + 1).has_value());
}

// The list after a rebuild, as a copy; none when the rebuild failed.
std::optional<std::vector<MessageEntry>> Rebuilt() {
  if (!storage::RebuildMessageList()) return std::nullopt;
  return storage::MessageListSnapshot();
}

TEST_F(MessagesTest, ListIsNewestFirstAndEqualDatesStayTogether) {
  std::optional<std::vector<MessageEntry>> empty = Rebuilt();
  ASSERT_TRUE(empty.has_value());
  EXPECT_TRUE(empty->empty());
  EXPECT_EQ(storage::MessageCount(), 0u);

  int64_t oldest = Insert(1, 1000);
  int64_t tieA = Insert(2, 3000);
  int64_t newest = Insert(3, 5000);
  int64_t tieB = Insert(4, 3000);
  std::optional<std::vector<MessageEntry>> list = Rebuilt();
  ASSERT_TRUE(list.has_value());
  ASSERT_EQ(list->size(), 4u);
  EXPECT_EQ((*list)[0].id, newest);
  EXPECT_EQ((std::vector<int64_t>{(*list)[1].id, (*list)[2].id}), (std::vector<int64_t>{tieA, tieB}))
      << "equal dates in the order they were stored";
  EXPECT_EQ((*list)[3].id, oldest);
  for (size_t i = 0; i < list->size(); ++i) EXPECT_EQ((*list)[i].row, static_cast<int32_t>(i));

  std::optional<MessageEntry> first = storage::MessageAt(0);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->idm, 3);
  EXPECT_EQ(first->senderUNP, 190000003);
  EXPECT_EQ(first->senderName, L"ООО \"Отправитель\" 3");
  EXPECT_EQ(first->senderIKS, Sample(3, 0).senderIKS);
  EXPECT_FALSE(storage::MessageAt(4).has_value());
  EXPECT_FALSE(storage::MessageAt(-1).has_value());
  EXPECT_EQ(storage::FindMessageByIdm(1), 3);
  EXPECT_EQ(storage::FindMessageByIdm(99), -1);
}

TEST_F(MessagesTest, DatesAfter2038AreReadAsSixtyFourBits) {
  const int64_t in2100 = 4118126400;  // 2100-07-01 12:00:00 UTC
  Insert(7, in2100);
  ASSERT_TRUE(storage::RebuildMessageList().has_value());
  std::optional<MessageEntry> entry = storage::MessageAt(0);
  ASSERT_TRUE(entry.has_value());
  EXPECT_EQ(entry->dateIn, in2100);
  std::wstring shown = storage::FormatMessageDate(entry->dateIn);
  EXPECT_EQ(shown.size(), 19u);
  EXPECT_EQ(shown.substr(0, 9), L"2100-07-0") << std::string(shown.begin(), shown.end());
  EXPECT_EQ(storage::MessageColumns(*entry)[0], shown);
  EXPECT_EQ(storage::SelectForShow(entry->id)->dateIn, in2100);
}

TEST_F(MessagesTest, ShownTexts) {
  EXPECT_EQ(storage::StatusText(0), L"Не подписан");
  EXPECT_EQ(storage::StatusText(1), L"Отправляется");
  EXPECT_EQ(storage::StatusText(2), L"Подписан");
  for (int32_t refused : {3, 115, 199, -1}) EXPECT_EQ(storage::StatusText(refused), L"Отклонен");
  EXPECT_EQ(storage::TypeText(73), L"Запрос на СОК");
  for (int32_t other : {52, 62, 152, 0}) EXPECT_EQ(storage::TypeText(other), L"Электронный документ");

  MessageEntry entry;
  entry.senderName = L"Имя";
  entry.senderUNP = 191234567;
  entry.type = 73;
  entry.status = 115;
  std::array<std::wstring, 5> columns = storage::MessageColumns(entry);
  EXPECT_EQ(columns[1], L"Имя");
  EXPECT_EQ(columns[2], L"191234567");
  EXPECT_EQ(columns[3], L"Запрос на СОК");
  EXPECT_EQ(columns[4], L"Отклонен");
}

TEST_F(MessagesTest, ReplyTravelsThroughTheRowAndLeavesEmptyTexts) {
  int64_t id = Insert(10, 2000);
  std::vector<uint8_t> signedData(3000, 0x5A);
  std::vector<uint8_t> payload(500, 0xC3);
  ASSERT_TRUE(storage::MarkSending(id, 1234567, signedData, payload));
  std::optional<storage::StoredMessage> sending = storage::SelectForSending(id);
  ASSERT_TRUE(sending.has_value());
  EXPECT_EQ(sending->status, storage::kStatusSending);
  EXPECT_EQ(sending->tempSD, signedData);
  EXPECT_EQ(sending->tempDFS, payload);
  EXPECT_EQ(Query("SELECT dateOperation FROM Messages"), "1234567");

  ASSERT_TRUE(storage::MarkDelivered(id, storage::kStatusSigned, 1234999, signedData));
  EXPECT_EQ(Query("SELECT typeof(TempSD) || ',' || length(TempSD) || ',' || typeof(TempDFS) || ',' || "
                  "length(TempDFS) FROM Messages"),
            "text,0,text,0");
  std::optional<storage::StoredMessage> done = storage::SelectForSending(id);
  ASSERT_TRUE(done.has_value());
  EXPECT_EQ(done->status, storage::kStatusSigned);
  EXPECT_EQ(done->message, signedData);
  EXPECT_TRUE(done->tempSD.empty());

  // A refusal code is a status of its own; the decrypted body goes back.
  ASSERT_TRUE(storage::MarkDelivered(id, 115, 1235000, done->message));
  ASSERT_TRUE(storage::StoreDecrypted(id, {1, 2, 3}, 52));
  EXPECT_EQ(storage::SelectForShow(id)->status, 115);
  EXPECT_EQ(storage::SelectForShow(id)->message, (std::vector<uint8_t>{1, 2, 3}));

  // Empty data is stored as empty values, never NULL.
  ASSERT_TRUE(storage::MarkSending(id, 1, {}, {}));
  EXPECT_EQ(Query("SELECT typeof(TempSD) || typeof(TempDFS) FROM Messages"), "blobblob");
}

TEST_F(MessagesTest, UpdatesReportRowsTheyCouldNotWrite) {
  int64_t id = Insert(11, 2000);
  EXPECT_FALSE(storage::MarkSending(id + 100, 1, {1}, {2}));
  EXPECT_FALSE(storage::MarkDelivered(id + 100, 2, 1, {1}));
  EXPECT_FALSE(storage::StoreDecrypted(id + 100, {1}, 52));

  // The database refuses every write: the reply must not count as saved.
  Exec("PRAGMA query_only = 1");
  EXPECT_FALSE(storage::MarkSending(id, 1, {1}, {2}));
  EXPECT_NE(storage::InsertMessage(Sample(12, 1)), 0);
  Exec("PRAGMA query_only = 0");
  EXPECT_EQ(storage::SelectForSending(id)->status, storage::kStatusReceived);
  EXPECT_TRUE(storage::MarkSending(id, 1, {1}, {2}));
}

TEST_F(MessagesTest, BlobsOfUnexpectedLengthAreNeverReadPastTheirEnd) {
  Exec("INSERT INTO Messages (idm, dateIn, senderIKS, number, senderName, message) "
       "VALUES (1, 10, X'0102030405', X'AABBCC', NULL, NULL)");
  Exec("INSERT INTO Messages (idm, dateIn, senderIKS, number, senderName, message) "
       "VALUES (2, 20, zeroblob(40), randomblob(30), X'FF', X'')");
  std::optional<std::vector<MessageEntry>> list = Rebuilt();
  ASSERT_TRUE(list.has_value());
  ASSERT_EQ(list->size(), 2u);
  const MessageEntry& shortOne = (*list)[1];
  EXPECT_EQ(shortOne.senderIKS, (storage::Iks{1, 2, 3, 4, 5}));
  EXPECT_EQ(shortOne.senderName, L"");
  // A name that is not UTF-8 still shows something.
  EXPECT_EQ((*list)[0].senderName, L"\xFFFD");

  std::optional<storage::StoredMessage> row = storage::SelectForSending(shortOne.id);
  ASSERT_TRUE(row.has_value());
  EXPECT_EQ(row->number, (storage::MessageNumber{0xAA, 0xBB, 0xCC}));
  EXPECT_TRUE(row->message.empty());
  EXPECT_TRUE(row->tempDFS.empty());
  std::optional<storage::StoredMessage> longOne = storage::SelectForShow((*list)[0].id);
  ASSERT_TRUE(longOne.has_value());
  EXPECT_EQ(longOne->senderIKS, storage::Iks{});
}

TEST_F(MessagesTest, SenderNameOf255BytesIsStoredWhole) {
  NewMessage m = Sample(20, 100);
  m.senderName.clear();
  for (int i = 0; i < 127; ++i) m.senderName += "Я";
  m.senderName += "z";  // 255 bytes
  ASSERT_EQ(storage::InsertMessage(m), 0);
  EXPECT_EQ(Query("SELECT length(senderName) FROM Messages"), "255");
  ASSERT_TRUE(storage::RebuildMessageList().has_value());
  EXPECT_EQ(storage::MessageAt(0)->senderName, std::wstring(127, L'Я') + L"z");
}

TEST_F(MessagesTest, ListGrowsPast1024AndKeepsPositions) {
  Exec("BEGIN");
  for (int i = 0; i < 1500; ++i) ASSERT_EQ(storage::InsertMessage(Sample(i, 100000 + i)), 0);
  Exec("COMMIT");
  ASSERT_TRUE(storage::RebuildMessageList().has_value());
  ASSERT_EQ(storage::MessageCount(), 1500u);
  std::optional<MessageEntry> last = storage::MessageAt(1499);
  ASSERT_TRUE(last.has_value());
  EXPECT_EQ(last->idm, 0);
  EXPECT_EQ(last->row, 1499);
  EXPECT_EQ(storage::FindMessageByIdm(0), 1499);

  // A status change reaches the entry only while it still holds its row.
  EXPECT_TRUE(storage::SetMessageStatus(1499, last->id, 2));
  EXPECT_EQ(storage::MessageAt(1499)->status, 2);
  EXPECT_FALSE(storage::SetMessageStatus(1498, last->id, 1));
  EXPECT_FALSE(storage::SetMessageStatus(1500, last->id, 1));
}

TEST_F(MessagesTest, MissingTableIsLoggedAndEmptiesTheList) {
  Insert(1, 1);
  ASSERT_TRUE(storage::RebuildMessageList().has_value());
  ASSERT_EQ(storage::MessageCount(), 1u);
  Exec("DROP TABLE Messages");
  EXPECT_FALSE(storage::RebuildMessageList().has_value());
  EXPECT_EQ(storage::MessageCount(), 0u);
  EXPECT_EQ(storage::SelectIdByIdm(1), -1);
  EXPECT_NE(storage::InsertMessage(Sample(2, 2)), 0);
  EXPECT_FALSE(storage::SelectForSending(1).has_value());
  EXPECT_FALSE(storage::MarkSending(1, 1, {1}, {1}));
  EXPECT_NE(LogText().find("Error = no such table: MESSAGES"), std::string::npos);
}

TEST_F(MessagesTest, ReadersWhileTheListIsRebuiltAndStatusesChange) {
  Exec("PRAGMA synchronous = OFF");  // many small commits; durability is not the point here
  for (int i = 0; i < 50; ++i) Insert(i, 1000 + i);
  ASSERT_TRUE(storage::RebuildMessageList().has_value());
  std::atomic<bool> stop{false};
  std::atomic<int> faults{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 3; ++r) {
    readers.emplace_back([&, r] {
      while (!stop) {
        std::vector<MessageEntry> list = storage::MessageListSnapshot();
        for (size_t i = 0; i < list.size(); ++i) {
          if (list[i].row != static_cast<int32_t>(i)) ++faults;
          if (i > 0 && list[i - 1].dateIn < list[i].dateIn) ++faults;
        }
        std::optional<MessageEntry> entry = storage::MessageAt(r);
        if (entry) {
          storage::SetMessageStatus(r, entry->id, 1);
          storage::MarkSending(entry->id, 1, {1, 2}, {3});
          if (storage::MessageColumns(*entry)[1].empty()) ++faults;
        }
        if (storage::SelectIdByIdm(r) <= 0) ++faults;
      }
    });
  }
  for (int i = 50; i < 120; ++i) {
    ASSERT_EQ(storage::InsertMessage(Sample(i, 1000 + i)), 0);
    ASSERT_TRUE(storage::RebuildMessageList().has_value());
  }
  stop = true;
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(faults.load(), 0);
  EXPECT_EQ(storage::MessageCount(), 120u);
}

// The statements reach SQLite character for character (tabs, blanks and
// quotes included): other copies of the client and its support tools
// recognise them by their text in traces.
std::vector<std::string> traced;
int Trace(unsigned, void*, void* statement, void*) {
  traced.push_back(sqlite3_sql(static_cast<sqlite3_stmt*>(statement)));
  return 0;
}

// A table of years of documents costs what a small one does only when its
// queries find their rows through the indexes; a database made before the
// indexes existed gains them at its next start.
TEST_F(MessagesTest, AnOldDatabaseGainsTheIndexesTheListAndTheLookupsRead) {
  Exec("DROP INDEX MessagesList; DROP INDEX MessagesByStatus; DROP INDEX MessagesByIdm");
  Insert(1, 10);
  Restart();
  auto plan = [&](const std::string& sql) {
    std::string steps;
    sqlite3_stmt* statement = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(storage::Database(), ("EXPLAIN QUERY PLAN " + sql).c_str(), -1, &statement, nullptr),
              SQLITE_OK);
    while (statement != nullptr && sqlite3_step(statement) == SQLITE_ROW) {
      steps += reinterpret_cast<const char*>(sqlite3_column_text(statement, 3)) + std::string("; ");
    }
    sqlite3_finalize(statement);
    return steps;
  };
  EXPECT_EQ(plan("SELECT senderUNP,senderName,type,status,dateIn,expire,senderBranch,id,senderIKS,idm "
                 "from MESSAGES order by dateIn DESC"),
            "SCAN MESSAGES USING COVERING INDEX MessagesList; ");
  EXPECT_EQ(plan("SELECT id from MESSAGES WHERE idm = ?"), "SEARCH MESSAGES USING COVERING INDEX MessagesByIdm (idm=?); ");
  EXPECT_NE(plan("SELECT senderUNP FROM MESSAGES WHERE status = 1").find("USING INDEX MessagesByStatus"),
            std::string::npos);
  std::vector<MessageEntry> sending;
  ASSERT_TRUE(storage::SelectSendingRows(&sending));
  EXPECT_TRUE(sending.empty());
  storage::MarkSending(storage::SelectIdByIdm(1), 1, {1}, {1});
  ASSERT_TRUE(storage::SelectSendingRows(&sending));
  ASSERT_EQ(sending.size(), 1u);
  EXPECT_EQ(sending[0].idm, 1);
}

TEST_F(MessagesTest, StatementTextsAreTheClientsOwn) {
  traced.clear();
  sqlite3_trace_v2(storage::Database(), SQLITE_TRACE_STMT, &Trace, nullptr);
  int64_t id = Insert(1, 1);
  storage::SelectIdByIdm(1);
  storage::RebuildMessageList();
  storage::SelectForSending(id);
  storage::MarkSending(id, 1, {1}, {1});
  storage::MarkDelivered(id, 2, 1, {1});
  storage::SelectForShow(id);
  storage::StoreDecrypted(id, {1}, 52);
  storage::SetSettingInt("IDC_RUN", 1);
  storage::SaveSettings();
  storage::SaveSettings();
  storage::LoadSettings();
  sqlite3_trace_v2(storage::Database(), 0, nullptr, nullptr);
  std::vector<std::string> expected = {
      "INSERT INTO MESSAGES (idm,dateIn,dateOperation,senderUNP,\t\t\t\t\t\t\tsenderBranch,senderName,"
      "senderIKS,type,status,message,number,expire) VALUES(?,?,?,?,?,?,?,?,?,?,?,?)",
      "SELECT id from MESSAGES WHERE idm = ?",
      "SELECT dateIn, id, idm from MESSAGES order by dateIn ASC, id DESC",
      "SELECT senderIKS,message,type,status,dateIn,expire,senderBranch,number,tempSD,tempDFS from "
      "MESSAGES where id = ?",
      "UPDATE messages set status = ?, DateOperation = ?, tempSD = ?, tempDFS = ? where id = ?",
      "UPDATE messages set status = ?, DateOperation = ?, tempSD = '', tempDFS = '', message = ? "
      "where id = ?",
      "SELECT senderIKS,message,type,status,dateIn,expire,senderBranch,number from MESSAGES where id = ?",
      "UPDATE messages set message = ?, type = ? where id = ?",
      "SELECT Name,type,I,B from SETTINGS where id=?",
      "INSERT INTO SETTINGS (type,i,name,b)  VALUES(?,?,?,?)",
      "SELECT Name,type,I,B from SETTINGS where id=?",
      "UPDATE SETTINGS set type = ?, i = ?, b = ? where id = ?",
      "SELECT id,Name,type,I,B from SETTINGS",
  };
  EXPECT_EQ(traced, expected);
}

// A support engineer's sqlite3 reading the file while the client starts:
// the client waits for the lock instead of failing with "database is
// locked".
TEST_F(MessagesTest, OpeningWaitsWhileAnotherConnectionReads) {
  storage::CloseDatabase();
  const std::string path = folder.path + "new.db";  // its tables are still to be made
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "CREATE TABLE t(x); BEGIN; SELECT count(*) FROM t;", nullptr, nullptr, nullptr),
            SQLITE_OK);
  std::atomic<bool> done{false};
  bool opened = false;
  std::thread opener([&] {
    opened = storage::OpenDatabase(path, storage::kSchemaScript);
    done = true;
  });
  // The opener has made the tables in its journal and waits to commit them
  // (or has given up).
  while (!done && !std::filesystem::exists(path + "-journal")) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  opener.join();
  sqlite3_close(other);
  EXPECT_TRUE(opened) << LogText();
  EXPECT_EQ(storage::InsertMessage(Sample(1, 1)), 0);
}

// A copy of "TS.db" taken after the client ended holds every row, even
// when a tool still had the file open (so that the client's close is not
// the last one).
TEST_F(MessagesTest, ClosingEmptiesTheWriteAheadLogIntoTheFile) {
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(DatabasePath().c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "SELECT count(*) FROM Messages", nullptr, nullptr, nullptr), SQLITE_OK);
  for (int i = 1; i <= 20; ++i) Insert(i, i);
  storage::CloseDatabase();
  std::error_code missing;
  const auto walSize = std::filesystem::file_size(DatabasePath() + "-wal", missing);
  EXPECT_TRUE(missing || walSize == 0) << walSize;
  std::filesystem::copy_file(DatabasePath(), folder.path + "copy.db");
  sqlite3_close(other);
  ASSERT_TRUE(storage::OpenDatabase(folder.path + "copy.db", storage::kSchemaScript));
  EXPECT_EQ(Query("SELECT count(*) FROM Messages"), "20");
}

// MarkDelivered finishes a reply saved in status 1; a SQLite that cannot
// take it must stop the start rather than leave such rows for ever.
TEST_F(MessagesTest, TheStatementThatFinishesAReplyIsCheckedAtOpening) {
  int64_t id = Insert(1, 1);
  ASSERT_TRUE(storage::MarkSending(id, 1, {1}, {2}));
  // Without SQLite's leniency for "" the statement still runs.
  sqlite3_db_config(storage::Database(), SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
  EXPECT_TRUE(storage::MarkDelivered(id, storage::kStatusSigned, 2, {3}));
  EXPECT_EQ(Query("SELECT typeof(TempSD) || length(TempSD) || typeof(TempDFS) FROM Messages"), "text0text");

  // A table the statement cannot run on is refused when the file is opened.
  storage::CloseDatabase();
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open((folder.path + "old.db").c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "CREATE TABLE Messages (id INTEGER PRIMARY KEY, idm INTEGER, status INTEGER)",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(other);
  EXPECT_FALSE(storage::OpenDatabase(folder.path + "old.db", storage::kSchemaScript));
  EXPECT_EQ(storage::Database(), nullptr);
  EXPECT_NE(LogText().find("Error = no such column: "), std::string::npos) << LogText();
}

}  // namespace
}  // namespace storage_test
