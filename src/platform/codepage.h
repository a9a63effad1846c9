// Conversion between wide text and narrow text in a code page.
//
// Code pages are the Windows numbers the program uses everywhere: 65001
// (UTF-8), 1251 (Cyrillic) and 0 (the system's ANSI page, which is UTF-8 on
// Linux). Linux converts with iconv, Windows with WideCharToMultiByte.
#pragma once

#include <string>

namespace platform {

// A character that the target page cannot hold becomes '?' (U+FFFD in
// UTF-8), and bytes that are no character of the source page become
// U+FFFD, each one for itself, as the Windows conversions do by default.
// False only for a page the program does not know.
bool WideToCodePage(const std::wstring& text, unsigned codePage, std::string* out);
bool CodePageToWide(const std::string& text, unsigned codePage, std::wstring* out);

}  // namespace platform
