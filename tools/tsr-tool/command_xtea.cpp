// tsr-tool xtea encrypt|decrypt KEYHEX IN OUT: Xtea128 in code book mode
// over a whole file. The output is the input rounded up to 16 bytes; a
// deciphered file keeps the zero bytes that completed the last block.
#include "commands.h"
#include "core/text.h"
#include "link/xtea128.h"

namespace tsr_tool {

int RunXtea(const Command& self, const std::vector<std::string>& args) {
  if (args.size() != 4) return UsageError(self, "expected 4 arguments");
  const std::string& mode = args[0];
  if (mode != "encrypt" && mode != "decrypt") return UsageError(self, "unknown mode '" + mode + "'");
  if (!core::IsHexText(args[1], 2 * serverlink::kXteaKeyBytes)) {
    return UsageError(self, "KEYHEX must be exactly 64 hexadecimal digits");
  }
  std::vector<uint8_t> key = core::HexDecode(args[1]);
  std::vector<uint8_t> input;
  if (!ReadInput(args[2], &input)) return kExitFailure;
  auto direction = mode == "encrypt" ? serverlink::XteaDirection::Encrypt : serverlink::XteaDirection::Decrypt;
  return WriteOutput(args[3], serverlink::Xtea128Crypt(input, key.data(), direction)) ? kExitOk : kExitFailure;
}

}  // namespace tsr_tool
