// Intake of messages from the server: the list and status requests, the
// count of waiting messages, fetching, checking, confirming, storing and
// deleting each waiting message, and the message list of the window.
//
// CheckIncomeMessage runs on a thread of its own (the window's timer
// starts it); ClientGetMessagesFromServer runs on the window's thread or a
// web worker, one run at a time (a second caller waits for the first);
// LoadMessagesFromBase on any thread. Nothing is lost and nothing stored
// twice: a message that cannot be fetched, stored or confirmed stays on the
// server and is fetched again; a message already stored is deleted on the
// server without being stored again.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "exchange/session.h"
#include "storage/messages.h"

namespace exchange {

// Request types of intake.
constexpr uint8_t kTypeStatus = 3;          // status; payload the program's digest
constexpr uint8_t kTypeList = 32;           // answer: 4-byte message identifiers
constexpr uint8_t kTypeGetList = 40;        // list of waiting messages
constexpr uint8_t kTypeGetMessage = 41;     // one message; payload its identifier
constexpr uint8_t kTypeDeleteMessage = 42;  // delete a stored message; payload its identifier
constexpr uint8_t kTypeRefusalReply = 56;   // a refusal; payload the refusal code

// Sends the list request. True when an answer record arrived, whatever it
// holds; the result as SendMessageAndGetAnswer fills it (a plain answer
// keeps its first two bytes). A list answer's identifiers are copied into
// *list (4 bytes each) when a list is given, and counted in the status area.
// Logs "GLM" / "GLM - end".
bool GetListMessages(ReplyResult* result, std::vector<uint8_t>* list);

// Sends the status request with the program's digest. True only when the
// server accepted it: the result then holds 174 and the service code. A
// refusal gives 255 and its code; an answer that is not a record, or none,
// gives 255/7. Logs "GMS" / "GMS - end".
bool GetMyStatus(ReplyResult* result);

// Counts the waiting messages and announces them ("Ожидают получения n
// сообщений"): in the status area while the window is shown, otherwise as a
// balloon with the client state 1. Sets the check-running flag while it
// runs. Logs nothing of its own; CTS does.
void CheckIncomeMessage();

// Starts CheckIncomeMessage on a thread of its own unless a check runs
// already; false when it did not start one.
bool StartCheckIncomeMessage();

// True while a check of waiting messages runs.
bool CheckIncomeRunning();

// Fetches, checks and stores every waiting message and deletes it on the
// server (see docs/exchange.md for the steps). Returns the number of
// identifiers in the list it worked through. Logs "CGMFS" / "CGMFS - end".
int ClientGetMessagesFromServer();

// Rebuilds the message list from the table, hands it to the window, and
// sends again every reply left waiting for the server (rows in status 1).
// Logs "LMFB" / "LMFB - end".
void LoadMessagesFromBase();

// The rows stored since the list was last filled join it (the window
// learns of them); nothing else is read, so a face that shows a page of a
// long list can ask for it without reading the whole table again.
void RefreshMessageList();

// What the window's list view must show after a load. The view asks the
// list (storage::MessagesInRange) for the rows it shows; it learns only
// how many there are and which are new.
struct MessageListUpdate {
  bool whole = true;       // every row may have changed
  size_t count = 0;        // entries in the list now
  std::vector<int> added;  // not whole: positions of the new entries, ascending
};

// The window's list view. Called on the thread of the load; the rows'
// texts are storage::MessageColumns of each entry.
using MessageListHook = std::function<void(const MessageListUpdate&)>;
void SetMessageListHook(MessageListHook hook);

// Tests: forget the hook, the identifiers known to be stored and the
// replies waiting to be sent again.
void ResetIntakeStateForTest();

}  // namespace exchange
