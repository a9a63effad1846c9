// tsr-tool sha512 FILE: prints the SHA-512 of a file as 128 lower-case hex
// digits (the same text as sha512sum's first column).
#include <cstdio>

#include "commands.h"
#include "link/sha512.h"

namespace tsr_tool {

int RunSha512(const Command& self, const std::vector<std::string>& args) {
  if (args.size() != 1) return UsageError(self, "expected 1 argument");
  std::vector<uint8_t> input;
  if (!ReadInput(args[0], &input)) return kExitFailure;
  uint8_t digest[serverlink::kSha512Bytes];
  if (!serverlink::Sha512(input.data(), input.size(), digest)) {
    std::fprintf(stderr, "tsr-tool sha512: the digest could not be made\n");
    return kExitFailure;
  }
  for (uint8_t byte : digest) std::printf("%02x", byte);
  std::printf("\n");
  return kExitOk;
}

}  // namespace tsr_tool
