// Fuzz target: the stored key-medium password as LoadSettings reads it from
// "TS.db" — any text in the B column under any certificate text. The first
// input byte gives the certificate text's length (at most 63), then come
// the certificate text and the stored text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/text.h"
#include "storage/password.h"
#include "storage/stored_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t certificateLength = std::min<size_t>(data[0] % 64, size - 1);
  std::string certificate(reinterpret_cast<const char*>(data + 1), certificateLength);
  std::string stored(reinterpret_cast<const char*>(data + 1 + certificateLength),
                     size - 1 - certificateLength);
  std::wstring password =
      storage::UnprotectPassword(stored, storage::WideFromStored(certificate));
  if (password.size() > storage::kPasswordBytesMax) __builtin_trap();
  std::string cut = storage::CutUtf8(stored, 1023);
  if (cut.size() > 1023 || cut.compare(0, cut.size(), stored, 0, cut.size()) != 0) __builtin_trap();
  return 0;
}
