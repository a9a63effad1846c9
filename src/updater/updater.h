// TSR_Update: the companion program that puts a downloaded client in place.
//
// The client writes the new executable as "Tessarin.upd" beside itself,
// starts TSR_Update without arguments and ends. The updater waits (three
// seconds at most) for that client to let go of its instance lock, keeps the
// two previous executables ("Tessarin.old", "Tessarin.old.old"), moves the
// new one in with the permissions of the one it replaces, starts it and
// waits about three seconds for the start marker "state.txt" that every
// client writes early in its start. When the new client cannot be started
// or writes no marker, the previous executable is put back and started.
#pragma once

#include <string>

namespace updater {

// Files of the client in its program folder (which ends with the
// separator).
struct ClientFiles {
  std::string stem;            // folder + "Tessarin"
  std::string executable;      // the client's executable (stem + ".exe" on Windows)
  std::string previous;        // the one that ran before this update
  std::string secondPrevious;  // the fallback before that
  std::string update;          // the new executable written by the client
  std::string startMarker;     // "state.txt", written by a starting client
};

ClientFiles ClientFilesIn(const std::string& folder);

// The whole update for the client in `folder`. Returns true when the new
// client reported its start.
bool RunUpdate(const std::string& folder);

// The program: log, own folder, RunUpdate. Always ends with exit code 0.
int RunUpdater();

}  // namespace updater
