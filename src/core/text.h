// Text helpers shared by every subsystem: code pages, the tag search of the
// exchange-folder files, replacement, Base64, hexadecimal and certificate
// dates.
//
// Wide text is std::wstring. Narrow text carries an explicit code page:
// 65001 (UTF-8: settings for the web page, exchange-folder files), 1251
// (the key-medium PIN) or 0 (the system's page: texts of the log). All
// functions are re-entrant.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace core {

constexpr unsigned kCodePageSystem = 0;
constexpr unsigned kCodePage1251 = 1251;
constexpr unsigned kCodePageUtf8 = 65001;

// Conversions never fail outward and never drop a text: a character that
// the page cannot hold becomes '?' (U+FFFD in UTF-8), bytes that are no
// character of the page become U+FFFD, one by one, and the rest of the
// text stays (a PIN with such a character is a wrong PIN, not no PIN).
std::string ToNarrow(const std::wstring& text, unsigned codePage);
std::wstring ToWide(const std::string& text, unsigned codePage);

// Content between the first "<name>" and the first "</name>" of the text;
// nothing when either marker is missing or the closing one comes first.
// No attributes, nesting, entities or trimming.
std::optional<std::string> FindTag(const std::string& text, const std::string& name);

// Content after the first "<name>" up to the next '<', in a text that must
// also hold "</name>"; nothing otherwise.
std::optional<std::wstring> FindTagWide(const std::wstring& text, const std::wstring& name);

// Replaces the pattern by the replacement, every occurrence or the first
// only. The search goes on behind each inserted replacement, so a
// replacement that holds the pattern still ends.
std::wstring ReplaceAll(const std::wstring& text, const std::wstring& pattern,
                        const std::wstring& replacement, bool firstOnly);

// Base64 with "+/" and '=' padding, no line breaks.
std::string Base64Encode(const uint8_t* data, size_t size);
std::string Base64Encode(const std::vector<uint8_t>& data);

// Stops at the first '=' or the end; skips every character outside the
// alphabet. A final group of 2 or 3 characters gives 1 or 2 bytes.
std::vector<uint8_t> Base64Decode(const std::string& text);

// Two upper-case digits per byte.
std::string HexEncode(const uint8_t* data, size_t size);
std::string HexEncode(const std::vector<uint8_t>& data);

// Pairs of hexadecimal digits (either case) to bytes; ceil(length / 2)
// bytes. A character that is not a digit counts as 0.
std::vector<uint8_t> HexDecode(const std::string& text);

// True when the text is exactly `digits` hexadecimal digits.
bool IsHexText(const std::string& text, size_t digits);

// "yyyy.mm.dd" of a file time (100-ns units since 1601, UTC), no time-zone
// conversion.
std::wstring FormatCertDate(int64_t fileTime);

}  // namespace core
