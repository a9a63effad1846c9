// Cutting and reading UTF-8 texts of the database (see stored_text.h).
#include "storage/stored_text.h"

#include "core/text.h"

namespace storage {

std::string CutUtf8(const std::string& bytes, size_t limit) {
  if (bytes.size() <= limit) return bytes;
  size_t end = limit;
  // Step back over continuation bytes to the lead byte of the character
  // that the cut splits, unless the character ends exactly at the cut.
  size_t lead = end;
  while (lead > 0 && (static_cast<unsigned char>(bytes[lead - 1]) & 0xC0) == 0x80 && end - lead < 3) {
    --lead;
  }
  if (lead > 0) {
    unsigned char first = static_cast<unsigned char>(bytes[lead - 1]);
    size_t length = first < 0x80 ? 1 : (first >> 5) == 0x6 ? 2 : (first >> 4) == 0xE ? 3
                                     : (first >> 3) == 0x1E ? 4 : 1;
    if (length > 1 && (lead - 1) + length > end) end = lead - 1;
  }
  return bytes.substr(0, end);
}

std::wstring WideFromStored(const std::string& bytes) {
  if (bytes.empty()) return std::wstring();
  std::wstring wide = core::ToWide(bytes, core::kCodePageUtf8);
  if (!wide.empty()) return wide;
  wide.reserve(bytes.size());
  for (char c : bytes) {
    unsigned char byte = static_cast<unsigned char>(c);
    wide.push_back(byte < 0x80 ? static_cast<wchar_t>(byte) : L'\xFFFD');
  }
  return wide;
}

}  // namespace storage
