// Text helpers shared by every subsystem (see text.h).
#include "core/text.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <exception>

#include "core/log.h"
#include "platform/clock.h"
#include "platform/codepage.h"

namespace core {

namespace {

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kHexDigits[] = "0123456789ABCDEF";

// Value of each Base64 character, -1 for one outside the alphabet.
constexpr std::array<int8_t, 256> kBase64Values = [] {
  std::array<int8_t, 256> values{};
  values.fill(-1);
  for (int i = 0; i < 64; ++i) values[static_cast<unsigned char>(kBase64Alphabet[i])] = static_cast<int8_t>(i);
  return values;
}();

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string ToNarrow(const std::wstring& text, unsigned codePage) {
  std::string out;
  if (!platform::WideToCodePage(text, codePage, &out)) out.clear();
  return out;
}

std::wstring ToWide(const std::string& text, unsigned codePage) {
  std::wstring out;
  if (!platform::CodePageToWide(text, codePage, &out)) out.clear();
  return out;
}

std::optional<std::string> FindTag(const std::string& text, const std::string& name) {
  try {
    size_t open = text.find("<" + name + ">");
    size_t close = text.find("</" + name + ">");
    if (open == std::string::npos || close == std::string::npos) return std::nullopt;
    size_t start = open + name.size() + 2;
    if (close < start) return std::nullopt;
    return text.substr(start, close - start);
  } catch (const std::exception&) {
    LogException("Find tag CHAR");
    return std::nullopt;
  }
}

std::optional<std::wstring> FindTagWide(const std::wstring& text, const std::wstring& name) {
  try {
    size_t open = text.find(L"<" + name + L">");
    if (open == std::wstring::npos || text.find(L"</" + name + L">") == std::wstring::npos) {
      return std::nullopt;
    }
    size_t start = open + name.size() + 2;
    size_t end = text.find(L'<', start);
    if (end == std::wstring::npos) end = text.size();
    return text.substr(start, end - start);
  } catch (const std::exception&) {
    LogException("Find tag WCHAR");
    return std::nullopt;
  }
}

std::wstring ReplaceAll(const std::wstring& text, const std::wstring& pattern,
                        const std::wstring& replacement, bool firstOnly) {
  if (pattern.empty()) return text;
  std::wstring result;
  result.reserve(text.size());
  size_t from = 0;
  for (;;) {
    size_t hit = text.find(pattern, from);
    if (hit == std::wstring::npos) break;
    result.append(text, from, hit - from);
    result += replacement;
    from = hit + pattern.size();
    if (firstOnly) break;
  }
  result.append(text, from, std::wstring::npos);
  return result;
}

std::string Base64Encode(const uint8_t* data, size_t size) {
  std::string out((size + 2) / 3 * 4, '=');
  char* to = out.data();
  size_t i = 0;
  for (; i + 3 <= size; i += 3) {
    const uint32_t group = (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8) | data[i + 2];
    *to++ = kBase64Alphabet[(group >> 18) & 63];
    *to++ = kBase64Alphabet[(group >> 12) & 63];
    *to++ = kBase64Alphabet[(group >> 6) & 63];
    *to++ = kBase64Alphabet[group & 63];
  }
  // The last one or two bytes; the padding is already in place.
  if (const size_t left = size - i; left > 0) {
    uint32_t group = uint32_t{data[i]} << 16;
    if (left == 2) group |= uint32_t{data[i + 1]} << 8;
    *to++ = kBase64Alphabet[(group >> 18) & 63];
    *to++ = kBase64Alphabet[(group >> 12) & 63];
    if (left == 2) *to = kBase64Alphabet[(group >> 6) & 63];
  }
  return out;
}

std::string Base64Encode(const std::vector<uint8_t>& data) { return Base64Encode(data.data(), data.size()); }

std::vector<uint8_t> Base64Decode(const std::string& text) {
  std::vector<uint8_t> out(text.size() / 4 * 3 + 3);
  uint8_t* to = out.data();
  uint32_t group = 0;
  int count = 0;
  const size_t size = text.size();
  const auto* from = reinterpret_cast<const unsigned char*>(text.data());
  size_t i = 0;
  while (i < size) {
    // A whole group of four alphabet characters, the common case, in one
    // step.
    if (count == 0 && i + 4 <= size) {
      const int a = kBase64Values[from[i]], b = kBase64Values[from[i + 1]], c = kBase64Values[from[i + 2]],
                d = kBase64Values[from[i + 3]];
      if ((a | b | c | d) >= 0) {
        const uint32_t whole = (uint32_t(a) << 18) | (uint32_t(b) << 12) | (uint32_t(c) << 6) | uint32_t(d);
        *to++ = static_cast<uint8_t>(whole >> 16);
        *to++ = static_cast<uint8_t>(whole >> 8);
        *to++ = static_cast<uint8_t>(whole);
        i += 4;
        continue;
      }
    }
    // Else one character: line breaks and others outside the alphabet are
    // skipped, '=' ends the text.
    const unsigned char c = from[i++];
    if (c == '=') break;
    const int value = kBase64Values[c];
    if (value < 0) continue;
    group = (group << 6) | static_cast<uint32_t>(value);
    if (++count == 4) {
      *to++ = static_cast<uint8_t>(group >> 16);
      *to++ = static_cast<uint8_t>(group >> 8);
      *to++ = static_cast<uint8_t>(group);
      group = 0;
      count = 0;
    }
  }
  if (count >= 2) {
    group <<= 6 * (4 - count);
    *to++ = static_cast<uint8_t>(group >> 16);
    if (count == 3) *to++ = static_cast<uint8_t>(group >> 8);
  }
  out.resize(static_cast<size_t>(to - out.data()));
  return out;
}

std::string HexEncode(const uint8_t* data, size_t size) {
  std::string out;
  out.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    out += kHexDigits[data[i] >> 4];
    out += kHexDigits[data[i] & 15];
  }
  return out;
}

std::string HexEncode(const std::vector<uint8_t>& data) { return HexEncode(data.data(), data.size()); }

std::vector<uint8_t> HexDecode(const std::string& text) {
  std::vector<uint8_t> out((text.size() + 1) / 2, 0);
  for (size_t i = 0; i < text.size(); ++i) {
    int value = HexValue(text[i]);
    if (value < 0) value = 0;
    // A pair is read as one base-16 number; a lone last digit is a number
    // of its own.
    bool high = i % 2 == 0 && i + 1 < text.size();
    out[i / 2] |= static_cast<uint8_t>(high ? value << 4 : value);
  }
  return out;
}

bool IsHexText(const std::string& text, size_t digits) {
  if (text.size() != digits) return false;
  for (char c : text) {
    if (HexValue(c) < 0) return false;
  }
  return true;
}

std::wstring FormatCertDate(int64_t fileTime) {
  platform::CalendarTime date = platform::UtcFromUnix(platform::UnixFromFileTime(fileTime));
  wchar_t buffer[32];
  std::swprintf(buffer, 32, L"%d.%02d.%02d", date.year, date.month, date.day);
  return buffer;
}

}  // namespace core
