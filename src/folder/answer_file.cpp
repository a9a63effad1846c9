// XMLSave, the answer's name and the error answer (answer_file.h).
#include "folder/answer_file.h"

#include <array>
#include <map>
#include <mutex>
#include <set>
#include <optional>
#include <vector>

#include "core/format.h"
#include "core/log.h"
#include "core/text.h"
#include "crypto/exchange_cipher.h"
#include "exchange/result_codes.h"
#include "folder/answer_document.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/paths.h"

namespace folder {
namespace {

// Case folding of the letters Windows folds in file names that answers
// use: Latin and Cyrillic.
wchar_t Fold(wchar_t c) {
  if (c >= L'A' && c <= L'Z') return static_cast<wchar_t>(c - L'A' + L'a');
  if (c >= 0x0410 && c <= 0x042F) return static_cast<wchar_t>(c + 0x20);
  if (c >= 0x0400 && c <= 0x040F) return static_cast<wchar_t>(c + 0x50);
  return c;
}

std::wstring Folded(const std::string& name) {
  std::wstring wide = core::ToWide(name, core::kCodePageUtf8);
  for (wchar_t& c : wide) c = Fold(c);
  return wide;
}

// A name from the document may become a file name only when it stays a
// plain name inside in/.
bool SafeName(const std::wstring& name) {
  if (name.empty() || name.size() > kAnswerNameMax) return false;
  if (name.find(L"..") != std::wstring::npos) return false;
  for (wchar_t c : name) {
    if (c == L'/' || c == L'\\' || c == L':' || c < 0x20) return false;
  }
  return true;
}

// The names taken in a folder that answers or claimed requests go to: the
// folded names of its last listing and of every name handed out since.
// Only the client adds files to in/ and to the working folder (the
// accounting system takes answers away), so the set holds every name taken
// there, perhaps with some taken away since: a name not in it needs no new
// listing. Listing the whole of in/ for each answer made a pass of
// thousands of answers quadratic.
struct TakenNames {
  bool listed = false;
  std::set<std::wstring> names;
  size_t handedOut = 0;  // names handed out since the listing
};
std::mutex takenMutex;
std::map<std::string, TakenNames> takenByFolder;
// The set is renewed from the folder after this many names, so that it
// does not grow without end while the accounting system takes answers.
constexpr size_t kHandedOutBeforeListing = 20000;

void ListTaken(const std::string& folder, TakenNames* taken) {
  std::vector<platform::FolderEntry> entries;
  platform::ListFolder(folder, "*", &entries);
  taken->names.clear();
  for (const platform::FolderEntry& entry : entries) taken->names.insert(Folded(entry.name));
  taken->listed = true;
  taken->handedOut = 0;
}

// name + ".xml", or the first name + "_N.xml", not in the set.
std::string FirstFree(const std::string& name, const TakenNames& taken) {
  for (int counter = 0;; ++counter) {
    std::string candidate = counter == 0 ? name + ".xml" : core::Format("%s_%d.xml", name.c_str(), counter);
    if (taken.names.count(Folded(candidate)) == 0) return candidate;
  }
}

void MakeFolder(const std::string& path) {
  if (platform::FolderExists(path)) return;
  if (!platform::FolderCreate(path) && !platform::FolderExists(path)) {
    core::LogError("Can't create the folder " + path, platform::LastSystemError());
  }
}

}  // namespace

void MakeExchangeFolders(const std::string& folder) {
  MakeFolder(folder + "in" + platform::kPathSeparator);
  MakeFolder(folder + "out" + platform::kPathSeparator);
}

std::wstring AnswerTimeStamp() {
  platform::CalendarTime now = platform::LocalNow();
  return core::ToWide(core::Format("%02d%02d%02d_%03d", now.hour, now.minute, now.second,
                                   now.millisecond),
                      core::kCodePageUtf8);
}

std::string FreeAnswerName(const std::string& in, const std::string& name) {
  std::lock_guard<std::mutex> lock(takenMutex);
  TakenNames& taken = takenByFolder[in];
  bool listed = false;
  if (!taken.listed || taken.handedOut > kHandedOutBeforeListing) {
    ListTaken(in, &taken);
    listed = true;
  }
  std::string candidate = FirstFree(name, taken);
  // Taken as far as the set knows, or there under this very name: the
  // folder itself decides.
  if (!listed && (candidate != name + ".xml" || platform::FileExists(in + candidate))) {
    ListTaken(in, &taken);
    candidate = FirstFree(name, taken);
  }
  taken.names.insert(Folded(candidate));
  ++taken.handedOut;
  return candidate;
}

int XMLSave(const std::string& folder, const std::string& iks, std::string* written) {
  std::string temporary;
  try {
    core::LogInfo("XMLSave-Begin");
    XMLCloseAll();
    core::LogInfo("XMLSave close tag");
    core::LogInfo("XMLSave refer/number");
    const std::wstring& text = AnswerText();
    std::optional<std::wstring> name = core::FindTagWide(text, L"refer");
    if (!name) name = core::FindTagWide(text, L"number");
    if (!name) {
      core::LogError("Не найден tag <refer/number>", 0);
      return -1;
    }
    if (!SafeName(*name)) {
      core::LogError("The answer's refer/number is no plain file name; the time stamp names it", 0);
      name = AnswerTimeStamp();
    }
    if (iks.size() < 2 * crypto::kExchangeKeySize ||
        !core::IsHexText(iks.substr(0, 2 * crypto::kExchangeKeySize), 2 * crypto::kExchangeKeySize)) {
      core::LogError("XMLSave: the IKS is not hexadecimal", 0);
      return -1;
    }
    std::string nameText = core::ToNarrow(*name, core::kCodePageUtf8);
    std::string in = folder + "in" + platform::kPathSeparator;
    core::LogInfo(core::Format("Size:%d. FE:%d.Refer/number:%d",
                               static_cast<int>(in.size() + nameText.size() + 10),
                               static_cast<int>(folder.size()), static_cast<int>(nameText.size())));
    MakeExchangeFolders(folder);
    std::string path = in + FreeAnswerName(in, nameText);
    temporary = path + ".tmp";
    core::LogInfo("XMLSave can create file");
    core::LogInfo(path);

    std::string utf8 = core::ToNarrow(text, core::kCodePageUtf8);
    core::LogInfo("XMLSave utf8");
    std::vector<uint8_t> data(utf8.begin(), utf8.end());
    std::vector<uint8_t> key = core::HexDecode(iks.substr(0, 2 * crypto::kExchangeKeySize));
    std::array<uint8_t, crypto::kKeyMaterialSize> material = crypto::KeyMaterial(key.data());
    crypto::KeyMaterialHash hash;
    if (crypto::HashKeyMaterial(material.data(), &hash) != 0) return -1;
    core::LogInfo("ready-1");
    if (!crypto::EncryptBuffer(&hash, &data)) return -1;
    core::LogInfo("ready-2");

    platform::File file;
    if (!platform::FileOpen(temporary, platform::OpenMode::CreateAlways, &file)) {
      core::LogError("Ошибка создания файла XML", platform::LastSystemError());
      return -1;
    }
    core::LogInfo("XMLSave create - ok");
    size_t count = 0;
    while (count < data.size()) {
      int64_t put = platform::FileWriteAt(file, static_cast<int64_t>(count), data.data() + count,
                                          data.size() - count);
      if (put <= 0) break;
      count += static_cast<size_t>(put);
    }
    int error = platform::LastSystemError();
    platform::FileClose(&file);
    if (count != data.size()) {
      core::LogError("Ошибка записи XML файла", error);
      platform::FileDelete(temporary);
      return -1;
    }
    if (!platform::FileMove(temporary, path)) {
      core::LogError("Can't rename the answer " + temporary, platform::LastSystemError());
      platform::FileDelete(temporary);
      return -1;
    }
    if (written) *written = path;
    core::LogInfo("XMLSave-End");
    return 0;
  } catch (...) {
    core::LogException("XMLSave");
    if (!temporary.empty()) platform::FileDelete(temporary);
    return -1;
  }
}

int WriteErrorAnswer(const std::string& folder, const std::string& iks, const std::wstring& text,
                     const std::string& number, int code) {
  XMLCreate();
  XMLOpen(L"root");
  std::wstring refer = L"error_";
  if (!number.empty()) {
    std::wstring wideNumber = core::ToWide(number, core::kCodePageUtf8);
    XMLElement(L"number", wideNumber);
    refer += wideNumber;
  } else {
    refer += AnswerTimeStamp();
  }
  XMLElement(L"refer", refer);
  XMLElement(L"error", text);
  if (code != 0) {
    XMLElement(L"errorcode", std::to_wstring(code));
    XMLElement(L"errorinfo", code > 0 && code < 256 ? exchange::ResultText(static_cast<uint8_t>(code))
                                                    : std::wstring());
  }
  int result = XMLSave(folder, iks);
  core::LogError(core::ToNarrow(text, core::kCodePageUtf8), code);
  return result;
}

}  // namespace folder
