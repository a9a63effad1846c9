// The folder pass, the claim of request files and the dispatcher (pass.h),
// and the ends of a request shared by every handler (handlers.h).
#include "folder/pass.h"

#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "core/client_state.h"
#include "core/folders.h"
#include "core/format.h"
#include "core/log.h"
#include "core/text.h"
#include "crypto/certificates.h"
#include "crypto/exchange_cipher.h"
#include "exchange/session.h"
#include "folder/answer_file.h"
#include "folder/request_ending.h"
#include "folder/request_file.h"
#include "folder/request_record.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "shell/status.h"

namespace folder {
namespace {

// Sizes of the files of out/ at the previous claim: a file is claimed once
// its size has stayed the same from one tick to the next.
std::map<std::string, int64_t> outSizes;

// Working-folder paths of requests that were finished but whose file could
// not be deleted; they are not taken again.
std::set<std::string> undeleted;

// The deciphered text of each request claimed in this pass, by its path in
// the working folder: the pass reads it from here instead of from the file
// it has just written. Emptied once the pass has read its requests.
std::map<std::string, std::string> claimedTexts;

// False until the first pass of the run has removed what an earlier run
// ended before removing.
bool tidied = false;

// The handler of each request type. A type without a row is refused and
// its file removed.
using Handler = void (*)(const FolderPassContext&, const FolderRequest&);
struct DispatchRow {
  int code;
  Handler handler;  // null: nothing happens and the file stays
};

const DispatchRow kDispatchTable[] = {
    {40, &GetList},
    {41, &GetOneMessage},
    {42, &DeleteOneMessage},
    {49, &PSSingle},
    // A "signfirst" waits in the working folder while the server refuses
    // first signatures (SignFirstEnabled false).
    {50, [](const FolderPassContext& c, const FolderRequest& r) { if (SignFirstEnabled()) PSS(c, r, L"EDocWithSign"); }},
    {51, [](const FolderPassContext& c, const FolderRequest& r) { PSS(c, r, L"EDocWithTwoSigns"); }},
    {56, &ProcessSendMessage},
    {73, &ProcessGetCertificate},
    {74, &ProcessSendCertificate},
    {57, nullptr},  // "repeat": no action
};

const DispatchRow* RowOf(int code) {
  for (const DispatchRow& row : kDispatchTable) {
    if (row.code == code) return &row;
  }
  return nullptr;
}

std::string OutFolder(const std::string& exchangeFolder) { return exchangeFolder + "out" + platform::kPathSeparator; }

bool SizeOf(const std::string& path, int64_t* size) {
  platform::File file;
  if (!platform::FileOpen(path, platform::OpenMode::ReadExisting, &file)) return false;
  bool known = platform::FileSize(file, size);
  platform::FileClose(&file);
  return known;
}

// The name a claimed file gets in the working folder: its own, or, when a
// request of that name still waits there, the first free "<stem>_N.xml".
std::string WorkingName(const std::string& name) {
  if (!platform::FileExists(core::WorkingFolder() + name)) return name;
  std::string stem = name.size() > 4 ? name.substr(0, name.size() - 4) : name;
  return FreeAnswerName(core::WorkingFolder(), stem);
}

// A request of the working folder claimed from `name` (under its own name
// or a "<stem>_N.xml" of it) whose text is `text`: the claim of that file
// was cut short after the request was written (the process ended) and
// before its source left out/.
bool ClaimedBefore(const std::string& name, const std::vector<uint8_t>& text) {
  const std::string stem = name.size() > 4 ? name.substr(0, name.size() - 4) : name;
  for (int counter = 0;; ++counter) {
    const std::string path =
        core::WorkingFolder() + (counter == 0 ? name : core::Format("%s_%d.xml", stem.c_str(), counter));
    if (!platform::FileExists(path)) return false;
    std::vector<uint8_t> waiting;
    if (platform::ReadWholeFile(path, &waiting) && waiting == text) return true;
  }
}

// The day's copy of a request just written into the working folder, for
// the support's eyes: a second name of the same file (the bytes are never
// changed in place; the working name is deleted when the request is done,
// the day's name stays), else a copy of the text in memory. A second name
// makes no new file, which on a busy folder costs as much as the rest of
// the claim. An older copy of that name, from a request of the same name
// earlier this day, is replaced.
void MakeDayCopy(const std::string& target, const std::vector<uint8_t>& text) {
  const std::string copy = core::WorkingDayFolder() + target.substr(core::WorkingFolder().size());
  if (platform::FileLink(target, copy)) return;
  platform::FileDelete(copy);
  if (platform::FileLink(target, copy) || platform::WriteWholeFile(copy, text.data(), text.size())) return;
  const int error = platform::LastSystemError();
  core::LogError(core::Format("Can't copy to today the file %s-%X", copy.c_str(), static_cast<unsigned>(error)),
                 error);
  platform::FileDelete(copy);
}

// Claims one file of out/: reads and deciphers it, writes the request into
// the working folder under a temporary name and renames it, then deletes
// the source and makes the day's copy. A request is
// therefore in the working folder whole and deciphered, or still in out/:
// a claim that fails (or a process that ends) on the way loses nothing,
// and the next tick claims the file again. True when it was claimed.
bool Claim(const std::string& source, const std::string& name, const std::vector<uint8_t>& key) {
  std::vector<uint8_t> text;
  if (!platform::ReadWholeFile(source, &text)) {
    core::LogError(core::Format("Can't move the file %s -%X", source.c_str(),
                                static_cast<unsigned>(platform::LastSystemError())),
                   platform::LastSystemError());
    return false;
  }
  crypto::KeyMaterialHash hash;
  if (key.size() < crypto::kExchangeKeySize ||
      crypto::HashKeyMaterial(crypto::KeyMaterial(key.data()).data(), &hash) != 0 ||
      !crypto::DecryptBuffer(&hash, &text)) {
    core::LogError("Error decode file", 0);
    return false;
  }
  if (ClaimedBefore(name, text)) {
    core::LogInfo("Claimed before, the source goes " + source);
    if (!platform::FileDelete(source)) core::LogError("Can't delete " + source, platform::LastSystemError());
    return false;
  }
  const std::string target = core::WorkingFolder() + WorkingName(name);
  const std::string temporary = target + ".tmp";
  if (!platform::WriteWholeFile(temporary, text.data(), text.size()) || !platform::FileMove(temporary, target)) {
    core::LogError(core::Format("Can't move the file %s %s -%X", source.c_str(), target.c_str(),
                                static_cast<unsigned>(platform::LastSystemError())),
                   platform::LastSystemError());
    platform::FileDelete(temporary);
    return false;
  }
  if (!platform::FileDelete(source)) {
    // Left in out/ it would be claimed a second time: the claim is undone.
    core::LogError("Can't move the file " + source, platform::LastSystemError());
    platform::FileDelete(target);
    return false;
  }
  core::LogInfo(core::Format("Move the file %s %s", source.c_str(), target.c_str()));
  MakeDayCopy(target, text);
  claimedTexts[target].assign(reinterpret_cast<const char*>(text.data()), text.size());
  return true;
}

void FindFiles(const std::string& folder, const std::string& pattern, FolderRequestList* list) {
  try {
    std::vector<platform::FolderEntry> entries;
    platform::ListFolder(folder, pattern, &entries);
    for (const platform::FolderEntry& entry : entries) {
      if (list->size() >= kRequestsPerPass) break;
      if (entry.isFolder || undeleted.count(folder + entry.name) != 0) continue;
      list->emplace_back();
      auto claimed = claimedTexts.find(folder + entry.name);
      if (claimed == claimedTexts.end()) {
        GetXMLTypes(folder, entry.name, &list->back());
      } else {
        GetXMLTypesOfText(folder, entry.name, std::move(claimed->second), &list->back());
      }
    }
  } catch (...) {
    core::LogException("FindFiles");
  }
}

// Requests finished earlier whose file is still there: tried again.
void DeleteUndeleted() {
  for (auto path = undeleted.begin(); path != undeleted.end();) {
    if (platform::FileDelete(*path) || !platform::FileExists(*path)) {
      path = undeleted.erase(path);
    } else {
      ++path;
    }
  }
}

void DeleteFiles(const std::string& folder, const std::string& pattern,
                 bool (*keep)(const std::string& folder, const std::string& name)) {
  std::vector<platform::FolderEntry> entries;
  platform::ListFolder(folder, pattern, &entries);
  for (const platform::FolderEntry& entry : entries) {
    if (entry.isFolder || (keep != nullptr && keep(folder, entry.name))) continue;
    core::LogInfo("Left by an earlier run, deleted " + folder + entry.name);
    platform::FileDelete(folder + entry.name);
  }
}

// A file kept beside a request (request name + suffix) is kept while its
// request waits.
bool RequestWaits(const std::string& folder, const std::string& name) {
  const size_t end = name.rfind(".xml");
  return end != std::string::npos && platform::FileExists(folder + name.substr(0, end + 4));
}

bool MarkedAnswered(const std::string& folder, const std::string& name) {
  (void)folder;
  const std::string request = name.substr(0, name.size() - std::strlen(kStagedAnswerSuffix));
  return platform::FileExists(core::WorkingFolder() + request + kAnsweredSuffix);
}

// What a run that ended half-way through a step leaves behind: files
// written under temporary names in the working folder and in in/, a staged
// answer whose request was not yet marked answered (the request is carried
// out again), and the prepared sends and kept answers of requests that
// were finished. Only the client writes these names.
void TidyAfterEarlierRun(const FolderPassContext& context) {
  const std::string in = context.exchangeFolder + "in" + platform::kPathSeparator;
  DeleteFiles(core::WorkingFolder(), "*.tmp", nullptr);
  DeleteFiles(core::WorkingFolder(), std::string("*") + kSendingSuffix, &RequestWaits);
  DeleteFiles(core::WorkingFolder(), std::string("*") + kAcceptedSuffix, &RequestWaits);
  DeleteFiles(in, "*.xml.tmp", nullptr);
  DeleteFiles(in, std::string("*") + kStagedAnswerSuffix, &MarkedAnswered);
}

}  // namespace

bool FinishRequest(const FolderRequest& request) {
  if (platform::FileDelete(request.path)) return true;
  if (!platform::FileExists(request.path)) return true;
  core::LogError("Can't delete the request file " + request.path, platform::LastSystemError());
  undeleted.insert(request.path);
  return false;
}

bool RefuseRequest(const FolderPassContext& context, const FolderRequest& request, const std::wstring& text,
                   const std::string& number, int code) {
  if (WriteErrorAnswer(context.exchangeFolder, context.iks, text, number, code, request.path) != 0) {
    core::LogError("The answer is not saved; the request stays for the next pass: " + request.path, 0);
    return false;
  }
  return true;
}

bool PassContext(const std::string& exchangeFolder, FolderPassContext* context) {
  crypto::CertificateEntry selected;
  if (!crypto::GetSelectedEntry(&selected)) return false;
  context->exchangeFolder = exchangeFolder;
  context->iks = core::ToNarrow(selected.keyIdText, core::kCodePageUtf8);
  context->unp = core::ToNarrow(selected.unpText, core::kCodePageUtf8);
  return true;
}

int MoveFilesToWorking(const FolderPassContext& context) {
  core::SetMoveBusy(true);
  int moved = 0;
  try {
    std::string out = OutFolder(context.exchangeFolder);
    MakeExchangeFolders(context.exchangeFolder);
    std::vector<uint8_t> key = core::HexDecode(context.iks.substr(0, 2 * crypto::kExchangeKeySize));
    std::vector<platform::FolderEntry> entries;
    platform::ListFolder(out, "*.xml", &entries);
    std::map<std::string, int64_t> sizes;
    for (const platform::FolderEntry& entry : entries) {
      if (entry.isFolder) continue;
      std::string source = out + entry.name;
      int64_t size = 0;
      if (!SizeOf(source, &size)) continue;
      sizes[entry.name] = size;
      // Seen for the first time, or grown since: perhaps still being written.
      auto before = outSizes.find(entry.name);
      if (before == outSizes.end() || before->second != size) continue;
      if (Claim(source, entry.name, key)) {
        ++moved;
        sizes.erase(entry.name);
      }
    }
    outSizes = std::move(sizes);
    if (moved > 0 && core::GetClientState() > core::kStateMessagesWaiting) {
      WriteErrorAnswer(context.exchangeFolder, context.iks, shell::TrayWarning(), "", 0);
    }
  } catch (...) {
    core::LogException("MoveFilesToWorking");
  }
  core::SetMoveBusy(false);
  return moved;
}

void FindFilesTypes(FolderRequestList* list) {
  try {
    DeleteUndeleted();
    FindFiles(core::WorkingFolder(), "*.xml", list);
  } catch (...) {
    core::LogException("FindFilesTypes");
  }
  claimedTexts.clear();
}

void DispatchRequests(const FolderPassContext& context, const FolderRequestList& list) {
  if (core::GetClientState() > core::kStateReady) return;
  if (!exchange::CTS(nullptr)) return;
  for (const FolderRequest& request : list) {
    // A file that could not be read says nothing about its sender: it is
    // answered and removed, and the requests behind it go on.
    if ((request.faults & kFaultUnreadable) != 0) {
      RefuseRequest(context, request, kUnreadableRefused + core::ToWide(request.fileName, core::kCodePageUtf8), "", 0);
      continue;
    }
    if (request.senderIks != context.iks) {
      RefuseRequest(context, request, kSenderRefused, "", 0);
      return;
    }
    if ((request.type == 50 || request.type == 73) && request.number.compare(0, 9, context.unp) != 0) {
      RefuseRequest(context, request, kUnpRefused, request.number, 0);
      return;
    }
    if (request.faults != 0) {
      RefuseRequest(context, request, kConversionError, request.number, 0);
      continue;
    }
    if (!exchange::Connected() || core::GetClientState() > core::kStateMessagesWaiting) return;
    const DispatchRow* row = RowOf(request.type);
    if (row == nullptr) {
      core::LogInfo("Type isn't correct. File'll delete");
      RefuseRequest(context, request, kTypeRefused, request.number, 0);
      continue;
    }
    if (row->handler != nullptr) row->handler(context, request);
  }
}

void ProcessFile(const std::string& exchangeFolder) {
  core::SetFolderBusy(true);
  try {
    FolderPassContext context;
    if (PassContext(exchangeFolder, &context)) {
      PublishAnsweredRequests(context.exchangeFolder, context.iks, core::WorkingFolder());
      if (!tidied) {
        TidyAfterEarlierRun(context);
        tidied = true;
      }
      MoveFilesToWorking(context);
      FolderRequestList list;
      FindFilesTypes(&list);
      if (!list.empty() && core::GetClientState() == core::kStateReady) DispatchRequests(context, list);
    } else {
      core::LogError("ProcessFile: no certificate is selected", 0);
    }
  } catch (...) {
    core::LogException("ProcessFile");
  }
  core::SetFolderBusy(false);
}

void ResetPassStateForTest() {
  claimedTexts.clear();
  outSizes.clear();
  undeleted.clear();
  tidied = false;
}

}  // namespace folder
