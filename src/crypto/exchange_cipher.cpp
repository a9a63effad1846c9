// The exchange-file cipher (see exchange_cipher.h). The platform's basic
// provider derives a 40-bit RC4 key from an MD5 hash without salt: the key
// is the first five bytes of the digest, which is what is computed here.
#include "crypto/exchange_cipher.h"

#include <cstring>

#include "core/format.h"
#include "core/log.h"
#include "core/text.h"
#include "crypto/provider/provider.h"
#include "platform/file.h"
#include "platform/ui.h"

namespace crypto {

namespace {

constexpr uint32_t kErrorBadHash = 0x80090002;  // no hash to derive the key from

int Code(uint32_t error) {
  return static_cast<int>(error);
}

// Runs RC4 over the buffer with the key of the hash; logs with the texts of
// the direction. The hash is released either way.
bool Cipher(KeyMaterialHash* hash, std::vector<uint8_t>* buffer, bool encrypt) {
  bool open = hash->open;
  hash->open = false;
  provider::Outcome outcome{kErrorBadHash, provider::Step::Open};
  if (open) outcome = provider::Rc4(hash->digest, kRc4KeySize, buffer->data(), buffer->size());
  if (outcome.ok()) return true;
  if (outcome.step == provider::Step::Open) {
    core::LogError(encrypt ? core::Format("CryptDeriveKey failed: %d", Code(outcome.error))
                           : core::Format("CryptDeriveKey failed: %d %x", Code(outcome.error), outcome.error),
                   0);
  } else {
    core::LogError(core::Format(encrypt ? "CryptEncrypt failed: %d" : "CryptDecrypt failed: %d", Code(outcome.error)),
                   0);
  }
  return false;
}

// Closes the file when the scope ends.
struct FileCloser {
  platform::File* file;  // the open file
  ~FileCloser() { platform::FileClose(file); }
};

}  // namespace

std::array<uint8_t, kKeyMaterialSize> KeyMaterial(const uint8_t* key16) {
  std::array<uint8_t, kKeyMaterialSize> material{};
  std::memcpy(material.data(), key16, kExchangeKeySize);
  return material;
}

uint32_t HashKeyMaterial(const uint8_t* material, KeyMaterialHash* hash) {
  hash->open = false;
  if (uint32_t error = provider::LoadBaseAlgorithms()) {
    core::LogError(core::Format("CryptAcquireContext failed: %d", Code(error)), 0);
    return error;
  }
  provider::Outcome outcome = provider::Md5(material, kKeyMaterialSize, &hash->digest);
  if (!outcome.ok() && outcome.step == provider::Step::Open) {
    core::LogError(core::Format("CryptCreateHash failed: %d", Code(outcome.error)), 0);
    return outcome.error;
  }
  platform::ui::ConsolePrint(core::ToWide(core::Format("Hased data size: %d\r\n", static_cast<int>(kKeyMaterialSize)),
                                          core::kCodePageUtf8));
  if (!outcome.ok()) {
    core::LogError(core::Format(outcome.step == provider::Step::Update ? "CryptHashData failed: %d"
                                                                       : "CryptHashParam failed: %d",
                                Code(outcome.error)),
                   0);
    return outcome.error;
  }
  hash->open = true;
  return 0;
}

bool EncryptBuffer(KeyMaterialHash* hash, std::vector<uint8_t>* buffer) {
  return Cipher(hash, buffer, true);
}

bool DecryptBuffer(KeyMaterialHash* hash, std::vector<uint8_t>* buffer) {
  return Cipher(hash, buffer, false);
}

int Decode(const std::string& path, const uint8_t* key16) {
  try {
    platform::File file;
    if (!platform::FileOpen(path, platform::OpenMode::ReadWriteExisting, &file)) return -1;
    FileCloser closer{&file};
    int64_t size = 0;
    if (!platform::FileSize(file, &size) || size < 0) return -1;

    std::vector<uint8_t> data(static_cast<size_t>(size));
    int64_t read = 0;
    while (read < size) {
      int64_t got = platform::FileReadAt(file, read, data.data() + read, static_cast<size_t>(size - read));
      if (got <= 0) break;
      read += got;
    }
    if (read < size) {
      core::LogError(core::Format("Error read from file. Size %d, read %d", static_cast<int>(size), static_cast<int>(read)), 0);
      return -1;
    }

    std::array<uint8_t, kKeyMaterialSize> material = KeyMaterial(key16);
    KeyMaterialHash hash;
    HashKeyMaterial(material.data(), &hash);
    core::LogInfo("ready-1");
    DecryptBuffer(&hash, &data);

    int64_t written = 0;
    while (written < size) {
      int64_t put = platform::FileWriteAt(file, written, data.data() + written, static_cast<size_t>(size - written));
      if (put <= 0) break;
      written += put;
    }
    platform::FileTruncate(file, written);
    if (written < size) {
      core::LogError(core::Format("Error write to file. Size %d, write %d", static_cast<int>(size), static_cast<int>(written)), 0);
      return -1;
    }
    return 0;
  } catch (...) {
    core::LogException("Decode");
    return -1;
  }
}

}  // namespace crypto
