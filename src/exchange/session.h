// The session with the server and the request/answer routine.
//
// Every exchange with the server runs inside a session of the selected
// certificate: CheckCert and CheckContainer tell whether the client can
// work at all, StartExchangeWithServer opens a session (registering the
// organisation when the server does not know it), CTS keeps the link
// usable and retries, and SendMessageAndGetAnswer carries one request and
// its answer. The session identifier and key live in the selected
// certificate entry (crypto/certificates.h); the wire formats are in
// docs/frame-format.md and docs/transport.md, the session start in
// docs/exchange.md.
//
// Called by intake, replies, confirmations, the e-mail check, the document
// view, the exchange-folder handlers, the web interface and the window's
// timers, from any of their threads. The shared values below (connected
// flag, service status, registered and update-checked flags, the key-medium
// failure count) are atomics; session starts are serialised, so two threads
// never hand-shake at once.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/exchange_record.h"

namespace exchange {

// First byte of a ReplyResult: what came back.
constexpr uint8_t kReplyNothing = 0;     // nothing was sent
constexpr uint8_t kReplyRecord = 173;    // an answer record replaced the request
constexpr uint8_t kReplyAccepted = 174;  // accepted; the code is the acknowledgement byte
constexpr uint8_t kReplyRefused = 255;   // refused with the code; 255/7 also for a dropped connection

struct ReplyResult {
  uint8_t kind = kReplyNothing;  // kReplyNothing, kReplyRecord, kReplyAccepted or kReplyRefused
  uint8_t code = 0;              // second byte of the answer, the acknowledgement or the result code
};

// Window timers started here; the shell's timer logic owns their ids.
constexpr int kTimerContainer = 1002;   // re-checks the key medium
constexpr int kTimerLink = 1003;        // re-runs CTS
constexpr int kContainerRetryMs = 5000;
constexpr int kLinkRetryMs = 30000;

// The key-medium check polls its worker this often, at most this many times.
constexpr int kContainerPollMs = 400;
constexpr int kContainerPolls = 5;

// CTS tries at most this many times before it gives up.
constexpr int kLinkAttempts = 5;

// Sends the record (the request) within the session and puts the answer
// record in its place. True when an answer record arrived; the result says
// which (kReplyRecord, or kReplyAccepted / kReplyRefused with the payload's
// first byte). A request that could not be sent shows "Сообщения для АИС не
// отправлено" and gives 0/0; a connection that closed without an answer,
// an answer that is not a record, or one cut short gives 255/7 ("Соединение
// сброшено"); both clear the connected flag, as does a refusal with code 7.
// An answer of type 74 has its payload opened with the selected
// certificate. A refusal without its code byte gives 255/0 and false.
// Logs "SMAGA" / "SMAGA - end".
bool SendMessageAndGetAnswer(ReplyResult* result, serverlink::ExchangeRecord* record);

// Opens a session for the selected certificate: sends the session-start
// body, registers the organisation when the server does not know it (after
// asking the user, or as the web page or an earlier registration of this
// run decided), stores the session identifier and key in the entry of the
// certificate the session start was sent for (nothing, and false, when
// another one has been selected meanwhile) and checks the server's proof. True when the session was opened and the proof matched.
// Logs "SEWS" / "SEWS - end".
bool StartExchangeWithServer();

// Makes the link usable: checks the key medium, opens a session when none
// is open, and probes it with the list of waiting messages (list given:
// the identifiers land there, 4 bytes each, also after a fresh session) or
// the status request (list null), at most 5 attempts; code 7 starts a new
// session (unless another thread has just opened one), 101 and 3 count as
// a working link. On success it asks for the service status once and
// runs the e-mail check; on failure it starts timer 1003 and reports "Нет
// связи с АИС". False at once while the client state is 4 or more. Logs
// "CTS" / "CTS - end".
bool CTS(std::vector<uint8_t>* list);

// Selects the certificate named by the setting "IDC_CERT" and checks its
// validity and revocation, setting the client state 4 or 5 with a balloon
// on failure. False only when no listed certificate matches.
bool CheckCert();

// Whether the key medium of the selected certificate is present, asked on
// a worker thread that is polled every 400 ms, at most 5 times. A missing
// medium starts timer 1002 and counts a failure; from the third failure in
// a row the client state becomes 2. False without a selected certificate.
bool CheckContainer();

// How long the selected certificate and its issuer's revocation list still
// serve: for the warnings before they run out (the shell) and for tsr-tool
// doctor. Reads the store; sends nothing.
struct ValidityOutlook {
  bool certificate = false;     // a certificate is selected
  int64_t certificateEnds = 0;  // the end of its validity, file time (UTC)
  bool revocationList = false;  // a list of its issuer that the issuer's certificate verifies
  int64_t listNextUpdate = 0;   // the newest such list's next update, file time (UTC); 0 when it names none
  bool unverifiedList = false;  // a list of its issuer that no certificate of the issuer verifies
};
ValidityOutlook SelectedValidity();

// Whole days from `now` to `when` (both file times), rounded down: -1 for
// a moment of yesterday.
int64_t DaysUntil(int64_t when, int64_t now);

// The certificate warns this many days before its end, the list this many
// before its next update.
constexpr int kCertificateWarningDays = 30;
constexpr int kListWarningDays = 2;

// The user's warning for the outlook at `now`, in Russian: the days left
// of the certificate when it ends within 30 days, the list's when its next
// update is past or within 2 days. Empty when neither.
std::wstring ValidityWarning(const ValidityOutlook& outlook, int64_t now);

// True when the selected certificate entry holds a session (any non-zero
// identifier byte).
bool SessionOpen();

// Zeroes the session identifier and key of the selected entry, but only
// while it still holds the session `expected` (another thread may have
// opened a new one meanwhile).
void ClearSession(const std::array<uint8_t, 64>& expected);

// Shared flags ----------------------------------------------------------------------

bool Connected();                 // the last CTS found the link usable
void SetConnected(bool connected);
int ServiceStatus();              // the service code last answered to the status request, 0 until then
void SetServiceStatus(int status);
bool Registered();                // the organisation registered (or agreed to) in this run
void SetRegistered(bool registered);
bool UpdateChecked();             // the update check ran since the last code 3 or 7
void SetUpdateChecked(bool checked);
bool WebInterfaceActive();        // the local web interface serves the user
void SetWebInterfaceActive(bool active);
int ContainerFailures();          // key-medium checks failed in a row

// The SHA-512 digest of the client's own program file that the status
// request carries; all zero until the update check has computed it.
using ProgramDigest = std::array<uint8_t, 64>;
ProgramDigest CurrentProgramDigest();
void SetProgramDigest(const ProgramDigest& digest);

// Hooks of the shell -----------------------------------------------------------------

using Task = std::function<void()>;

// Shows the registration agreement after the user said yes to the
// registration question; it calls SetRegistered(true) when the user
// agrees. Without one the question alone decides nothing: the
// registration counts as declined.
void SetRegistrationDialog(Task dialog);

// The program's update check: run by the link check's service-status step
// while UpdateChecked() is clear (before the status request, which carries
// the digest the check computes) and again when the server refuses the
// status request with code 3. It may end the process (a new program was
// handed to the updater). Without one nothing is checked.
void SetUpdateCheck(Task check);

// What timers 1002 and 1003 run on the user-interface thread. Without a
// task of the shell, timer 1002 runs CheckContainer and timer 1003 runs
// CTS without a list.
void SetContainerTimerTask(Task task);
void SetLinkTimerTask(Task task);

// (Re)starts timer 1003 with the period; it runs the shell's task (see
// above) or CTS. CTS starts it with kLinkRetryMs after a failure; the
// exchange folder restarts it with a longer period when the server stops
// taking documents.
void StartLinkTimer(int periodMs);

// Tests: every flag, hook and count back to its start value.
void ResetSessionStateForTest();

}  // namespace exchange
