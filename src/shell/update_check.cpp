// The update check (see update_check.h), called through the link check's
// hook, the window's command 1018 and the console.
#include "shell/update_check.h"

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "core/folders.h"
#include "core/log.h"
#include "exchange/session.h"
#include "exchange/status_lines.h"
#include "link/exchange_record.h"
#include "link/sha512.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "shell/startup.h"
#include "storage/settings.h"

namespace shell {

const char kUpdateFileName[] = "Tessarin.upd";

namespace {

constexpr uint8_t kTypeVersionDigest = 8;    // the digest of the current version
constexpr uint8_t kTypeVersionDownload = 9;  // the current version itself
constexpr int kPauseBeforeDownloadMs = 1500;

// Two threads (the link check and the menu) must not write the update file
// at once.
std::mutex checkMutex;

// The running program's file, read whole; false after logging why not.
bool ReadOwnProgram(std::vector<uint8_t>* bytes, std::string* path) {
  *path = platform::ExecutablePath();
  if (path->empty()) {
    core::LogError("Cannot GetModuleFileName", platform::LastSystemError());
    return false;
  }
  platform::File file;
  if (!platform::FileOpen(*path, platform::OpenMode::ReadExisting, &file)) {
    core::LogError("Не удалось открыть файл", platform::LastSystemError());
    return false;
  }
  int64_t size = 0;
  int64_t read = -1;
  if (platform::FileSize(file, &size)) {
    bytes->resize(static_cast<size_t>(size));
    read = platform::FileReadAt(file, 0, bytes->data(), bytes->size());
  }
  platform::FileClose(&file);
  if (read != size) {
    core::LogValue("Read", read);
    core::LogValue("Size", size);
    core::LogError("Файл прочитан не полностью", 0);
    return false;
  }
  return true;
}

// Sends a version request: type 8 or 9, the first byte of the record the
// working mode ("IDC_SERVICE"). True when an answer record came back.
bool AskVersion(uint8_t type, serverlink::ExchangeRecord* answer) {
  *answer = serverlink::ExchangeRecord{};
  answer->flags = static_cast<uint8_t>(storage::GetSettingInt("IDC_SERVICE"));
  answer->type = type;
  exchange::ReplyResult result;
  return exchange::SendMessageAndGetAnswer(&result, answer) && result.kind == exchange::kReplyRecord;
}

// Writes the downloaded program whole, down to the disk, with the
// permissions of the running one (it is run in its place). False, with the
// file removed, when any of it fails.
bool WriteUpdateFile(const std::string& path, const std::vector<uint8_t>& bytes, const std::string& executable) {
  platform::File file;
  if (!platform::FileOpen(path, platform::OpenMode::CreateAlways, &file)) {
    core::LogError("Ошибка сохранения файла с АИС", platform::LastSystemError());
    return false;
  }
  const int64_t expected = static_cast<int64_t>(bytes.size());
  int64_t size = -1;
  bool whole = platform::FileWriteAt(file, 0, bytes.data(), bytes.size()) == expected &&
               platform::FileSync(file) && platform::FileSize(file, &size) && size == expected;
  int error = whole ? 0 : platform::LastSystemError();
  platform::FileClose(&file);
  if (whole && !platform::FileCopyMode(executable, path)) {
    whole = false;
    error = platform::LastSystemError();
  }
  if (!whole) {
    core::LogError("Ошибка сохранения файла с АИС", error);
    platform::FileDelete(path);
  }
  return whole;
}

// The download, checked against the published digest and handed to the
// updater. Returns only when the client goes on running.
void Update(const exchange::ProgramDigest& published, const std::string& executable) {
  const std::string updateFile = core::ProgramFolder() + kUpdateFileName;
  serverlink::ExchangeRecord answer;
  if (!AskVersion(kTypeVersionDownload, &answer)) return;

  // Only the program the server published is ever installed: a download
  // that was damaged or cut on its way leaves no update file behind.
  uint8_t digest[serverlink::kSha512Bytes];
  if (!serverlink::Sha512(answer.payload.data(), answer.payload.size(), digest) ||
      std::memcmp(digest, published.data(), published.size()) != 0) {
    core::LogValue("Download", static_cast<int64_t>(answer.payload.size()));
    core::LogError("Загруженная программа не совпадает с опубликованной", 0);
    platform::FileDelete(updateFile);
    return;
  }
  if (!WriteUpdateFile(updateFile, answer.payload, executable)) return;

  // The updater's own path is the whole command: a program folder with
  // spaces in its name is no concern.
  const std::string updater = core::ProgramFolder() + kUpdaterFileName;
  if (!platform::ProcessStart(updater, {})) {
    core::LogError("Can't update", platform::LastSystemError());
    ShowSupportMessage(L"Ошибка при обновлении программы.");
    EndClientNow(kExitFailure);
  }
  core::LogInfo("Restart");
  EndClientNow(kExitOk);
}

void RunCheck() {
  exchange::ShowLine(L"Обновление программы - проверка наличия новой версии");
  std::vector<uint8_t> program;
  std::string executable;
  if (!ReadOwnProgram(&program, &executable)) return;
  exchange::ProgramDigest own{};
  if (serverlink::Sha512(program.data(), program.size(), own.data())) exchange::SetProgramDigest(own);
  program = {};

  if (!exchange::Connected()) {
    core::LogInfo("Нет связи с АИС");
    return;
  }
  serverlink::ExchangeRecord answer;
  if (!AskVersion(kTypeVersionDigest, &answer) || answer.payload.size() != serverlink::kSha512Bytes) return;
  exchange::ProgramDigest published{};
  std::memcpy(published.data(), answer.payload.data(), published.size());
  if (published == exchange::CurrentProgramDigest()) {
    exchange::SetUpdateChecked(true);
    core::LogInfo("Обновление не требуется");
    exchange::ShowLine(L"Обновление не требуется");
    return;
  }
  core::LogInfo("Требуется обновление");
  exchange::ShowLine(L"Требуется обновление. Программа будет перезапущена.");
  platform::SleepMs(kPauseBeforeDownloadMs);
  Update(published, executable);
}

}  // namespace

void CheckUpdate() {
  std::lock_guard<std::mutex> lock(checkMutex);
  core::LogInfo("CheckUpdate");
  try {
    RunCheck();
  } catch (...) {
    core::LogException("CheckUpdate");
  }
  core::LogInfo("CheckUpdate-end");
}

}  // namespace shell
