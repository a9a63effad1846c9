// MD5 and RC4 for the exchange-file cipher, SHA-512 for the link and the
// wiping of secrets, in the OpenSSL backend. RC4
// lives in the library's legacy provider, which is loaded explicitly into
// a library context of its own (beside the default provider for MD5), so
// the rest of the process keeps the library's usual algorithm set.
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/provider.h>

#include <algorithm>
#include <mutex>

#include "crypto/provider/openssl/openssl_util.h"

namespace crypto::provider {

namespace {

using namespace openssl;

struct BaseAlgorithms {
  OSSL_LIB_CTX* library = nullptr;  // context with the legacy and default providers
  EVP_MD* md5 = nullptr;            // fetched once, kept for the process
  EVP_CIPHER* rc4 = nullptr;        // fetched once, kept for the process
  uint32_t error = 0;               // why loading failed
};

BaseAlgorithms& Algorithms() {
  static BaseAlgorithms algorithms;
  static std::once_flag once;
  std::call_once(once, [] {
    algorithms.library = OSSL_LIB_CTX_new();
    if (algorithms.library == nullptr ||
        OSSL_PROVIDER_load(algorithms.library, "legacy") == nullptr ||
        OSSL_PROVIDER_load(algorithms.library, "default") == nullptr) {
      algorithms.error = kErrorBadAlgorithm;
    } else {
      algorithms.md5 = EVP_MD_fetch(algorithms.library, "MD5", nullptr);
      algorithms.rc4 = EVP_CIPHER_fetch(algorithms.library, "RC4", nullptr);
      if (algorithms.md5 == nullptr || algorithms.rc4 == nullptr) algorithms.error = kErrorBadAlgorithm;
    }
    ERR_clear_error();
  });
  return algorithms;
}

Outcome Fail(uint32_t error, Step step) {
  ERR_clear_error();
  return {error, step};
}

}  // namespace

uint32_t LoadBaseAlgorithms() {
  return Algorithms().error;
}

Outcome Md5(const uint8_t* data, size_t size, std::array<uint8_t, 16>* digest) {
  BaseAlgorithms& algorithms = Algorithms();
  if (algorithms.md5 == nullptr) return {kErrorBadAlgorithm, Step::Open};
  MdCtxPtr context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex2(context.get(), algorithms.md5, nullptr) != 1) {
    ERR_clear_error();
    return {kErrorFailed, Step::Open};
  }
  if (EVP_DigestUpdate(context.get(), data, size) != 1) {
    ERR_clear_error();
    return {kErrorFailed, Step::Update};
  }
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context.get(), digest->data(), &length) != 1 || length != digest->size()) {
    ERR_clear_error();
    return {kErrorFailed, Step::Data};
  }
  return {};
}

Outcome Rc4(const std::array<uint8_t, 16>& md5, size_t keySize, uint8_t* data, size_t size) {
  const uint8_t* key = md5.data();
  BaseAlgorithms& algorithms = Algorithms();
  if (algorithms.rc4 == nullptr) return {kErrorBadAlgorithm, Step::Open};
  CipherCtxPtr context(EVP_CIPHER_CTX_new());
  if (!context || keySize == 0 || keySize > md5.size() ||
      EVP_CipherInit_ex2(context.get(), algorithms.rc4, nullptr, nullptr, 1, nullptr) != 1 ||
      EVP_CIPHER_CTX_set_key_length(context.get(), static_cast<int>(keySize)) != 1 ||
      EVP_CipherInit_ex2(context.get(), nullptr, key, nullptr, 1, nullptr) != 1) {
    ERR_clear_error();
    return {kErrorFailed, Step::Open};
  }
  // A stream cipher: the text keeps its length, enciphered in slices that
  // fit the library's int counts.
  size_t done = 0;
  while (done < size) {
    int slice = static_cast<int>(std::min<size_t>(size - done, 1 << 30));
    int written = 0;
    if (EVP_CipherUpdate(context.get(), data + done, &written, data + done, slice) != 1 || written != slice) {
      ERR_clear_error();
      return {kErrorFailed, Step::Size};
    }
    done += static_cast<size_t>(slice);
  }
  return {};
}

Outcome Sha512(const uint8_t* data, size_t size, uint8_t digest[kSha512Bytes]) {
  MdCtxPtr context(EVP_MD_CTX_new());
  if (!context) return Fail(kErrorFailed, Step::Acquire);
  if (EVP_DigestInit_ex(context.get(), EVP_sha512(), nullptr) != 1) return Fail(kErrorBadAlgorithm, Step::Open);
  if (size > 0 && EVP_DigestUpdate(context.get(), data, size) != 1) return Fail(kErrorFailed, Step::Update);
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1 || length != kSha512Bytes) {
    return Fail(kErrorFailed, Step::Data);
  }
  return {};
}

void WipeBytes(void* data, size_t size) noexcept {
  OPENSSL_cleanse(data, size);
}

}  // namespace crypto::provider
