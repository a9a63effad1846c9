// The message table `Messages` of "TS.db" and its in-memory copy, the
// message list (layout and statuses in docs/message-table.md).
//
// Every received message stays in the table for good. The list mirrors the
// table newest first; position n of the list is row n of the window's list
// view, and the window, the dialogs and the web interface name a message by
// that position. The list is not capped: it holds every row of the table,
// but keeps of each only its key (time, id, idm) and reads a row's columns
// when they are asked for, so years of documents cost little.
//
// The statement functions run on the shared connection from any thread;
// each prepares, runs and finalizes its statement within the call. A
// statement that cannot be prepared writes SQLite's message to the error
// log and the function returns its failure value. One mutex guards the
// list; readers get copies of entries. Callers: intake (InsertMessage,
// SelectIdByIdm, RebuildMessageList), replies (SelectForSending,
// MarkSending, MarkDelivered, SetMessageStatus), document view
// (SelectForShow, StoreDecrypted), the window and the web interface (the
// list and the shown texts).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace storage {

// Type codes kept in `type`.
constexpr int32_t kMessageDocument = 52;            // document signed by its sender
constexpr int32_t kMessageCertificateRequest = 73;  // request for the client's certificate

// Status codes kept in `status`; 111..199 is a refusal with that code.
constexpr int32_t kStatusReceived = 0;  // not yet answered
constexpr int32_t kStatusSending = 1;   // reply saved, not yet accepted
constexpr int32_t kStatusSigned = 2;    // reply accepted

constexpr size_t kIksBytes = 20;      // key identifier of a certificate
constexpr size_t kNumberBytes = 18;   // message number as received

using Iks = std::array<uint8_t, kIksBytes>;
using MessageNumber = std::array<uint8_t, kNumberBytes>;

// One entry of the message list.
struct MessageEntry {
  int32_t id = 0;            // `id` of the row
  int32_t senderUNP = 0;     // `senderUNP`
  int32_t senderBranch = 0;  // `senderBranch`
  Iks senderIKS{};           // `senderIKS`; zero bytes where the blob was shorter
  int32_t status = 0;        // `status`
  int64_t dateIn = 0;        // `dateIn`, seconds since 1970 UTC
  int32_t type = 0;          // `type`
  int32_t idm = 0;           // `idm`
  std::wstring senderName;   // `senderName` from UTF-8
  int32_t row = 0;           // list-view row that shows the entry (its position)
};

// A message to be stored by InsertMessage.
struct NewMessage {
  int32_t idm = 0;            // identifier on the server
  int64_t dateIn = 0;         // moment of receipt, seconds since 1970 UTC
  int32_t senderUNP = 0;      // sender's taxpayer number
  uint16_t senderBranch = 0;  // sender's branch code
  std::string senderName;     // name bytes as received (UTF-8), at most 255
  Iks senderIKS{};            // sender's key identifier
  int32_t type = 0;           // type code to store
  std::vector<uint8_t> message;  // the body
  MessageNumber number{};     // message number as received
  int32_t expire = 0;         // expiry value, stored as it came
};

// A row read by SelectForSending or SelectForShow. Blobs of the wrong
// length are cut or completed with zero bytes, never read past their end.
struct StoredMessage {
  Iks senderIKS{};                 // `senderIKS`
  std::vector<uint8_t> message;    // `message`
  int32_t type = 0;                // `type`
  int32_t status = 0;              // `status`
  int64_t dateIn = 0;              // `dateIn`
  int32_t expire = 0;              // `expire`
  int32_t senderBranch = 0;        // `senderBranch`
  MessageNumber number{};          // `number`
  std::vector<uint8_t> tempSD;     // `TempSD` (SelectForSending only)
  std::vector<uint8_t> tempDFS;    // `TempDFS` (SelectForSending only)
};

// --- Statements ---------------------------------------------------------

// The row id of the stored message with this server identifier; 0 when
// there is none, -1 when the statement failed.
int64_t SelectIdByIdm(int32_t idm);

// Stores a received message with status 0 and dateOperation 0. Logs
// "step - <code>". Returns 0 on success, otherwise SQLite's code of the
// failed prepare or step.
int InsertMessage(const NewMessage& message);

// Every row, newest first (rows of equal dateIn by ascending id, the order
// of the index of the list's columns, from which they are read), with
// `row` set to the position. False when the statement failed; the rows
// read so far are kept.
bool SelectMessageList(std::vector<MessageEntry>* rows);

// The rows whose id is above `afterId`, newest first (equal dateIn by
// ascending id), `row` left 0. False when the statement failed.
bool SelectMessagesAfter(int64_t afterId, std::vector<MessageEntry>* rows);

// The rows in status 1 (a reply saved and not yet accepted), found by the
// status index, `row` left 0. False when the statement failed.
bool SelectSendingRows(std::vector<MessageEntry>* rows);

// What the list keeps of a row: enough to find and order it.
struct ListKey {
  int64_t dateIn = 0;  // `dateIn`
  int32_t id = 0;      // `id`
  int32_t idm = 0;     // `idm`
};

// Every row's key, oldest first (the list's order reversed), from the
// list's index. False when the statement failed.
bool SelectListKeys(std::vector<ListKey>* keys);

// The list's columns of one row, `row` left 0; none when missing or failed.
std::optional<MessageEntry> SelectListEntry(int32_t id);

// The database's data version (it changes when another connection commits)
// and the number of rows this process's connection has changed so far.
// False when the statement failed.
bool SelectTableVersion(int64_t* dataVersion, int64_t* ownChanges);

// The row of the id with the saved reply; none when missing or failed.
std::optional<StoredMessage> SelectForSending(int64_t id);

// Saves a prepared reply: status 1, the operation time, the signed data and
// the payload for the server. True only when the row was written; a reply
// that was not saved must not be sent, since nothing could send it again.
bool MarkSending(int64_t id, int64_t operationTime, const std::vector<uint8_t>& signedData,
                 const std::vector<uint8_t>& payload);

// Records an accepted reply: the final status (2 or the refusal code), the
// operation time and the new body; empties both saved reply columns (empty
// text values, not NULL). True when the row was written.
bool MarkDelivered(int64_t id, int32_t status, int64_t operationTime,
                   const std::vector<uint8_t>& message);

// Texts of the statements that OpenDatabase prepares once before it calls
// the database usable (MarkDelivered's: a reply saved in status 1 must
// be able to finish), ending with null.
extern const char* const kStatementsCheckedAtOpen[];

// The row of the id for viewing and saving; none when missing or failed.
std::optional<StoredMessage> SelectForShow(int64_t id);

// Writes the decrypted body and its type back. True when the row was
// written.
bool StoreDecrypted(int64_t id, const std::vector<uint8_t>& body, int32_t type);

// --- The list -----------------------------------------------------------

// Refills the list from SelectListKeys in one step and returns its
// length. When the statement fails the list is left empty and the result
// is none.
std::optional<size_t> RebuildMessageList();

// Adds the rows stored since the list was last filled (ids above the
// highest id it holds) at their places, newest first, a row of equal
// dateIn behind the older ones as a rebuild orders them (the rows behind
// move one position on). Reads only the new rows, so intake can refresh the list
// after every stored message however long the table is. Returns the added
// entries with their positions, in ascending position (empty when nothing
// was new); none when the statement failed (the list is then unchanged).
std::optional<std::vector<MessageEntry>> AddNewMessagesToList();

size_t MessageCount();

// A copy of the entry at a position; none when out of range.
std::optional<MessageEntry> MessageAt(int position);

// Copies of the entries from position `first` on, at most `count` of them.
// A face shows a screenful of a list that may hold years of documents.
std::vector<MessageEntry> MessagesInRange(size_t first, size_t count);

// Every row as the list shows it, read in one statement (the web page's
// list of the first version; faces page with MessagesInRange).
std::vector<MessageEntry> MessageListSnapshot();

// What MessageListSnapshot would read, as a value that changes whenever
// the table changes (through this process's connection or another
// program's) or a status is written into the list. Equal values mean an
// equal snapshot; read it before the snapshot, so that a change made
// meanwhile shows as a new value next time. Empty when the database cannot
// say.
using ListVersion = std::array<int64_t, 4>;
std::optional<ListVersion> MessageListVersion();

// The server identifiers of every entry, in list order.
std::vector<int32_t> ListedIdms();

// Position of the first entry with this server identifier, or -1.
int FindMessageByIdm(int32_t idm);

// Position of the entry of this row id, or -1.
int FindMessageById(int32_t id);

// Writes a new status into the entry at the position, so that the window
// and the web interface see it before the next reload. Only when that
// position still holds the row `id` (a reload may have moved it); returns
// whether it did.
bool SetMessageStatus(int position, int32_t id, int32_t status);

// --- Shown texts --------------------------------------------------------

// "Не подписан", "Отправляется", "Подписан", or "Отклонен" for any other
// status.
std::wstring StatusText(int32_t status);

// "Запрос на СОК" for type 73, "Электронный документ" otherwise.
std::wstring TypeText(int32_t type);

// "%Y-%m-%d %H:%M:%S" of a moment in local time; the Utf8 form for the
// web page's list.
std::wstring FormatMessageDate(int64_t seconds);
std::string FormatMessageDateUtf8(int64_t seconds);

// The five columns of the entry's list-view row: date, sender's name,
// sender's taxpayer number, type text, status text.
std::array<std::wstring, 5> MessageColumns(const MessageEntry& entry);

}  // namespace storage
