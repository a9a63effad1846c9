// Code-page conversion on Windows, with MultiByteToWideChar and
// WideCharToMultiByte: '?' for a character that a single-byte page lacks
// (no "best fit" look-alike), U+FFFD for bytes that are no character.
// wchar_t is UTF-16 here; page 0 is the system's ANSI page.
#include "platform/codepage.h"

#include <windows.h>

#include "platform/error.h"

namespace platform {

namespace {

bool Known(unsigned codePage) { return codePage == 0 || codePage == 1251 || codePage == 65001; }

}  // namespace

bool WideToCodePage(const std::wstring& text, unsigned codePage, std::string* out) {
  out->clear();
  if (!Known(codePage)) return false;
  if (text.empty()) return true;
  const int size = static_cast<int>(text.size());
  // UTF-8 takes no flags; a single-byte page would otherwise write 'e' for
  // 'é', which reads back as another text.
  const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  int length = WideCharToMultiByte(codePage, flags, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) {
    SetLastSystemError(static_cast<int>(GetLastError()));
    return false;
  }
  out->resize(static_cast<size_t>(length));
  WideCharToMultiByte(codePage, flags, text.data(), size, out->data(), length, nullptr, nullptr);
  return true;
}

bool CodePageToWide(const std::string& text, unsigned codePage, std::wstring* out) {
  out->clear();
  if (!Known(codePage)) return false;
  if (text.empty()) return true;
  const int size = static_cast<int>(text.size());
  int length = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
  if (length <= 0) {
    SetLastSystemError(static_cast<int>(GetLastError()));
    return false;
  }
  out->resize(static_cast<size_t>(length));
  MultiByteToWideChar(codePage, 0, text.data(), size, out->data(), length);
  if (codePage == 1251) {
    // The one byte that is no character of the page (0x98) comes through
    // as the control U+0098; it is U+FFFD, as for UTF-8 and on Linux. One
    // byte is one character in this page.
    for (size_t i = 0; i < text.size() && i < out->size(); ++i) {
      if (static_cast<unsigned char>(text[i]) == 0x98) (*out)[i] = L'\xFFFD';
    }
  }
  return true;
}

}  // namespace platform
