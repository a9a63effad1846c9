// Where the program lives and where it may write temporary files, on
// Windows: GetModuleFileNameW and GetTempPathW, which is per user. Called by
// the log writer (its root folder), the single-instance lock and the
// start-up.
#include "platform/paths.h"

#include <windows.h>

#include <vector>

#include "platform/error.h"
#include "platform/win32/wide.h"

namespace platform {

const char kPathSeparator = '\\';
const char kExecutableSuffix[] = ".exe";

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

std::string ExecutablePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      SetLastSystemError(static_cast<int>(GetLastError()));
      return std::string();
    }
    if (length < buffer.size()) return win32::Narrow(buffer.data(), length);
    buffer.resize(buffer.size() * 2);  // cut off: ask again with room
  }
}

std::string OwnFolderIn(const std::string& shared, const std::string& name) {
  // Folders of the user's profile are closed to other users by their
  // inherited access list: nothing to check beyond making the folder.
  std::string path = AsFolder(shared) + name;
  if (!CreateDirectoryW(win32::Wide(path).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    SetLastSystemError(static_cast<int>(GetLastError()));
    return std::string();
  }
  return path + kPathSeparator;
}

std::string TempFolder(bool /*fresh*/) {
  wchar_t buffer[MAX_PATH + 2];
  DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
  if (length == 0 || length > MAX_PATH + 1) {
    SetLastSystemError(static_cast<int>(GetLastError()));
    return std::string();
  }
  return AsFolder(win32::Narrow(buffer, length));
}

std::string FolderOf(const std::string& path) {
  size_t separator = path.find_last_of("\\/");
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

std::string AsFolder(const std::string& path) {
  if (path.empty() || IsSeparator(path.back())) return path;
  return path + kPathSeparator;
}

}  // namespace platform
