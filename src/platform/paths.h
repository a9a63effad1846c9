// Where the program lives and where it may write temporary files.
#pragma once

#include <string>

namespace platform {

// Separator of folders in a path: '/' on Linux, '\\' on Windows. Folders
// handed around the program end with it.
extern const char kPathSeparator;

// Full path of the running executable (UTF-8), or empty on failure
// (LastSystemError() tells why).
std::string ExecutablePath();

// The user's temporary folder, ending with the separator: $TMPDIR or /tmp
// on Linux, GetTempPath() on Windows.
std::string TempFolder();

// Folder part of a path, up to and including its last separator; empty when
// the path has none.
std::string FolderOf(const std::string& path);

// A folder the user named (the exchange folder), as folders are handed
// around: with the separator added when it does not end with one; an empty
// path stays empty, meaning no folder.
std::string AsFolder(const std::string& path);

}  // namespace platform
