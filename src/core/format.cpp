// printf-style formatting into std::string (see format.h).
#include "core/format.h"

#include <cstdio>
#include <vector>

namespace core {

std::string FormatList(const char* format, va_list arguments) {
  va_list copy;
  va_copy(copy, arguments);
  char small[256];
  int length = std::vsnprintf(small, sizeof(small), format, copy);
  va_end(copy);
  if (length < 0) return std::string();
  if (static_cast<size_t>(length) < sizeof(small)) return std::string(small, static_cast<size_t>(length));
  std::vector<char> large(static_cast<size_t>(length) + 1);
  std::vsnprintf(large.data(), large.size(), format, arguments);
  return std::string(large.data(), static_cast<size_t>(length));
}

std::string Format(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::string text = FormatList(format, arguments);
  va_end(arguments);
  return text;
}

}  // namespace core
