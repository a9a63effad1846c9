// Start-up of the client (see startup.h), called by main().
#include "shell/startup.h"

#include <atomic>
#include <mutex>

#include "core/folders.h"
#include "core/format.h"
#include "core/log.h"
#include "core/text.h"
#include "exchange/session.h"
#include "folder/pass.h"
#include "platform/clock.h"
#include "platform/dialog.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/instance_lock.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/ui.h"
#include "shell/agreement_dialog.h"
#include "shell/autostart.h"
#include "shell/console.h"
#include "shell/dialog_windows.h"
#include "shell/main_window.h"
#include "shell/work.h"
#include "shell/state_file.h"
#include "shell/status.h"
#include "shell/update_check.h"
#include "shell/version.h"
#include "shell/web_page.h"
#include "shell/window_commands.h"
#include "storage/database.h"
#include "storage/settings.h"
#include "web/listener.h"
#include "web/web_request.h"
#include "web/web_settings.h"

namespace shell {

// Started by its full name: the system adds no ".exe" to it.
const std::string kUpdaterFileName = std::string("TSR_Update") + platform::kExecutableSuffix;

namespace {

std::atomic<bool> webInterfaceOn{false};

// Starts the web listener at most once per process; true while it listens.
bool StartWebListenerOnce() {
  static std::mutex startLock;
  static bool listening = false;
  std::lock_guard<std::mutex> hold(startLock);
  if (!listening) listening = web::StartWebListener(&web::HandleWebRequest, web::WebPort());
  return listening;
}

bool UpdaterPresent(const std::string& folder) {
  platform::File file;
  if (!platform::FileOpen(folder + kUpdaterFileName, platform::OpenMode::ReadExisting, &file)) return false;
  int64_t size = 0;
  bool ok = platform::FileSize(file, &size) && size > kUpdaterMinimumSize;
  platform::FileClose(&file);
  return ok;
}

}  // namespace

bool WebInterfaceOn() { return webInterfaceOn; }

bool EnableWebInterface(int mode) {
  std::string marker = core::ProgramFolder() + "interface.web";
  if (mode == 0) return platform::FileDelete(marker);
  platform::File file;
  if (!platform::FileOpen(marker, mode == 1 ? platform::OpenMode::ReadExisting : platform::OpenMode::CreateAlways,
                          &file)) {
    return false;
  }
  platform::FileClose(&file);
  return StartWebListenerOnce();
}

void EndClientNow(int exitCode) { platform::ProcessEndNow(exitCode); }

void ShowSupportMessage(const std::wstring& text) {
  platform::ui::MessageBox(text + L"\r\nОбратитесь в службу технической поддержки.\r\n" +
                               core::ToWide(kSupportAddress, core::kCodePageUtf8),
                           L"", platform::ui::Buttons::Ok);
  platform::ShellOpen(kSupportAddress);
}

std::optional<int> AppInit(const std::string& executablePath) {
  platform::CalendarTime start = platform::LocalNow();
  core::SetRunStamp(core::MakeRunStamp(start.hour, start.minute, start.second, start.millisecond));
  core::SetLogRoot("Tessarin");
  core::LogInfo(std::string(kVersionText) + kBuildMark);

  if (executablePath.empty()) {
    core::LogError("Cannot GetModuleFileName", platform::LastSystemError());
    return kExitOk;
  }
  core::LogInfo(executablePath);
  std::string folder = platform::FolderOf(executablePath);
  core::SetProgramFolder(folder);

  if (!WriteStateFile(0, folder)) {
    platform::ui::MessageBox(
        L"Ошибка доступа к каталогу с программой.\r\nОбратитесь к администратору или установите доступ на запись "
        L"к каталогу с программой.",
        L"", platform::ui::Buttons::Ok);
    return kExitFailure;
  }
  webInterfaceOn = EnableWebInterface(1);
  // The page then serves the user: saved documents are not announced in a
  // message box, and the page asks for the registration itself.
  exchange::SetWebInterfaceActive(webInterfaceOn);

  std::string date = core::Format("%d%02d%02d", start.year, start.month, start.day);
  RememberStartDay(start.day);
  std::string path = folder;
  core::MakeSubfolder(&path, "documents", false);
  path = folder;
  core::MakeSubfolder(&path, "working", true);
  core::MakeSubfolder(&path, date, true);
  core::SetWorkingDayFolder(path);

  if (!storage::OpenDatabase(folder + "TS.db", storage::kSchemaScript)) {
    ShowSupportMessage(L"Ошибка открытия файлы базы данных.");
    return kExitFailure;
  }
  storage::SetStatusBarHook(&SetStatusBarText);
  storage::LoadSettings();

  if (!UpdaterPresent(folder)) {
    ShowSupportMessage(L"Не найден файл TSR_Update.exe в каталоге с программой.");
    return kExitFailure;
  }
  return std::nullopt;
}

std::optional<int> CreateMainWindow() {
  if (!platform::ui::CreateMainWindow(L"Tessarin", 600, 600)) return kExitOk;

  std::string folder = core::ProgramFolder();
  platform::InstanceLock lock = platform::AcquireInstanceLock(folder);
  if (lock == platform::InstanceLock::HeldByAnother) {
    uint32_t handle = ReadStateFile(folder);
    if (handle != 0) {
      platform::ui::HandOverToRunningClient(handle);
    } else {
      platform::ui::MessageBox(L"Приложение уже запущено.", L"", platform::ui::Buttons::Ok);
    }
    return kExitOk;
  }
  if (lock == platform::InstanceLock::Failed) {
    core::LogError("CreateMutex", platform::LastSystemError());
  }
  if (lock == platform::InstanceLock::Acquired) web::WatchInstanceLock();
  WriteStateFile(platform::ui::HandOverHandle(), folder);

  CreateControls();
  platform::ui::TrayAdd(kIconReady, kVersionTextWide);
  platform::ui::SetTrayHandler(OnTrayNotify);
  platform::ui::SetWindowEventHandlers({[](int command) { OnCommand(command); }, OnClose, OnMinimise,
                                        OnMessageRowActivated});

  // An organisation the server does not know registers once the user has
  // accepted the agreement.
  exchange::SetRegistrationDialog([] {
    if (platform::dialog::Available()) {
      ShowAgreementWindow();
    } else {
      RunAgreementDialog();
    }
  });
  // The web page's settings change restarts the work on this thread.
  web::SetSettingsChangedHook([] { StartWork(); });
  // From here the page's requests are carried out, with its key when the
  // settings ask for one.
  const std::string webKey = MakeWebAccessKey();
  web::SetAccessKey(webKey);
  // The exchange-folder mode's pass, over the folder the settings name at
  // each tick.
  SetFolderPass([] {
    if (std::optional<std::string> exchangeFolder = ExchangeFolder()) folder::ProcessFile(*exchangeFolder);
  });
  bool certificateUsable = StartWork();
  // The settings may have changed since the last run (tsr-tool settings):
  // the autostart entry follows them at each start, and after each OK of
  // the parameters dialog.
  UpdateAutostart(platform::ExecutablePath());
  platform::ui::ShowMainWindow(!certificateUsable && !WebInterfaceOn() ? platform::ui::Show::Normal
                                                                        : platform::ui::Show::Hide);
  // With the web interface on, its page is the user's window onto the client.
  if (WebInterfaceOn()) OpenWebPage(webKey);
  return std::nullopt;
}

int RunClient() {
  platform::IgnoreBrokenPipes();
  platform::ui::InstallSignalHandlers();
  exchange::SetUpdateCheck(&CheckUpdate);
  if (std::optional<int> code = AppInit(platform::ExecutablePath())) return *code;
  if (std::optional<int> code = CreateMainWindow()) return *code;
  StartConsole();
  return platform::ui::RunMessageLoop();
}

}  // namespace shell
