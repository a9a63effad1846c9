// The client state: one process-wide integer shared by every thread. It
// selects the tray icon, is written into "state.txt", and exchange with the
// server runs only while it is below 4.
#pragma once

namespace core {

enum ClientState : int {
  kStateReady = 0,              // ready
  kStateMessagesWaiting = 1,    // messages waiting, announced while hidden
  kStateNoKeyMedium = 2,        // key medium missing
  kStateNoLink = 3,             // no link to the АИС
  kStateCertificateInvalid = 4, // certificate not valid or revoked
  kStateCrlProblem = 5,         // revocation list expired or unavailable
  kStateWrongPassword = 6,      // the stored password does not open the key container
  kStateRegistrationDeclined = 7,
  kStateClockOutOfSync = 8,     // clock not synchronised with the АИС
};

int GetClientState();
void SetClientState(int state);

// Busy flags of the exchange-folder pass, written into "state.txt".
bool FolderBusy();
void SetFolderBusy(bool busy);
bool MoveBusy();
void SetMoveBusy(bool busy);

}  // namespace core
