// SHA-512 through the cryptographic provider layer. Called by the transport
// (its per-request key), the session start and the update check.
//
// Each failure is logged under the name of the step it stands for in the
// program's log: opening a provider context ("CryptAcquireContext"),
// choosing SHA-512 ("CryptCreateHash"), hashing ("CryptHashData") and taking
// the digest out ("CryptHashParam"), with the provider's error code.
#include "link/sha512.h"

#include "core/log.h"
#include "crypto/provider/provider.h"

namespace serverlink {

static_assert(kSha512Bytes == crypto::provider::kSha512Bytes);

bool Sha512(const uint8_t* data, size_t size, uint8_t digest[kSha512Bytes]) {
  try {
    using crypto::provider::Step;
    crypto::provider::Outcome outcome = crypto::provider::Sha512(data, size, digest);
    if (outcome.ok()) return true;
    const char* step = "CryptHashParam";
    switch (outcome.step) {
      case Step::Acquire: step = "CryptAcquireContext"; break;
      case Step::Open: step = "CryptCreateHash"; break;
      case Step::Update: step = "CryptHashData"; break;
      default: break;
    }
    core::LogError(step, outcome.error);
    return false;
  } catch (...) {
    core::LogException("Sha512");
    return false;
  }
}

}  // namespace serverlink
