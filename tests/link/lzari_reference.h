// The 1989 LZARI coder as it was published, transcribed with its global
// state, for comparing the streams of serverlink::LzariCompress against it (tests
// and the benchmark beside ours). Not for the program: it is slow, keeps
// its model in globals and trusts its input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lzari_reference {

// 4-byte little-endian length, then the bit stream, as the published
// program writes a file (its length field was a 32-bit unsigned long).
std::vector<uint8_t> Encode(const uint8_t* data, size_t size);

// Decodes a stream made by Encode; the input must be well formed. Reading
// past the end gives the all-ones bits of EOF, as the published program's
// getc did.
std::vector<uint8_t> Decode(const uint8_t* data, size_t size);

}  // namespace lzari_reference
