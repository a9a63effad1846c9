// Code-page conversion on Linux, with glibc's iconv. wchar_t is UTF-32 here;
// the system's page (0) is UTF-8.
#include "platform/codepage.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
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

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// The converters this thread opened, kept for its life: opening one costs
// more than converting a log line. A converter serves one thread at a time.
struct Converters {
  struct Entry {
    const char* to;    // charset names as given (string literals)
    const char* from;
    iconv_t cd;
  };
  std::vector<Entry> open;
  ~Converters() {
    for (const Entry& entry : open) iconv_close(entry.cd);
  }
  iconv_t Get(const char* to, const char* from) {
    for (const Entry& entry : open) {
      if (entry.to == to && entry.from == from) {
        iconv(entry.cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
        return entry.cd;
      }
    }
    iconv_t cd = iconv_open(to, from);
    if (cd != kNoConverter) open.push_back({to, from, cd});
    return cd;
  }
};

thread_local Converters converters;

// Converts all of `in` from one charset to another. A character that the
// target cannot take, or bytes that are no character of the source, are
// replaced one by one, as the Windows conversions do by default: every
// unit of the source that fails (one byte of narrow text, one wide
// character) gives one `substitute` (the bytes of U+FFFD or '?' in the
// target charset). False only when no converter can be had.
bool Convert(const char* to, const char* from, const char* in, size_t inBytes, size_t unit,
             const std::string& substitute, std::vector<char>* out) {
  iconv_t cd = converters.Get(to, from);
  if (cd == kNoConverter) {
    SetLastSystemError(errno);
    return false;
  }
  out->assign(inBytes * 4 + 16, '\0');
  char* inPtr = const_cast<char*>(in);
  size_t inLeft = inBytes;
  size_t used = 0;
  for (;;) {
    char* outPtr = out->data() + used;
    size_t outLeft = out->size() - used;
    size_t result = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    const int error = errno;
    if (result != static_cast<size_t>(-1)) iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    used = out->size() - outLeft;
    if (result != static_cast<size_t>(-1)) break;  // the whole input is converted
    if (error == E2BIG) {
      out->resize(out->size() * 2);
      continue;
    }
    if (error != EILSEQ && error != EINVAL) {
      SetLastSystemError(error);
      return false;
    }
    // The unit at inPtr cannot be converted (or is cut off at the end):
    // one substitute for it, and on behind it.
    const size_t skip = std::min(unit, inLeft);
    inPtr += skip;
    inLeft -= skip;
    if (out->size() - used < substitute.size()) out->resize(out->size() * 2 + substitute.size());
    std::copy(substitute.begin(), substitute.end(), out->begin() + static_cast<std::ptrdiff_t>(used));
    used += substitute.size();
    iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
  }
  out->resize(used);
  return true;
}

// U+FFFD as bytes of the converters' wide charset.
std::string WideReplacement() {
  const wchar_t replacement = L'\xFFFD';
  return std::string(reinterpret_cast<const char*>(&replacement), sizeof(replacement));
}

// Both pages keep ASCII as it is: runs of ASCII are copied, and only the
// runs between them go through iconv (a document of Base64 with a line of
// Cyrillic in it would otherwise go through it whole).
template <typename From, typename To>
bool ConvertRuns(const std::basic_string<From>& text, const char* to, const char* from, size_t unit,
                 const std::string& substitute, std::basic_string<To>* out) {
  const auto ascii = [](From c) { return static_cast<uint32_t>(c) < 0x80; };
  out->reserve(text.size());
  std::vector<char> bytes;
  for (auto at = text.begin(); at != text.end();) {
    const auto plainEnd = std::find_if_not(at, text.end(), ascii);
    // Widened or narrowed in place: append() with iterators of the other
    // character type builds a temporary string first.
    const size_t done = out->size();
    out->resize(done + static_cast<size_t>(plainEnd - at));
    std::transform(at, plainEnd, out->begin() + static_cast<std::ptrdiff_t>(done),
                   [](From c) { return static_cast<To>(c); });
    at = std::find_if(plainEnd, text.end(), ascii);
    if (plainEnd == at) continue;
    const size_t count = static_cast<size_t>(at - plainEnd);
    if (!Convert(to, from, reinterpret_cast<const char*>(&*plainEnd), count * sizeof(From), unit, substitute, &bytes)) {
      return false;
    }
    out->append(reinterpret_cast<const To*>(bytes.data()), bytes.size() / sizeof(To));
  }
  return true;
}

}  // namespace

bool WideToCodePage(const std::wstring& text, unsigned codePage, std::string* out) {
  out->clear();
  const char* charset = CharsetOf(codePage);
  if (charset == nullptr) return false;
  // UTF-8 takes U+FFFD for what it cannot hold, a single-byte page '?'.
  const std::string substitute = codePage == 1251 ? "?" : "\xEF\xBF\xBD";
  if (!ConvertRuns(text, charset, "WCHAR_T", sizeof(wchar_t), substitute, out)) {
    out->clear();
    return false;
  }
  return true;
}

bool CodePageToWide(const std::string& text, unsigned codePage, std::wstring* out) {
  out->clear();
  const char* charset = CharsetOf(codePage);
  if (charset == nullptr) return false;
  if (!ConvertRuns(text, "WCHAR_T", charset, 1, WideReplacement(), out)) {
    out->clear();
    return false;
  }
  return true;
}

}  // namespace platform
