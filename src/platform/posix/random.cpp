// Random bytes on Linux: getrandom(2), which blocks only until the kernel's
// generator is seeded at boot.
#include "platform/random.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdint>

#include "platform/error.h"

namespace platform {

bool RandomBytes(void* buffer, size_t count) {
  auto* out = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    ssize_t got = getrandom(out, count, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      SetLastSystemError(errno);
      return false;
    }
    out += got;
    count -= static_cast<size_t>(got);
  }
  return true;
}

}  // namespace platform
