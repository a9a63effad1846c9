// Where the program lives and where it may write temporary files, on Linux.
// Called by the log writer (its root folder), the single-instance lock and
// the start-up.
#include "platform/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

#include "platform/clock.h"
#include "platform/error.h"

namespace platform {

const char kPathSeparator = '/';
const char kExecutableSuffix[] = "";

namespace {

// The last answer of TempFolder() without $TMPDIR and when it was found.
constexpr int64_t kVerdictMs = 1000;
std::mutex verdictLock;
std::string& verdict = *new std::string;  // guarded by verdictLock
int64_t verdictMs = 0;                    // guarded by verdictLock

// Stand-ins made for refused folders, by the refused folder's path.
std::mutex standInLock;
std::map<std::string, std::string>& standIns = *new std::map<std::string, std::string>;  // guarded by standInLock

// Whether the path is a folder (not a link to one) of this user that
// nobody else may read, write or enter.
bool IsOwnFolder(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

// Makes the folder 0700 unless something is there already; then tells
// whether what is there is the user's own. One lstat when it is.
bool MakeOwnFolder(const std::string& path) {
  if (IsOwnFolder(path)) return true;
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    SetLastSystemError(errno);
    return false;
  }
  if (IsOwnFolder(path)) return true;
  SetLastSystemError(EACCES);
  return false;
}

}  // namespace

std::string ExecutablePath() {
  char buffer[4096];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (length <= 0) {
    SetLastSystemError(errno);
    return std::string();
  }
  return std::string(buffer, static_cast<size_t>(length));
}

std::string OwnFolderIn(const std::string& shared, const std::string& name) {
  std::string base = shared;
  if (base.empty() || base.back() != '/') base += '/';
  const std::string path = base + name;
  std::lock_guard<std::mutex> hold(standInLock);
  auto standIn = standIns.find(path);
  if (standIn == standIns.end()) {
    // Asked every time: a folder removed by a cleaner of /tmp is made again
    // rather than left for somebody else to make.
    if (MakeOwnFolder(path)) return path + '/';
  } else if (IsOwnFolder(standIn->second)) {
    return standIn->second + '/';
  }
  std::vector<char> pattern(path.begin(), path.end());
  const char suffix[] = ".XXXXXX";
  pattern.insert(pattern.end(), suffix, suffix + sizeof(suffix));  // with the terminator
  if (mkdtemp(pattern.data()) == nullptr) {
    SetLastSystemError(errno);
    return std::string();
  }
  std::string made = pattern.data();
  std::fprintf(stderr, "%s is not a private folder of this user; using %s\n", path.c_str(), made.c_str());
  standIns[path] = made;
  return made + '/';
}

std::string TempFolder(bool fresh) {
  const char* tmpdir = std::getenv("TMPDIR");
  if (tmpdir != nullptr && tmpdir[0] != '\0') {
    std::string folder = tmpdir;
    if (folder.back() != '/') folder += '/';
    return folder;
  }
  // A system call costs about as much as writing the log line that asks.
  static const std::string name = "tessarin-" + std::to_string(geteuid());
  std::lock_guard<std::mutex> hold(verdictLock);
  const int64_t now = MonotonicMs();
  if (fresh || verdict.empty() || now - verdictMs >= kVerdictMs || now < verdictMs) {
    verdict = OwnFolderIn("/tmp/", name);
    verdictMs = now;
  }
  return verdict;
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
