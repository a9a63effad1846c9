// The client's update check: the digest of its own program file against the
// digest of the version the server publishes, and, when they differ, the
// download of the new program, which is handed to the updater TSR_Update
// before the client ends.
//
// Called by the link check's service-status step (joined through
// exchange::SetUpdateCheck at start), the menu command 1018 and the console
// command "update"; it runs on whichever thread calls it, and checks of two
// threads take turns.
#pragma once

namespace shell {

// The downloaded program in the program folder, which the updater moves in
// place of the client's executable.
extern const char kUpdateFileName[];

// Computes the digest of the running program (it also goes into the status
// request) and, when connected, asks the server for the published one
// (request type 8). Equal: the version is current (UpdateChecked is set).
// Different: downloads the program (type 9) and, only when its SHA-512 is
// the published digest and it was written whole to "Tessarin.upd", starts
// the updater and ends the client with exit code 0; exit code 1 after the
// support message when the updater cannot be started. Any other failure
// removes "Tessarin.upd" and leaves the client running: the next check
// tries again. Logs "CheckUpdate" / "CheckUpdate-end".
void CheckUpdate();

}  // namespace shell
