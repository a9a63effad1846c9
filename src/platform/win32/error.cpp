// Raw system error codes and their kinds, on Windows (GetLastError() and
// WSAGetLastError() values). The platform files keep the raw code; callers
// decide by its kind.
#include "platform/error.h"

#include <winsock2.h>
#include <windows.h>

namespace platform {

namespace {
thread_local int lastError = 0;
}

int LastSystemError() { return lastError; }

void SetLastSystemError(int code) {
  lastError = code;
  SetLastError(static_cast<DWORD>(code));
}

ErrorKind ErrorKindOf(int code) {
  switch (code) {
    case 0:
      return ErrorKind::None;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return ErrorKind::AlreadyExists;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
    case ERROR_DIRECTORY:
    case WSAHOST_NOT_FOUND:
    case WSANO_DATA:
      return ErrorKind::NotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_PRIVILEGE_NOT_HELD:
    case WSAEACCES:
      return ErrorKind::AccessDenied;
    case ERROR_NOT_SAME_DEVICE:
      return ErrorKind::CrossDevice;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_BUSY:
    case WSAEWOULDBLOCK:
      return ErrorKind::Busy;
    case WSAETIMEDOUT:
    case ERROR_TIMEOUT:
    case WAIT_TIMEOUT:
      return ErrorKind::TimedOut;
    default:
      return ErrorKind::Other;
  }
}

}  // namespace platform
