// printf-style formatting into a std::string, for the program's fixed
// texts ("%s - %d", "%02d:%02d:%02d %s", "%09d%09d%04d%01d%04d").
#pragma once

#include <cstdarg>
#include <string>

#include "core/portable.h"

namespace core {

std::string Format(const char* format, ...) TSR_PRINTF_FORMAT(1, 2);
std::string FormatList(const char* format, va_list arguments);

}  // namespace core
