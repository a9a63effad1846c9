// The parameters of a web request, read from the whole received text
// (request line and headers). Called by HandleWebRequest on the worker
// threads; no shared state.
//
// A parameter is the first occurrence of its name anywhere in the text (a
// name inside another word matches too), then the first "=" behind it; the
// value runs to the next "&", blank, carriage return or line feed, or to
// the end of the text. A query never holds a raw blank or line break, so a
// value given last stops at the end of the request line instead of taking
// the headers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace web {

// Longest value read; a longer one is cut there (and "update" refuses a
// longer `data`).
constexpr size_t kParameterMaxBytes = 65536;
// Longest callback name kept.
constexpr size_t kCallbackMaxBytes = 128;

// The value, or none when the name or its "=" is missing. *cut is set when
// the value was longer than kParameterMaxBytes.
std::optional<std::string> ReadParameter(const std::string& request, const std::string& name, bool* cut = nullptr);

// The JSONP function name: the value cut at its first character outside
// [A-Za-z0-9_$.] and at kCallbackMaxBytes; empty when absent.
std::string CallbackName(const std::string& request);

// The phone when it counts: exactly 12 characters whose decimal value is at
// least 375291000000.
std::optional<std::string> CountingPhone(const std::string& request);

// "%" and two hexadecimal digits give one byte; a "%" without two digits
// behind it stays as it is.
std::string PercentDecode(const std::string& text);

// The decimal number the text starts with (an optional sign, then digits);
// 0 when it starts with none. Held to the int64 range.
int64_t LeadingNumber(const std::string& text);

// The whole text as a decimal 32-bit number (an optional "-", then
// digits only); none otherwise.
std::optional<int32_t> WholeNumber(const std::string& text);

}  // namespace web
