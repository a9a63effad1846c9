// The single-instance lock on Windows: a named mutex, named after the
// program folder with every '\' replaced by '_' (a backslash in a mutex
// name would be taken for a namespace). The handle stays open for the life
// of the process; the system removes the mutex with its last handle,
// however the process ends. Called by the client's start-up.
#include "platform/instance_lock.h"

#include <windows.h>

#include "platform/error.h"
#include "platform/win32/wide.h"

namespace platform {

std::string InstanceLockName(const std::string& programFolder) {
  std::string name = programFolder;
  for (char& c : name) {
    if (c == '/' || c == '\\') c = '_';
  }
  return name;
}

InstanceLock AcquireInstanceLock(const std::string& programFolder) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, win32::Wide(InstanceLockName(programFolder)).c_str());
  DWORD error = GetLastError();
  if (mutex == nullptr) {
    SetLastSystemError(static_cast<int>(error));
    return error == ERROR_ACCESS_DENIED ? InstanceLock::HeldByAnother : InstanceLock::Failed;
  }
  if (error == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    SetLastSystemError(static_cast<int>(error));
    return InstanceLock::HeldByAnother;
  }
  return InstanceLock::Acquired;  // the handle is never closed
}

bool InstanceLockHeld(const std::string& programFolder) {
  HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, win32::Wide(InstanceLockName(programFolder)).c_str());
  if (mutex == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;  // there, but another user's
  CloseHandle(mutex);
  return true;
}

}  // namespace platform
