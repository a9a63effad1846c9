// UTF-8 <-> UTF-16 at the edge of the Windows platform files: everything
// above the platform layer is UTF-8, the wide Windows calls take UTF-16.
// Included by the win32/ files only.
#pragma once

#include <windows.h>

#include <string>

namespace platform::win32 {

inline std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), length);
  return out;
}

inline std::string Narrow(const wchar_t* text, size_t size) {
  if (size == 0) return std::string();
  int length = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), out.data(), length, nullptr, nullptr);
  return out;
}

inline std::string Narrow(const std::wstring& text) { return Narrow(text.data(), text.size()); }

}  // namespace platform::win32
