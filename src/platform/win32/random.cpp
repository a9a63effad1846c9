// Random bytes on Windows: the system's preferred generator through
// BCryptGenRandom.
#include "platform/random.h"

#include <windows.h>
#include <bcrypt.h>

#include "platform/error.h"

namespace platform {

bool RandomBytes(void* buffer, size_t count) {
  auto* out = static_cast<UCHAR*>(buffer);
  while (count > 0) {
    const ULONG piece = count > 0x10000000 ? 0x10000000 : static_cast<ULONG>(count);
    NTSTATUS status = BCryptGenRandom(nullptr, out, piece, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (status != 0) {
      SetLastSystemError(static_cast<int>(status));
      return false;
    }
    out += piece;
    count -= piece;
  }
  return true;
}

}  // namespace platform
