// SHA-512, for the transport key, the handshake proof, the client
// identifier and the program's version digest.
#pragma once

#include <cstddef>
#include <cstdint>

namespace serverlink {

constexpr size_t kSha512Bytes = 64;

// False (after logging the failed call) when the digest could not be made.
bool Sha512(const uint8_t* data, size_t size, uint8_t digest[kSha512Bytes]);

}  // namespace serverlink
