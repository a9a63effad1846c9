// The simulator's state in SQLite: the registered organisations, every
// message it accepted or made (the mailboxes are the waiting ones), and the
// published program version. A file given on the command line keeps the
// state across restarts (a demo survives one); without it the database
// lives in memory. Sessions are not stored (sessions.h).
//
// One connection serves every thread; each call below holds the state's
// lock for its whole work, so a multi-step change is never seen half done.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "link/exchange_record.h"

namespace aissim {

// Service code of a newly registered organisation: sending allowed.
constexpr int kDefaultServiceCode = 3;

struct Organisation {
  std::string iks;                   // key identifier, 40 upper-case hex digits (the key of the table)
  int32_t unp = 0;                   // УНП from the certificate's extension
  uint16_t branch = 0;               // branch number from the last session start
  std::string name;                  // subject display name, UTF-8
  std::vector<uint8_t> certificate;  // DER of the certificate it registered with
  int serviceCode = kDefaultServiceCode;  // answered to the status request; 1 and 2 forbid sending
  std::string email;                 // registered e-mail address, bytes as sent
  int64_t registered = 0;            // simulator time of registration
};

enum MessageState {
  kWaiting = 0,  // in the recipient's mailbox
  kDeleted = 1,  // the recipient deleted it after storing it
  kExpired = 2,  // its expiry passed while it waited
};

struct StoredMessage {
  int64_t idm = 0;                 // message identifier, given at insertion
  std::string recipient;           // mailbox owner's key identifier (hex)
  std::string sender;              // sending organisation's key identifier; empty for the server's own status messages
  serverlink::ExchangeRecord record;  // the record the recipient fetches
  int family = 0;                  // type family (see TypeFamily)
  std::string numberText;          // the 27 digits of the number, empty without one
  int state = kWaiting;            // MessageState
  int64_t created = 0;             // simulator time of acceptance
  int64_t changed = 0;             // simulator time of the last state change
  int64_t original = 0;            // idm of the message this one answers, 0 for none
};

// The family of a wire type: the compression mark (+100) and the
// delivery-confirmation mark (+10 on 52 and 53) taken off, so that 52, 62,
// 152 and 162 are all 52 and 53, 63, 153, 163 are all 53.
int TypeFamily(int type);

// Opens the database ("" = in memory) and creates the tables. False (with
// the reason in *error) on failure.
bool OpenState(const std::string& path, std::string* error);
void CloseState();

// Organisations ---------------------------------------------------------------

// Inserts or replaces by key identifier.
bool SaveOrganisation(const Organisation& organisation);
std::optional<Organisation> FindOrganisation(const std::string& iks);
// The organisation with that УНП and branch; the earliest registered one
// when several certificates share them.
std::optional<Organisation> FindOrganisationByUnp(int32_t unp, uint16_t branch);
std::vector<Organisation> ListOrganisations();
bool SetServiceCode(const std::string& iks, int code);
bool SetEmail(const std::string& iks, const std::string& email);
bool SetBranch(const std::string& iks, uint16_t branch);

// Messages --------------------------------------------------------------------

// Stores the message (family and number text are derived from its record)
// and sets message->idm. False on a database failure.
bool AddMessage(StoredMessage* message);
std::optional<StoredMessage> LoadMessage(int64_t idm);
// Identifiers of the messages waiting for the recipient, oldest first.
std::vector<int64_t> WaitingIds(const std::string& recipient);
bool SetMessageState(int64_t idm, int state, int64_t now);

// The latest message addressed to `recipient` that carries the number and
// belongs to one of the families; the document a reply answers.
std::optional<StoredMessage> FindOriginal(const std::string& recipient, const std::string& numberText,
                                          const std::vector<int>& families);

// Whether the sender already sent a message of the family with the number
// (to `recipient`, when it is not empty).
bool SentBefore(const std::string& sender, const std::string& numberText, int family,
                const std::string& recipient);

// Waiting messages whose expiry lies before `now`.
std::vector<StoredMessage> ExpiredWaiting(int64_t now);

// Messages for the admin API: to a recipient (waitingOnly: its mailbox) or
// from a sender, oldest first, every one when both names are empty.
std::vector<StoredMessage> ListMessages(const std::string& recipient, const std::string& sender,
                                        bool waitingOnly);

// Runs `work` under the state's lock, so that a check and the insertion
// that depends on it cannot interleave with another thread's.
void WithStateLock(const std::function<void()>& work);

// Published program version ------------------------------------------------------

struct PublishedVersion {
  std::vector<uint8_t> digest;  // SHA-512 of the bytes, 64 bytes
  std::vector<uint8_t> bytes;   // the executable
  bool required = true;         // status requests with another digest are refused with code 3
};

bool PublishVersion(const PublishedVersion& version);
// Publishes a program whole: its SHA-512 becomes the digest. Nothing, and
// *error says why, when the bytes are empty or the version is not stored.
// Called by the admin API (POST /version) and for --publish at start.
std::optional<PublishedVersion> PublishProgram(std::vector<uint8_t> bytes, bool required, std::string* error);
bool WithdrawVersion();
std::optional<PublishedVersion> GetPublishedVersion();

}  // namespace aissim
