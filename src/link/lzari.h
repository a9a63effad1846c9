// LZARI compression: the LZ77 coder with adaptive arithmetic coding, with
// the parameters of the 1989 published coder, bit for bit. The stream
// format is described in docs/lzari-format.md.
//
// Each call owns its model, so any number of threads may compress at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace serverlink {

// The largest uncompressed length a compressed block may declare; a larger
// one is refused as corrupt.
constexpr uint32_t kLzariMaxExpandedBytes = 256u << 20;

// 4-byte little-endian length followed by the LZARI bit stream. The size
// must fit the 32-bit length (payloads are far smaller).
std::vector<uint8_t> LzariCompress(const uint8_t* data, size_t size);

enum class LzariResult {
  Ok,
  TooShort,    // fewer than the 4 bytes of the length
  TooLarge,    // the declared length is above kLzariMaxExpandedBytes
  Truncated,   // the stream ended before the declared length was produced
};

// Expands a block made by LzariCompress. On Truncated, out holds what could
// be produced. Never reads or writes outside the buffers, whatever the
// input.
LzariResult LzariExpand(const uint8_t* data, size_t size, std::vector<uint8_t>* out);

}  // namespace serverlink
