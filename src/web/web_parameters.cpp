// The parameters of a web request (see web_parameters.h).
#include "web/web_parameters.h"

#include <limits>

namespace web {

namespace {

bool EndsValue(char c) { return c == '&' || c == ' ' || c == '\r' || c == '\n'; }

bool CallbackCharacter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '$' ||
         c == '.';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::string> ReadParameter(const std::string& request, const std::string& name, bool* cut) {
  if (cut != nullptr) *cut = false;
  const size_t at = request.find(name);
  if (at == std::string::npos) return std::nullopt;
  const size_t equals = request.find('=', at + name.size());
  if (equals == std::string::npos) return std::nullopt;
  size_t end = equals + 1;
  while (end < request.size() && !EndsValue(request[end])) ++end;
  size_t length = end - (equals + 1);
  if (length > kParameterMaxBytes) {
    length = kParameterMaxBytes;
    if (cut != nullptr) *cut = true;
  }
  return request.substr(equals + 1, length);
}

std::string CallbackName(const std::string& request) {
  std::string value = ReadParameter(request, "callback").value_or(std::string());
  size_t length = 0;
  while (length < value.size() && length < kCallbackMaxBytes && CallbackCharacter(value[length])) ++length;
  value.resize(length);
  return value;
}

std::optional<std::string> CountingPhone(const std::string& request) {
  std::optional<std::string> phone = ReadParameter(request, "phone");
  if (!phone || phone->size() != 12 || LeadingNumber(*phone) < 375291000000LL) return std::nullopt;
  return phone;
}

std::string PercentDecode(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

int64_t LeadingNumber(const std::string& text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int64_t value = 0;
  const int64_t limit = std::numeric_limits<int64_t>::max() / 10;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value > limit) {
      value = std::numeric_limits<int64_t>::max();
      continue;
    }
    value = value * 10 + (text[i] - '0');
    if (value < 0) value = std::numeric_limits<int64_t>::max();
  }
  return negative ? -value : value;
}

std::optional<int32_t> WholeNumber(const std::string& text) {
  const size_t digits = text.size() - (!text.empty() && text[0] == '-' ? 1 : 0);
  if (digits == 0 || digits > 10) return std::nullopt;
  for (size_t i = text.size() - digits; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
  }
  const int64_t value = LeadingNumber(text);
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) return std::nullopt;
  return static_cast<int32_t>(value);
}

}  // namespace web
