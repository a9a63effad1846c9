// The update procedure of TSR_Update (see updater.h).
#include "updater/updater.h"

#include "core/log.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/instance_lock.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/ui.h"

namespace updater {

namespace {

constexpr char kVersion[] = "1.1.3-MT";
constexpr int kStartChecks = 6;         // attempts 0..5
constexpr int kStartCheckStepMs = 200;  // attempt n waits n * 200 ms
constexpr int kEndChecks = 30;          // the old client gets 3 s to end
constexpr int kEndCheckStepMs = 100;

// The client starts the updater and ends at once, and its instance lock
// goes with it. Files rotated under a client that still runs would meet a
// new client that finds the lock taken and ends as a second instance, so
// the rotation waits for the lock, but not for ever.
void WaitForClientEnd(const std::string& folder) {
  if (!platform::InstanceLockHeld(folder)) return;
  core::LogInfo("Wait Tessarin end");
  for (int check = 0; check < kEndChecks; ++check) {
    platform::SleepMs(kEndCheckStepMs);
    if (!platform::InstanceLockHeld(folder)) {
      core::LogInfo("Tessarin end - Ok");
      return;
    }
  }
  core::LogError("Tessarin still runs", 0);
}

bool StartClient(const ClientFiles& files) {
  if (platform::ProcessStart(files.executable, {})) return true;
  core::LogError("Can't start Tessarin", platform::LastSystemError());
  return false;
}

bool ClientStarted(const ClientFiles& files) {
  for (int attempt = 0; attempt < kStartChecks; ++attempt) {
    core::LogInfo("Check Tesarin start");
    platform::SleepMs(attempt * kStartCheckStepMs);
    platform::File marker;
    if (platform::FileOpen(files.startMarker, platform::OpenMode::ReadExisting, &marker)) {
      platform::FileClose(&marker);
      core::LogInfo("Tesarin start - Ok");
      return true;
    }
  }
  return false;
}

}  // namespace

ClientFiles ClientFilesIn(const std::string& folder) {
  ClientFiles files;
  files.stem = folder + "Tessarin";
  files.executable = files.stem + platform::kExecutableSuffix;  // "Tessarin.exe" on Windows
  files.previous = files.stem + ".old";
  files.secondPrevious = files.stem + ".old" + ".old";
  files.update = files.stem + ".upd";
  files.startMarker = folder + "state.txt";
  return files;
}

bool RunUpdate(const std::string& folder) {
  ClientFiles files = ClientFilesIn(folder);
  core::LogInfo(files.stem);
  WaitForClientEnd(folder);

  // Results are not examined: whatever is missing is simply not moved.
  platform::FileMove(files.previous, files.secondPrevious);
  platform::FileMove(files.executable, files.previous);
  platform::FileMove(files.update, files.executable);
  // The downloaded file was written as plain data; it takes the permissions
  // of the executable it replaces, so that it can be run as that one was.
  platform::FileCopyMode(files.previous, files.executable);

  // A marker left by an earlier run must not count as this start.
  platform::FileDelete(files.startMarker);

  // A new client that cannot even be started fails like one that writes
  // no marker: the program folder must keep a client that runs.
  if (StartClient(files)) {
    if (ClientStarted(files)) return true;
    const char failure[] = "Tesarin can't start. state not found.";
    core::LogWrite(failure, core::kLogNormal, core::RunStamp().c_str());
    core::LogWrite(failure, core::kLogError, core::RunStamp().c_str());
  }
  platform::FileMove(files.previous, files.executable);
  StartClient(files);
  return false;
}

int RunUpdater() {
  // Started from a console, the updater shares it; one that has closed
  // must not end it halfway through the rotation.
  platform::IgnoreBrokenPipes();
  platform::CalendarTime start = platform::LocalNow();
  core::SetLogRoot("TSR_Update");
  core::SetRunStamp(core::MakeRunStamp(start.hour, start.minute, start.second, start.millisecond));
  if (!platform::ui::CreateMainWindow(L"Update", 0, 0)) return 0;
  core::LogInfo(kVersion);

  std::string path = platform::ExecutablePath();
  if (path.empty()) {
    int error = platform::LastSystemError();
    core::LogError("Cannot GetModuleFileName (" + std::to_string(error) + ")", error);
    return 0;
  }
  RunUpdate(platform::FolderOf(path));
  return 0;
}

}  // namespace updater
