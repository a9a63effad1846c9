// tsr-tool request FOLDER --iks HEX --type NAME [fields]: the accounting
// system's side of the exchange folder. Writes one request file from named
// fields, enciphered with the key of the organisation's certificate, into
// FOLDER/out/: first under a ".tmp" name, then renamed to its ".xml" name,
// so that the client never takes half a file. Prints the path written.
// Usage and an example session are in docs/tsr-tool.md; the format in
// docs/exchange-folder.md.
#include <array>
#include <cstdio>
#include <map>

#include "commands.h"
#include "core/format.h"
#include "core/text.h"
#include "crypto/exchange_cipher.h"
#include "folder/request_types.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/paths.h"

namespace tsr_tool {
namespace {

// Options that take a value and the element each one writes ("" when the
// option is handled apart).
const std::map<std::string, std::string> kValueOptions = {
    {"--iks", ""},
    {"--type", "type"},
    {"--senderiks", "senderiks"},
    {"--receiveriks", "receiveriks"},
    {"--receiverunp", "receiverunp"},
    {"--receiverbranch", "receivervranch"},
    {"--number", "number"},
    {"--expire", "expire"},
    {"--rejectioncode", "rejectioncode"},
    {"--message", "message"},
    {"--message-file", ""},
    {"--receiverpk-file", ""},
    {"--face", "face"},
    {"--base", "base"},
    {"--post", "post"},
    {"--name", "name"},
    {"--as", ""},
};

// The order of the elements in the file.
const char* const kElementOrder[] = {"type",   "senderiks",     "receiveriks", "receiverunp",
                                     "receivervranch", "number", "expire", "confirmdelivery",
                                     "rejectioncode", "message"};

std::string Element(const std::string& name, const std::string& value) {
  return "<" + name + ">" + value + "</" + name + ">";
}

bool ReadBase64(const std::string& path, std::string* text) {
  std::vector<uint8_t> data;
  if (!ReadInput(path, &data)) return false;
  *text = core::Base64Encode(data);
  return true;
}

}  // namespace

int RunRequest(const Command& self, const std::vector<std::string>& args) {
  if (args.empty() || args[0].rfind("--", 0) == 0) return UsageError(self, "expected FOLDER first");
  const std::string folder = platform::AsFolder(args[0]);
  std::map<std::string, std::string> values;   // by option
  std::vector<std::pair<std::string, std::string>> certificates;  // cpk file, add file
  bool confirm = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& option = args[i];
    if (option == "--confirmdelivery") {
      confirm = true;
    } else if (option == "--cpk" && i + 1 < args.size()) {
      std::string value = args[++i];
      size_t comma = value.find(',');
      certificates.emplace_back(value.substr(0, comma),
                                comma == std::string::npos ? std::string() : value.substr(comma + 1));
    } else if (kValueOptions.count(option) && i + 1 < args.size()) {
      values[option] = args[++i];
    } else {
      return UsageError(self, "unknown option or missing value: " + option);
    }
  }
  const std::string iks = values["--iks"];
  if (!core::IsHexText(iks, 40) && !core::IsHexText(iks, 2 * crypto::kExchangeKeySize)) {
    return UsageError(self, "--iks must be 40 hexadecimal digits, or its first 32");
  }
  std::string type = values["--type"];
  std::string lowered = type;
  for (char& c : lowered) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (folder::TypeCodeFromName(lowered) == 0) return UsageError(self, "unknown --type '" + type + "'");
  if (!values.count("--senderiks")) {
    if (iks.size() != 40) return UsageError(self, "give --senderiks when --iks has 32 digits");
    values["--senderiks"] = iks;
  }
  if (values.count("--message-file") && !ReadBase64(values["--message-file"], &values["--message"])) {
    return kExitFailure;
  }

  std::map<std::string, std::string> elements;  // by element name
  for (const auto& [option, value] : values) {
    const std::string& element = kValueOptions.at(option);
    if (!element.empty()) elements[element] = value;
  }
  if (confirm) elements["confirmdelivery"] = "yes";

  std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<root>\r\n";
  for (const char* name : kElementOrder) {
    if (elements.count(name)) text += "  " + Element(name, elements[name]) + "\r\n";
  }
  if (!certificates.empty()) {
    text += "  <receivercpks>\r\n";
    for (const auto& [cpkFile, addFile] : certificates) {
      std::string cpk, add;
      if (!ReadBase64(cpkFile, &cpk)) return kExitFailure;
      if (!addFile.empty() && !ReadBase64(addFile, &add)) return kExitFailure;
      text += "    <certificate>" + Element("cpk", cpk) + (addFile.empty() ? "" : Element("add", add)) +
              "</certificate>\r\n";
    }
    text += "  </receivercpks>\r\n";
  }
  if (values.count("--receiverpk-file")) {
    std::string key;
    if (!ReadBase64(values["--receiverpk-file"], &key)) return kExitFailure;
    text += "  " + Element("receiverpk", key) + "\r\n";
  }
  for (const char* name : {"face", "base", "post", "name"}) {
    if (elements.count(name)) text += "  " + Element(name, elements[name]) + "\r\n";
  }
  text += "</root>\r\n";

  std::vector<uint8_t> data(text.begin(), text.end());
  std::vector<uint8_t> key = core::HexDecode(iks.substr(0, 2 * crypto::kExchangeKeySize));
  std::array<uint8_t, crypto::kKeyMaterialSize> material = crypto::KeyMaterial(key.data());
  crypto::KeyMaterialHash hash;
  if (crypto::HashKeyMaterial(material.data(), &hash) != 0 || !crypto::EncryptBuffer(&hash, &data)) {
    std::fprintf(stderr, "tsr-tool request: the exchange-file cipher is not available\n");
    return kExitFailure;
  }

  std::string out = folder + "out" + platform::kPathSeparator;
  if (!platform::FolderExists(out) && !platform::FolderCreate(out)) {
    std::fprintf(stderr, "tsr-tool request: cannot create %s (system error %d)\n", out.c_str(),
                 platform::LastSystemError());
    return kExitFailure;
  }
  std::string name = values["--as"];
  if (name.empty()) {
    platform::CalendarTime now = platform::LocalNow();
    std::string stem = core::Format("%s_%04d%02d%02d_%02d%02d%02d_%03d", lowered.c_str(), now.year,
                                    now.month, now.day, now.hour, now.minute, now.second, now.millisecond);
    name = stem + ".xml";
    for (int counter = 1; platform::FileExists(out + name); ++counter) {
      name = core::Format("%s_%d.xml", stem.c_str(), counter);
    }
  }
  if (name.find_first_of("/\\") != std::string::npos || name.size() < 5 || name.compare(name.size() - 4, 4, ".xml") != 0) {
    return UsageError(self, "--as takes a plain file name ending in .xml");
  }
  std::string temporary = out + name + ".tmp";
  if (!WriteOutput(temporary, data)) {
    platform::FileDelete(temporary);
    return kExitFailure;
  }
  if (!platform::FileMove(temporary, out + name)) {
    std::fprintf(stderr, "tsr-tool request: cannot rename %s (system error %d)\n", temporary.c_str(),
                 platform::LastSystemError());
    platform::FileDelete(temporary);
    return kExitFailure;
  }
  std::printf("%s\n", (out + name).c_str());
  return kExitOk;
}

}  // namespace tsr_tool
