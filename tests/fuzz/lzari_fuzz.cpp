// Fuzz target: LzariExpand on any bytes, as compressed payloads arrive from
// the server. The input is copied into a block of exactly its size so that a
// read past the stream is caught. Whatever the input, the output never
// exceeds the declared length; a complete expansion compresses and expands
// back to itself. Declared lengths above 1 MiB are skipped after the cheap
// checks, to keep each run short (the largest lengths are covered by the
// unit tests).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "link/lzari.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<uint8_t[]> exact(new uint8_t[size == 0 ? 1 : size]);
  if (size > 0) std::memcpy(exact.get(), data, size);
  std::vector<uint8_t> out;
  if (size < 4) {
    if (serverlink::LzariExpand(exact.get(), size, &out) != serverlink::LzariResult::TooShort) __builtin_trap();
    return 0;
  }
  uint32_t declared = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
                      static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
  if (declared > serverlink::kLzariMaxExpandedBytes) {
    if (serverlink::LzariExpand(exact.get(), size, &out) != serverlink::LzariResult::TooLarge) __builtin_trap();
    if (!out.empty()) __builtin_trap();
    return 0;
  }
  if (declared > (1u << 20)) return 0;
  serverlink::LzariResult result = serverlink::LzariExpand(exact.get(), size, &out);
  if (out.size() > declared) __builtin_trap();
  if (result == serverlink::LzariResult::Ok) {
    if (out.size() != declared) __builtin_trap();
    std::vector<uint8_t> again = serverlink::LzariCompress(out.data(), out.size());
    std::vector<uint8_t> back;
    if (serverlink::LzariExpand(again.data(), again.size(), &back) != serverlink::LzariResult::Ok) __builtin_trap();
    if (back != out) __builtin_trap();
  } else if (result != serverlink::LzariResult::Truncated) {
    __builtin_trap();
  }
  return 0;
}
