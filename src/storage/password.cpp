// Protection of the stored key-medium password (see password.h).
#include "storage/password.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/text.h"
#include "link/xtea128.h"
#include "storage/stored_text.h"

namespace storage {
namespace {

// The first 32 bytes of the certificate text's UTF-8, completed with zeros.
std::array<uint8_t, serverlink::kXteaKeyBytes> PasswordKey(const std::wstring& certificate) {
  std::array<uint8_t, serverlink::kXteaKeyBytes> key{};
  std::string utf8 = core::ToNarrow(certificate, core::kCodePageUtf8);
  std::memcpy(key.data(), utf8.data(), std::min(utf8.size(), key.size()));
  return key;
}

}  // namespace

bool PasswordProtectable(const std::optional<std::wstring>& password,
                         const std::optional<std::wstring>& certificate) {
  return password && certificate && certificate->size() > 20 && password->size() > 7;
}

std::string ProtectPassword(const std::optional<std::wstring>& password,
                            const std::optional<std::wstring>& certificate) {
  if (!PasswordProtectable(password, certificate)) return std::string();
  std::string utf8 = CutUtf8(core::ToNarrow(*password, core::kCodePageUtf8), kPasswordBytesMax);
  std::vector<uint8_t> plain(utf8.begin(), utf8.end());
  auto key = PasswordKey(*certificate);
  std::vector<uint8_t> sealed = serverlink::Xtea128Crypt(plain, key.data(), serverlink::XteaDirection::Encrypt);
  return core::Base64Encode(sealed);
}

std::wstring UnprotectPassword(const std::string& stored, const std::wstring& certificate) {
  std::vector<uint8_t> sealed = core::Base64Decode(stored);
  if (sealed.size() > kPasswordBytesMax) sealed.resize(kPasswordBytesMax);
  auto key = PasswordKey(certificate);
  std::vector<uint8_t> plain = serverlink::Xtea128Crypt(sealed, key.data(), serverlink::XteaDirection::Decrypt);
  if (plain.size() > kPasswordBytesMax) plain.resize(kPasswordBytesMax);
  auto zero = std::find(plain.begin(), plain.end(), uint8_t{0});
  return WideFromStored(std::string(plain.begin(), zero));
}

}  // namespace storage
