// Xtea128: the program's own 128-bit block cipher, used in electronic code
// book mode for the session layer, the transport layer and the stored
// key-medium password. Described in docs/xtea128.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace serverlink {

enum class XteaDirection {
  Encrypt,
  Decrypt,
};

// Key: eight little-endian 32-bit words from the first 32 bytes of the key
// buffer.
constexpr size_t kXteaKeyBytes = 32;

// One 16-byte block, in place.
void Xtea128Block(uint8_t block[16], const uint8_t key[kXteaKeyBytes], XteaDirection direction);

// Every 16-byte block of the input; a final partial block is completed with
// zero bytes. Writes size rounded up to 16 bytes to out (which may be the
// input) and returns that length.
size_t Xtea128Crypt(const uint8_t* input, size_t size, const uint8_t key[kXteaKeyBytes],
                    uint8_t* out, XteaDirection direction);

std::vector<uint8_t> Xtea128Crypt(const std::vector<uint8_t>& input,
                                  const uint8_t key[kXteaKeyBytes], XteaDirection direction);

// Xtea128Crypt works many blocks at once with the widest vector instructions
// the processor has. Every engine gives the same bytes; tests and benchmarks
// name one to check or time it.
enum class XteaEngine {
  Portable,  // one block at a time, any processor
  Avx2,      // eight blocks at a time
  Avx512,    // sixteen blocks at a time
};

bool XteaEngineAvailable(XteaEngine engine);

// Xtea128Crypt on the given engine, which must be available.
size_t Xtea128CryptWith(XteaEngine engine, const uint8_t* input, size_t size,
                        const uint8_t key[kXteaKeyBytes], uint8_t* out, XteaDirection direction);

}  // namespace serverlink
