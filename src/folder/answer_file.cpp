// XMLSave, the answer's name and the error answer (answer_file.h).
#include "folder/answer_file.h"

#include <array>
#include <cstring>
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

namespace {

// The answer's file name without ".xml": `refer`, else `number`, when it is
// a plain name; otherwise the time stamp. Nothing when the answer has
// neither.
std::optional<std::string> AnswerBaseName(const std::wstring& text) {
  std::optional<std::wstring> name = core::FindTagWide(text, L"refer");
  if (!name) name = core::FindTagWide(text, L"number");
  if (!name) {
    core::LogError("Не найден tag <refer/number>", 0);
    return std::nullopt;
  }
  if (!SafeName(*name)) {
    core::LogError("The answer's refer/number is no plain file name; the time stamp names it", 0);
    name = AnswerTimeStamp();
  }
  return core::ToNarrow(*name, core::kCodePageUtf8);
}

// The exchange-file cipher of the first 32 hexadecimal digits of `iks`,
// ready to run over a buffer (it enciphers and deciphers alike).
bool AnswerCipher(const std::string& iks, crypto::KeyMaterialHash* hash) {
  if (iks.size() < 2 * crypto::kExchangeKeySize ||
      !core::IsHexText(iks.substr(0, 2 * crypto::kExchangeKeySize), 2 * crypto::kExchangeKeySize)) {
    core::LogError("XMLSave: the IKS is not hexadecimal", 0);
    return false;
  }
  std::vector<uint8_t> key = core::HexDecode(iks.substr(0, 2 * crypto::kExchangeKeySize));
  std::array<uint8_t, crypto::kKeyMaterialSize> material = crypto::KeyMaterial(key.data());
  return crypto::HashKeyMaterial(material.data(), hash) == 0;
}

// The answer's text enciphered, UTF-8 without byte-order mark.
bool EncipheredAnswer(const std::string& iks, const std::wstring& text, std::vector<uint8_t>* data) {
  crypto::KeyMaterialHash hash;
  if (!AnswerCipher(iks, &hash)) return false;
  std::string utf8 = core::ToNarrow(text, core::kCodePageUtf8);
  core::LogInfo("XMLSave utf8");
  const auto* bytes = reinterpret_cast<const uint8_t*>(utf8.data());
  data->assign(bytes, bytes + utf8.size());
  return crypto::EncryptBuffer(&hash, data);
}

// Writes the whole file or, after a short write, none of it.
bool WriteAnswerFile(const std::string& path, const std::vector<uint8_t>& data) {
  platform::File file;
  if (!platform::FileOpen(path, platform::OpenMode::CreateAlways, &file)) {
    core::LogError("Ошибка создания файла XML", platform::LastSystemError());
    return false;
  }
  core::LogInfo("XMLSave create - ok");
  size_t count = 0;
  while (count < data.size()) {
    int64_t put = platform::FileWriteAt(file, static_cast<int64_t>(count), data.data() + count, data.size() - count);
    if (put <= 0) break;
    count += static_cast<size_t>(put);
  }
  int error = platform::LastSystemError();
  platform::FileClose(&file);
  if (count != data.size()) {
    core::LogError("Ошибка записи XML файла", error);
    platform::FileDelete(path);
    return false;
  }
  return true;
}

std::string InFolder(const std::string& folder) { return folder + "in" + platform::kPathSeparator; }

std::string FileNameOf(const std::string& path) {
  const size_t separator = path.find_last_of("/\\");
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

// Where the answer of the request file `requestPath` waits, complete, for
// its request to be marked answered.
std::string StagedAnswerPath(const std::string& in, const std::string& requestPath) {
  return in + FileNameOf(requestPath) + kStagedAnswerSuffix;
}

// Gives the staged answer of the request marked answered by `marker` its
// name in in/ (`name`, or, when not known, the one its text gives) and
// deletes the marker. A staged answer that is no longer there was given its
// name before. False when it is still staged.
bool PublishStagedAnswer(const std::string& in, const std::string& iks, const std::string& marker,
                         std::optional<std::string> name, std::string* written) {
  const std::string requestPath = marker.substr(0, marker.size() - std::strlen(kAnsweredSuffix));
  const std::string staged = StagedAnswerPath(in, requestPath);
  if (!name) {
    // A run that ended before naming it: the name is in the answer.
    std::vector<uint8_t> data;
    if (!platform::FileExists(staged)) {
      if (!platform::FileDelete(marker) && platform::FileExists(marker)) {
        core::LogError("Can't delete the answered request " + marker, platform::LastSystemError());
      }
      return true;
    }
    crypto::KeyMaterialHash hash;
    if (!platform::ReadWholeFile(staged, &data) || !AnswerCipher(iks, &hash) || !crypto::DecryptBuffer(&hash, &data)) {
      core::LogError("Can't read the staged answer " + staged, platform::LastSystemError());
      return false;
    }
    name = AnswerBaseName(core::ToWide(std::string(data.begin(), data.end()), core::kCodePageUtf8));
    if (!name) name = core::ToNarrow(AnswerTimeStamp(), core::kCodePageUtf8);
  }
  const std::string path = in + FreeAnswerName(in, *name);
  if (!platform::FileMove(staged, path)) {
    core::LogError("Can't rename the answer " + staged, platform::LastSystemError());
    return false;
  }
  core::LogInfo(path);
  if (written) *written = path;
  if (!platform::FileDelete(marker) && platform::FileExists(marker)) {
    core::LogError("Can't delete the answered request " + marker, platform::LastSystemError());
  }
  return true;
}

}  // namespace

int XMLSave(const std::string& folder, const std::string& iks, std::string* written) {
  std::string temporary;
  try {
    core::LogInfo("XMLSave-Begin");
    XMLCloseAll();
    core::LogInfo("XMLSave close tag");
    core::LogInfo("XMLSave refer/number");
    const std::wstring& text = AnswerText();
    std::optional<std::string> name = AnswerBaseName(text);
    if (!name) return -1;
    std::vector<uint8_t> data;
    if (!EncipheredAnswer(iks, text, &data)) return -1;
    std::string in = InFolder(folder);
    core::LogInfo(core::Format("Size:%d. FE:%d.Refer/number:%d", static_cast<int>(in.size() + name->size() + 10),
                               static_cast<int>(folder.size()), static_cast<int>(name->size())));
    MakeExchangeFolders(folder);
    std::string path = in + FreeAnswerName(in, *name);
    temporary = path + ".tmp";
    core::LogInfo("XMLSave can create file");
    core::LogInfo(path);
    if (!WriteAnswerFile(temporary, data)) return -1;
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

int XMLSaveAnswerOf(const std::string& folder, const std::string& iks, const std::string& requestPath,
                    std::string* written) {
  std::string staged;
  try {
    core::LogInfo("XMLSave-Begin");
    XMLCloseAll();
    const std::wstring& text = AnswerText();
    const std::optional<std::string> name = AnswerBaseName(text);
    if (!name) return -1;
    std::vector<uint8_t> data;
    if (!EncipheredAnswer(iks, text, &data)) return -1;
    MakeExchangeFolders(folder);
    const std::string in = InFolder(folder);
    const std::string marker = requestPath + kAnsweredSuffix;
    // An earlier request of this file name still waits for its answer's
    // name: that answer goes first, and its staged file is not overwritten.
    if (platform::FileExists(marker) && !PublishStagedAnswer(in, iks, marker, std::nullopt, nullptr)) return -1;
    staged = StagedAnswerPath(in, requestPath);
    if (!WriteAnswerFile(staged, data)) return -1;
    // From here the request is answered: a pass that finds the marker
    // names the staged answer instead of carrying the request out again.
    if (!platform::FileMove(requestPath, marker)) {
      core::LogError("Can't mark the request answered " + requestPath, platform::LastSystemError());
      platform::FileDelete(staged);
      return -1;
    }
    staged.clear();
    if (!PublishStagedAnswer(in, iks, marker, name, written)) {
      core::LogError("The answer waits in in/ for the next pass to name it " + requestPath, 0);
    }
    core::LogInfo("XMLSave-End");
    return 0;
  } catch (...) {
    core::LogException("XMLSave");
    if (!staged.empty()) platform::FileDelete(staged);
    return -1;
  }
}

void PublishAnsweredRequests(const std::string& folder, const std::string& iks, const std::string& workingFolder) {
  std::vector<platform::FolderEntry> entries;
  platform::ListFolder(workingFolder, std::string("*") + kAnsweredSuffix, &entries);
  for (const platform::FolderEntry& entry : entries) {
    if (entry.isFolder) continue;
    core::LogInfo("The request was answered; its answer is named now " + entry.name);
    PublishStagedAnswer(InFolder(folder), iks, workingFolder + entry.name, std::nullopt, nullptr);
  }
}

int WriteErrorAnswer(const std::string& folder, const std::string& iks, const std::wstring& text,
                     const std::string& number, int code, const std::string& requestPath) {
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
  int result = requestPath.empty() ? XMLSave(folder, iks) : XMLSaveAnswerOf(folder, iks, requestPath);
  core::LogError(core::ToNarrow(text, core::kCodePageUtf8), code);
  return result;
}

}  // namespace folder
