// Where the program lives and where it may write temporary files, on Linux.
#include "platform/paths.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/error.h"

namespace platform {

const char kPathSeparator = '/';

std::string ExecutablePath() {
  char buffer[4096];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (length <= 0) {
    SetLastSystemError(errno);
    return std::string();
  }
  return std::string(buffer, static_cast<size_t>(length));
}

std::string TempFolder() {
  const char* tmpdir = std::getenv("TMPDIR");
  std::string folder = (tmpdir != nullptr && tmpdir[0] != '\0') ? tmpdir : "/tmp";
  if (folder.back() != '/') folder += '/';
  return folder;
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string AsFolder(const std::string& path) {
  if (path.empty() || path.back() == kPathSeparator) return path;
  return path + kPathSeparator;
}

}  // namespace platform
