// Encipherment of the exchange-folder files: RC4 keyed from the MD5 digest
// of 20 bytes of key material bound to the selected certificate (the first
// 16 bytes of its key identifier and four zero bytes). The cipher text has
// the length of the plain text; there is no header, padding or check.
//
// Called by the exchange-folder pass (Decode of each claimed request file),
// the answer writer (HashKeyMaterial + EncryptBuffer) and by
// `tsr-tool exchange`. Each call holds its own hash; re-entrant.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace crypto {

constexpr size_t kKeyMaterialSize = 20;
constexpr size_t kExchangeKeySize = 16;  // bytes of the key identifier that go into the material
constexpr size_t kRc4KeySize = 5;        // the 40-bit RC4 key: the first bytes of the digest

// The hash held between HashKeyMaterial and the cipher call that releases it.
struct KeyMaterialHash {
  bool open = false;                 // made by HashKeyMaterial and not yet released
  std::array<uint8_t, 16> digest{};  // MD5 of the key material
};

// The 20 bytes of key material: the 16 key bytes, then four zero bytes.
std::array<uint8_t, kKeyMaterialSize> KeyMaterial(const uint8_t* key16);

// Hashes the material with MD5. 0, or the provider's error code (logged).
uint32_t HashKeyMaterial(const uint8_t* material, KeyMaterialHash* hash);

// Enciphers or deciphers the whole buffer in place and releases the hash.
// False (logged) when the key cannot be made or the cipher fails; the
// buffer is then unchanged.
bool EncryptBuffer(KeyMaterialHash* hash, std::vector<uint8_t>* buffer);
bool DecryptBuffer(KeyMaterialHash* hash, std::vector<uint8_t>* buffer);

// Deciphers a file in place with the 16 key bytes. 0 when the file was
// deciphered and written back, -1 when it could not be opened, read whole
// or written whole.
int Decode(const std::string& path, const uint8_t* key16);

}  // namespace crypto
