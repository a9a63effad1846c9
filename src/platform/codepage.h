// Conversion between wide text and narrow text in a code page.
//
// Code pages are the Windows numbers the program uses everywhere: 65001
// (UTF-8), 1251 (Cyrillic) and 0 (the system's ANSI page, which is UTF-8 on
// Linux). Linux converts with iconv, Windows with WideCharToMultiByte.
#pragma once

#include <string>

namespace platform {

// False when the text cannot be converted whole.
bool WideToCodePage(const std::wstring& text, unsigned codePage, std::string* out);
bool CodePageToWide(const std::string& text, unsigned codePage, std::wstring* out);

}  // namespace platform
