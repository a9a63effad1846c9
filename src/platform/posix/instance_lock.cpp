// The single-instance lock on Linux: a file in the temporary folder, named
// after the program folder, held with flock for the life of the process.
// The kernel releases it when the process dies, however it dies.
#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/error.h"
#include "platform/paths.h"

namespace platform {

namespace {

std::string LockPath(const std::string& programFolder) {
  // Without a temporary folder of the user's own the path is empty, and
  // opening it fails.
  std::string temp = TempFolder();
  return temp.empty() ? temp : temp + InstanceLockName(programFolder) + ".lock";
}

}  // namespace

std::string InstanceLockName(const std::string& programFolder) {
  std::string name = programFolder;
  for (char& c : name) {
    if (c == '/' || c == '\\') c = '_';
  }
  return name;
}

InstanceLock AcquireInstanceLock(const std::string& programFolder) {
  int fd = open(LockPath(programFolder).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    SetLastSystemError(errno);
    return InstanceLock::Failed;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int error = errno;
    close(fd);
    SetLastSystemError(error);
    return error == EWOULDBLOCK ? InstanceLock::HeldByAnother : InstanceLock::Failed;
  }
  // The descriptor stays open, and the lock held, until the process ends.
  return InstanceLock::Acquired;
}

bool InstanceLockHeld(const std::string& programFolder) {
  int fd = open(LockPath(programFolder).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  // A lock of our own open file description conflicts with any other
  // holder, this process's included.
  bool held = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  close(fd);
  return held;
}

}  // namespace platform
