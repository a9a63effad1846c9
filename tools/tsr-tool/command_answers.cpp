// tsr-tool answers FOLDER --iks HEX [--xml]: the answers that wait in
// FOLDER/in/ for the accounting system, deciphered with the key of the
// organisation's certificate. One line per answer file (name and the short
// elements), or with --xml the whole text of each. The files stay where
// they are. Usage is in docs/tsr-tool.md.
#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>

#include "commands.h"
#include "core/text.h"
#include "crypto/exchange_cipher.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/paths.h"

namespace tsr_tool {
namespace {

// Elements shown on an answer's line, in this order; `message`,
// `VerifyInfo` and `certificate` are left to --xml.
const char* const kShown[] = {"type",  "status", "Status",    "number",    "refer",     "ID",
                              "error", "errorcode", "errorinfo", "VerifySign"};

}  // namespace

int RunAnswers(const Command& self, const std::vector<std::string>& args) {
  if (args.size() != 3 && args.size() != 4) return UsageError(self, "expected FOLDER --iks HEX [--xml]");
  if (args[1] != "--iks") return UsageError(self, "expected --iks");
  const std::string& iks = args[2];
  if (!core::IsHexText(iks, 40) && !core::IsHexText(iks, 2 * crypto::kExchangeKeySize)) {
    return UsageError(self, "--iks must be 40 hexadecimal digits, or its first 32");
  }
  bool whole = args.size() == 4;
  if (whole && args[3] != "--xml") return UsageError(self, "unknown option " + args[3]);
  const std::string in = platform::AsFolder(args[0]) + "in" + platform::kPathSeparator;

  std::vector<platform::FolderEntry> entries;
  if (!platform::FolderExists(in)) return kExitOk;  // no answer was written yet
  if (!platform::ListFolder(in, "*.xml", &entries)) {
    std::fprintf(stderr, "tsr-tool answers: cannot list %s (system error %d)\n", in.c_str(),
                 platform::LastSystemError());
    return kExitFailure;
  }
  std::vector<std::string> names;
  for (const platform::FolderEntry& entry : entries) {
    if (!entry.isFolder) names.push_back(entry.name);
  }
  std::sort(names.begin(), names.end());

  // One hash for every file: the cipher releases the copy it is given.
  std::vector<uint8_t> key = core::HexDecode(iks.substr(0, 2 * crypto::kExchangeKeySize));
  std::array<uint8_t, crypto::kKeyMaterialSize> material = crypto::KeyMaterial(key.data());
  crypto::KeyMaterialHash hash;
  if (!names.empty() && crypto::HashKeyMaterial(material.data(), &hash) != 0) {
    std::fprintf(stderr, "tsr-tool answers: MD5 is not available\n");
    return kExitFailure;
  }
  int result = kExitOk;
  for (const std::string& name : names) {
    std::vector<uint8_t> data;
    crypto::KeyMaterialHash copy = hash;
    if (!ReadInput(in + name, &data) || !crypto::DecryptBuffer(&copy, &data)) {
      result = kExitFailure;
      continue;
    }
    std::string text(data.begin(), data.end());
    if (whole) {
      std::printf("== %s\n%s\n", name.c_str(), text.c_str());
      continue;
    }
    std::string line = name + ":";
    for (const char* element : kShown) {
      if (std::optional<std::string> value = core::FindTag(text, element)) {
        line += " " + std::string(element) + "=" + *value;
      }
    }
    std::printf("%s\n", line.c_str());
  }
  return result;
}

}  // namespace tsr_tool
