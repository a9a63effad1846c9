// tsr-tool exchange encrypt|decrypt --iks HEX40|HEX32 IN OUT: the cipher of
// the exchange-folder files, for the integrators of an accounting system.
// The key comes from the first 16 bytes of the certificate's key identifier
// (IKS), given whole (40 digits) or as those 16 bytes (the first 32
// digits, the form the answer writer takes); RC4 keeps the length, so both
// directions are the same operation, named apart for clarity of scripts.
#include <array>
#include <cstdio>

#include "commands.h"
#include "core/text.h"
#include "crypto/exchange_cipher.h"

namespace tsr_tool {

int RunExchange(const Command& self, const std::vector<std::string>& args) {
  if (args.size() != 5) return UsageError(self, "expected 5 arguments");
  const std::string& mode = args[0];
  if (mode != "encrypt" && mode != "decrypt") return UsageError(self, "unknown mode '" + mode + "'");
  if (args[1] != "--iks") return UsageError(self, "expected --iks");
  if (!core::IsHexText(args[2], 40) && !core::IsHexText(args[2], 2 * crypto::kExchangeKeySize)) {
    return UsageError(self, "the IKS must be 40 hexadecimal digits, or its first 32");
  }
  std::vector<uint8_t> iks = core::HexDecode(args[2]);
  std::vector<uint8_t> data;
  if (!ReadInput(args[3], &data)) return kExitFailure;

  std::array<uint8_t, crypto::kKeyMaterialSize> material = crypto::KeyMaterial(iks.data());
  crypto::KeyMaterialHash hash;
  if (crypto::HashKeyMaterial(material.data(), &hash) != 0) {
    std::fprintf(stderr, "tsr-tool exchange: MD5 is not available\n");
    return kExitFailure;
  }
  bool done = mode == "encrypt" ? crypto::EncryptBuffer(&hash, &data) : crypto::DecryptBuffer(&hash, &data);
  if (!done) {
    std::fprintf(stderr, "tsr-tool exchange: RC4 is not available\n");
    return kExitFailure;
  }
  return WriteOutput(args[4], data) ? kExitOk : kExitFailure;
}

}  // namespace tsr_tool
