// Request header and outer key of the transport (see envelope.h and
// docs/transport.md).
#include "link/envelope.h"

#include <cstring>

#include "crypto/provider/provider.h"
#include "link/sha512.h"

// The service's transport constant, as two 32-bit halves from the build
// configuration (TESSARIN_TRANSPORT_CONSTANT); each half holds four bytes of
// the constant, the first of them in its most significant byte.
#ifndef TESSARIN_TRANSPORT_HALF_HIGH
#error "TESSARIN_TRANSPORT_HALF_HIGH must come from the build configuration"
#endif
#ifndef TESSARIN_TRANSPORT_HALF_LOW
#error "TESSARIN_TRANSPORT_HALF_LOW must come from the build configuration"
#endif

namespace serverlink {

namespace {

constexpr size_t kConstantBytes = 8;
constexpr size_t kGroupBytes = 4 + kConstantBytes;
constexpr int kGroups = 5;

void PutHalf(uint32_t half, uint8_t out[4]) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(half >> (24 - 8 * i));
}

void PutTime(uint32_t time, uint8_t out[4]) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(time >> (8 * i));
}

}  // namespace

void WriteRequestHeader(const RequestHeader& header, uint8_t out[kHeaderBytes]) {
  auto l = [&header](int i) { return static_cast<uint8_t>(header.length >> (8 * i)); };
  auto t = [&header](int i) { return static_cast<uint8_t>(header.time >> (8 * i)); };
  out[0] = header.operation;
  out[1] = l(3);
  out[2] = t(1);
  out[3] = l(2);
  out[4] = t(0);
  out[5] = t(2);
  out[6] = l(1);
  out[7] = l(0);
  out[8] = t(3);
}

RequestHeader ReadRequestHeader(const uint8_t bytes[kHeaderBytes]) {
  RequestHeader header;
  header.operation = bytes[0];
  header.length = static_cast<uint32_t>(bytes[1]) << 24 | static_cast<uint32_t>(bytes[3]) << 16 |
                  static_cast<uint32_t>(bytes[6]) << 8 | bytes[7];
  header.time = static_cast<uint32_t>(bytes[8]) << 24 | static_cast<uint32_t>(bytes[5]) << 16 |
                static_cast<uint32_t>(bytes[2]) << 8 | bytes[4];
  return header;
}

bool MakeOuterKey(uint32_t time, uint8_t key[kOuterKeyBytes]) {
  uint8_t block[kGroups * kGroupBytes + 4];
  {
    // The constant lives in this store only while the block is built.
    uint8_t constant[kConstantBytes];
    PutHalf(static_cast<uint32_t>(TESSARIN_TRANSPORT_HALF_HIGH), constant);
    PutHalf(static_cast<uint32_t>(TESSARIN_TRANSPORT_HALF_LOW), constant + 4);
    for (int group = 0; group < kGroups; ++group) {
      uint8_t* at = block + group * kGroupBytes;
      PutTime(time, at);
      std::memcpy(at + 4, constant, kConstantBytes);
    }
    WipeBytes(constant, sizeof(constant));
  }
  PutTime(time, block + kGroups * kGroupBytes);
  static_assert(sizeof(block) == kOuterKeyBytes, "the key block is 64 bytes");
  bool made = Sha512(block, sizeof(block), key);
  WipeBytes(block, sizeof(block));
  return made;
}

void WipeBytes(void* data, size_t size) { crypto::provider::WipeBytes(data, size); }

}  // namespace serverlink
