// The protected form of the key-medium password ("IDC_PASS") on disk:
// Xtea128 under the first 32 bytes of the certificate's key identifier
// text, then Base64 (docs/settings-store.md). Used by LoadSettings and
// SaveSettings.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace storage {

// Most password bytes that are enciphered and deciphered.
constexpr size_t kPasswordBytesMax = 128;

// Whether the password is stored protected at all: the certificate text
// must be longer than 20 characters and the password longer than 7.
bool PasswordProtectable(const std::optional<std::wstring>& password,
                         const std::optional<std::wstring>& certificate);

// The Base64 text stored for the password, or empty when the conditions
// above are not met. The password's UTF-8 is cut to 128 bytes at a
// character boundary.
std::string ProtectPassword(const std::optional<std::wstring>& password,
                            const std::optional<std::wstring>& certificate);

// The password from its stored Base64 text: at most 128 deciphered bytes,
// read up to the first zero byte. A text that was not enciphered under this
// certificate still gives whatever comes out.
std::wstring UnprotectPassword(const std::string& stored, const std::wstring& certificate);

}  // namespace storage
