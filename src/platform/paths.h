// Where the program lives and where it may write temporary files.
#pragma once

#include <string>

namespace platform {

// Separator of folders in a path: '/' on Linux, '\\' on Windows. Folders
// handed around the program end with it.
extern const char kPathSeparator;

// What the name of an executable ends with: nothing on Linux, ".exe" on
// Windows ("Tessarin" and "Tessarin.exe").
extern const char kExecutableSuffix[];

// Full path of the running executable (UTF-8), or empty on failure
// (LastSystemError() tells why).
std::string ExecutablePath();

// The user's own temporary folder, ending with the separator: GetTempPath()
// on Windows, which is per user. On Linux $TMPDIR when it is set; otherwise
// OwnFolderIn("/tmp/", "tessarin-<uid>"), since /tmp is shared by every
// user. Empty when no folder of the user's own can be had. The verdict on
// the folder of /tmp is kept for a second, so that a log line costs no
// system call for it; `fresh` asks again at once (before a file is opened
// there by its path).
std::string TempFolder(bool fresh = false);

// The user's own folder `name` inside a folder that other users may write
// to: made 0700 when missing, and taken only when it is a real folder (not
// a link) owned by the user that no one else may enter. A folder that fails
// that test is never written into: a fresh private folder "<name>.XXXXXX"
// made there for the rest of the run stands in for it (its path goes to
// stderr once). Empty when even that cannot be made. Ends with the
// separator.
std::string OwnFolderIn(const std::string& shared, const std::string& name);

// Folder part of a path, up to and including its last separator; empty when
// the path has none.
std::string FolderOf(const std::string& path);

// A folder the user named (the exchange folder), as folders are handed
// around: with the separator added when it does not end with one; an empty
// path stays empty, meaning no folder.
std::string AsFolder(const std::string& path);

}  // namespace platform
