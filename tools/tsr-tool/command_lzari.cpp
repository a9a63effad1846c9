// tsr-tool lzari compress|expand IN OUT: LZARI compression of a whole file
// in the payload format (4-byte length, then the bit stream).
#include <cstdio>

#include "commands.h"
#include "link/lzari.h"

namespace tsr_tool {

int RunLzari(const Command& self, const std::vector<std::string>& args) {
  if (args.size() != 3) return UsageError(self, "expected 3 arguments");
  const std::string& mode = args[0];
  if (mode != "compress" && mode != "expand") return UsageError(self, "unknown mode '" + mode + "'");
  std::vector<uint8_t> input;
  if (!ReadInput(args[1], &input)) return kExitFailure;
  if (mode == "compress") {
    return WriteOutput(args[2], serverlink::LzariCompress(input.data(), input.size())) ? kExitOk : kExitFailure;
  }
  std::vector<uint8_t> output;
  serverlink::LzariResult result = serverlink::LzariExpand(input.data(), input.size(), &output);
  switch (result) {
    case serverlink::LzariResult::Ok:
      return WriteOutput(args[2], output) ? kExitOk : kExitFailure;
    case serverlink::LzariResult::TooShort:
      std::fprintf(stderr, "tsr-tool lzari: %s is shorter than the 4-byte length\n", args[1].c_str());
      return kExitFailure;
    case serverlink::LzariResult::TooLarge:
      std::fprintf(stderr, "tsr-tool lzari: %s declares more than %u bytes\n", args[1].c_str(),
                   serverlink::kLzariMaxExpandedBytes);
      return kExitFailure;
    case serverlink::LzariResult::Truncated:
      // What could be produced is written, to look at.
      std::fprintf(stderr, "tsr-tool lzari: %s ends early; %zu bytes written\n", args[1].c_str(),
                   output.size());
      WriteOutput(args[2], output);
      return kExitFailure;
  }
  return kExitFailure;
}

}  // namespace tsr_tool
