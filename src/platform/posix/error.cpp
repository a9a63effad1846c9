// Raw system error codes and their kinds, on Linux (errno values).
#include "platform/error.h"

#include <cerrno>

namespace platform {

namespace {
thread_local int lastError = 0;
}

int LastSystemError() { return lastError; }

void SetLastSystemError(int code) {
  lastError = code;
  errno = code;
}

ErrorKind ErrorKindOf(int code) {
  switch (code) {
    case 0:
      return ErrorKind::None;
    case EEXIST:
      return ErrorKind::AlreadyExists;
    case ENOENT:
    case ENOTDIR:
      return ErrorKind::NotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return ErrorKind::AccessDenied;
    case EXDEV:
      return ErrorKind::CrossDevice;
    case EBUSY:
    case EWOULDBLOCK:
      return ErrorKind::Busy;
    case ETIMEDOUT:
      return ErrorKind::TimedOut;
    default:
      return ErrorKind::Other;
  }
}

}  // namespace platform
