// Folder watches on Linux (see folder_watch.h): one inotify descriptor per
// watch, read without waiting.
#include "platform/folder_watch.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>

#include "platform/error.h"

namespace platform {

namespace {

constexpr uint32_t kChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY | IN_CLOSE_WRITE |
                              IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;

}  // namespace

bool FolderWatchStart(const std::string& folder, FolderWatch* watch) {
  watch->handle = -1;
  int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) {
    SetLastSystemError(errno);
    return false;
  }
  if (inotify_add_watch(fd, folder.c_str(), kChanges | IN_ONLYDIR) < 0) {
    SetLastSystemError(errno);
    close(fd);
    return false;
  }
  watch->handle = fd;
  return true;
}

bool FolderWatchChanged(FolderWatch* watch) {
  if (watch->handle < 0) return true;
  const int fd = static_cast<int>(watch->handle);
  bool changed = false;
  alignas(inotify_event) char events[4096];
  for (;;) {
    ssize_t got = read(fd, events, sizeof events);
    if (got > 0) {
      changed = true;  // every event the watch delivers is a change (or an overflow, or the watch's end)
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EAGAIN) return changed;
    return true;  // the descriptor broke: nothing can be told any more
  }
}

void FolderWatchStop(FolderWatch* watch) {
  if (watch->handle >= 0) close(static_cast<int>(watch->handle));
  watch->handle = -1;
}

}  // namespace platform
