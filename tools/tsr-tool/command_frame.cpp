// tsr-tool frame dump FILE: prints the fields of a deciphered request or
// answer frame (the layout of docs/frame-format.md) for support staff who
// read captured traffic. Fields the flags do not name are shown as "-".
#include <cstdio>
#include <string>

#include "commands.h"
#include "core/text.h"
#include "link/frame.h"
#include "platform/clock.h"

namespace tsr_tool {

namespace {

std::string Bits(uint8_t flags) {
  std::string text;
  for (int bit = 7; bit >= 0; --bit) text.push_back((flags >> bit) & 1 ? '1' : '0');
  return text;
}

// The name's bytes, with anything below a space or a backslash escaped.
std::string Printable(const std::string& bytes) {
  std::string text;
  for (unsigned char c : bytes) {
    if (c < 0x20 || c == 0x7F || c == '\\') {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\x%02X", c);
      text += escaped;
    } else {
      text.push_back(static_cast<char>(c));
    }
  }
  return text;
}

}  // namespace

int RunFrame(const Command& self, const std::vector<std::string>& args) {
  if (args.size() != 2 || args[0] != "dump") return UsageError(self, "expected: dump FILE");
  std::vector<uint8_t> frame;
  if (!ReadInput(args[1], &frame)) return kExitFailure;
  serverlink::ExchangeRecord record;
  uint8_t read = 0;
  const bool complete = serverlink::ParseFrame(frame.data(), frame.size(), &record, &read);
  const uint8_t flags = record.flags;
  // The value of a field, "-" when the flags do not name it, or a note when
  // the file ends before it.
  auto field = [flags, read](const char* flag, const std::string& value) {
    if (!serverlink::HasFlag(flags, flag)) return std::string("-");
    if (!serverlink::HasFlag(read, flag)) return std::string("(cut off)");
    return value;
  };
  std::printf("frame    %zu bytes%s\n", frame.size(), complete ? "" : ", truncated");
  std::printf("flags    0x%02X (%s)\n", flags, Bits(flags).c_str());
  std::printf("type     %u\n", record.type);
  std::printf("UNP      %s\n", field(serverlink::kFlagUnp, std::to_string(record.unp)).c_str());
  std::printf("branch   %s\n", field(serverlink::kFlagBranch, std::to_string(record.branch)).c_str());
  std::printf("IKS      %s\n",
              field(serverlink::kFlagIks, core::HexEncode(record.iks.data(), record.iks.size())).c_str());
  std::printf("name     %s\n",
              field(serverlink::kFlagName, "\"" + Printable(record.name) + "\" (" +
                                         std::to_string(record.name.size()) + " bytes)")
                  .c_str());
  std::printf("number   %s\n", field(serverlink::kFlagNumber, serverlink::FormatNumber(record.number)).c_str());
  platform::CalendarTime utc = platform::UtcFromUnix(record.expiry);
  char expiry[64];
  std::snprintf(expiry, sizeof(expiry), "%u (%04d-%02d-%02d %02d:%02d:%02d UTC)", record.expiry,
                utc.year, utc.month, utc.day, utc.hour, utc.minute, utc.second);
  std::printf("expiry   %s\n", field(serverlink::kFlagExpiry, expiry).c_str());
  if (complete) {
    std::printf("payload  %u bytes\n", record.payloadLength);
  } else if (record.payloadLength > 0) {
    std::printf("payload  %u bytes announced, not all of them in the file\n", record.payloadLength);
  } else {
    std::printf("payload  (cut off)\n");
  }
  if (!complete) {
    std::fprintf(stderr, "tsr-tool frame: the file ends inside the frame\n");
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace tsr_tool
