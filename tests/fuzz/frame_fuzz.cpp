// Fuzz target: ParseFrame on any bytes, as frames arrive from the server
// after the session layer is taken off. The input is copied into a block of
// exactly its size so that a read past the frame is caught. A payload is
// only ever taken whole, and whatever parses whole survives a build and a
// second parse unchanged.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "link/frame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<uint8_t[]> exact(new uint8_t[size == 0 ? 1 : size]);
  if (size > 0) std::memcpy(exact.get(), data, size);
  serverlink::ExchangeRecord record;
  uint8_t read = 0;
  bool complete = serverlink::ParseFrame(exact.get(), size, &record, &read);
  if (!record.payload.empty() && record.payload.size() != record.payloadLength) __builtin_trap();
  if (record.payload.size() > size) __builtin_trap();
  if ((read & ~record.flags) != 0) __builtin_trap();
  if (complete) {
    // A frame that parsed whole builds into one that parses whole into the
    // same record (the number's five spare bytes and the padding are not
    // kept, so the bytes themselves may differ).
    std::vector<uint8_t> built = serverlink::BuildFrame(record);
    serverlink::ExchangeRecord again;
    if (!serverlink::ParseFrame(built.data(), built.size(), &again)) __builtin_trap();
    if (serverlink::BuildFrame(again) != built) __builtin_trap();
    if (again.payload != record.payload || again.name != record.name) __builtin_trap();
  }
  return 0;
}
