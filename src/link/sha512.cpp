// SHA-512 through the OpenSSL digest interface. Called by the transport (its
// per-request key), the session start and the update check.
//
// Each failure is logged under the name of the step it stands for in the
// program's log: opening a digest context ("CryptAcquireContext"), choosing
// SHA-512 ("CryptCreateHash"), hashing ("CryptHashData") and taking the
// digest out ("CryptHashParam"), with OpenSSL's error code.
#include "link/sha512.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include "core/log.h"

namespace serverlink {
namespace {

bool Fail(const char* step, EVP_MD_CTX* context) {
  core::LogError(step, static_cast<int64_t>(ERR_get_error()));
  ERR_clear_error();
  EVP_MD_CTX_free(context);
  return false;
}

}  // namespace

bool Sha512(const uint8_t* data, size_t size, uint8_t digest[kSha512Bytes]) {
  try {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    if (context == nullptr) return Fail("CryptAcquireContext", nullptr);
    if (EVP_DigestInit_ex(context, EVP_sha512(), nullptr) != 1) {
      return Fail("CryptCreateHash", context);
    }
    if (size > 0 && EVP_DigestUpdate(context, data, size) != 1) {
      return Fail("CryptHashData", context);
    }
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context, digest, &length) != 1 || length != kSha512Bytes) {
      return Fail("CryptHashParam", context);
    }
    EVP_MD_CTX_free(context);
    return true;
  } catch (...) {
    core::LogException("Sha512");
    return false;
  }
}

}  // namespace serverlink
