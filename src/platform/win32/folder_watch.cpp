// Folder watches on Windows (see folder_watch.h): a change notification
// handle per watch, polled without waiting and armed again after each
// change.
#include "platform/folder_watch.h"

#include <windows.h>

#include "platform/error.h"
#include "platform/win32/wide.h"

namespace platform {

namespace {

constexpr DWORD kChanges = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                           FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SIZE |
                           FILE_NOTIFY_CHANGE_LAST_WRITE;

HANDLE HandleOf(const FolderWatch& watch) { return reinterpret_cast<HANDLE>(watch.handle); }

}  // namespace

bool FolderWatchStart(const std::string& folder, FolderWatch* watch) {
  watch->handle = -1;
  HANDLE handle = FindFirstChangeNotificationW(win32::Wide(folder).c_str(), FALSE, kChanges);
  if (handle == INVALID_HANDLE_VALUE) {
    SetLastSystemError(static_cast<int>(GetLastError()));
    return false;
  }
  watch->handle = reinterpret_cast<intptr_t>(handle);
  return true;
}

bool FolderWatchChanged(FolderWatch* watch) {
  if (watch->handle == -1) return true;
  DWORD state = WaitForSingleObject(HandleOf(*watch), 0);
  if (state == WAIT_TIMEOUT) return false;
  if (state != WAIT_OBJECT_0) return true;  // the handle broke: nothing can be told any more
  // Armed again before the answer, so that a change made from now on is
  // reported by the next call.
  if (!FindNextChangeNotification(HandleOf(*watch))) {
    FindCloseChangeNotification(HandleOf(*watch));
    watch->handle = -1;
  }
  return true;
}

void FolderWatchStop(FolderWatch* watch) {
  if (watch->handle != -1) FindCloseChangeNotification(HandleOf(*watch));
  watch->handle = -1;
}

}  // namespace platform
