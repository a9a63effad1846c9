// Code-page conversion on Linux, with glibc's iconv. wchar_t is UTF-32 here;
// the system's page (0) is UTF-8.
#include "platform/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

#include "platform/error.h"

namespace platform {

namespace {

const char* CharsetOf(unsigned codePage) {
  switch (codePage) {
    case 1251:
      return "CP1251";
    case 0:
    case 65001:
      return "UTF-8";
    default:
      return nullptr;
  }
}

// Converts all of `in` from one charset to another; false when any byte
// cannot be converted.
bool Convert(const char* to, const char* from, const char* in, size_t inBytes, std::vector<char>* out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    SetLastSystemError(errno);
    return false;
  }
  out->assign(inBytes * 4 + 16, '\0');
  char* inPtr = const_cast<char*>(in);
  size_t inLeft = inBytes;
  char* outPtr = out->data();
  size_t outLeft = out->size();
  bool ok = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1) &&
            iconv(cd, nullptr, nullptr, &outPtr, &outLeft) != static_cast<size_t>(-1);
  if (!ok) SetLastSystemError(errno);
  out->resize(out->size() - outLeft);
  iconv_close(cd);
  return ok;
}

}  // namespace

bool WideToCodePage(const std::wstring& text, unsigned codePage, std::string* out) {
  out->clear();
  const char* charset = CharsetOf(codePage);
  if (charset == nullptr) return false;
  if (text.empty()) return true;
  std::vector<char> bytes;
  if (!Convert(charset, "WCHAR_T", reinterpret_cast<const char*>(text.data()),
               text.size() * sizeof(wchar_t), &bytes)) {
    return false;
  }
  out->assign(bytes.begin(), bytes.end());
  return true;
}

bool CodePageToWide(const std::string& text, unsigned codePage, std::wstring* out) {
  out->clear();
  const char* charset = CharsetOf(codePage);
  if (charset == nullptr) return false;
  if (text.empty()) return true;
  std::vector<char> bytes;
  if (!Convert("WCHAR_T", charset, text.data(), text.size(), &bytes)) return false;
  out->assign(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
  return true;
}

}  // namespace platform
