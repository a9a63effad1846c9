// Watching a folder for changes, so that a caller can keep what it read
// from the folder until something in it changes. The certificate stores
// use it: they are opened for every signature and decryption and change a
// few times a year.
//
// Linux uses inotify; Windows a change notification handle
// (FindFirstChangeNotification).
#pragma once

#include <cstdint>
#include <string>

namespace platform {

struct FolderWatch {
  intptr_t handle = -1;  // inotify descriptor on Linux, change-notification HANDLE on Windows
};

// Starts watching the files directly in a folder. A file created, deleted,
// renamed, written or with changed attributes counts as a change, and so
// does the folder itself being deleted or moved. False, with the system's
// code in LastSystemError(), when the folder cannot be watched (it is
// missing, or the system's watches ran out).
bool FolderWatchStart(const std::string& folder, FolderWatch* watch);

// True when anything changed since the watch started or since the call
// before, and whenever the watch can no longer tell (it broke, or missed
// events); false only when nothing changed. Never waits. A change made
// before this call returns is reported by this call or the next.
bool FolderWatchChanged(FolderWatch* watch);

void FolderWatchStop(FolderWatch* watch);

}  // namespace platform
