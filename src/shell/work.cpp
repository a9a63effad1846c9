// The working modes and timers (see work.h).
#include "shell/work.h"

#include <atomic>
#include <mutex>

#include "core/client_state.h"
#include "core/folders.h"
#include "core/format.h"
#include "core/log.h"
#include "core/text.h"
#include "crypto/certificates.h"
#include "exchange/intake.h"
#include "exchange/session.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/paths.h"
#include "platform/thread.h"
#include "platform/ui.h"
#include "shell/main_window.h"
#include "shell/startup.h"
#include "shell/state_file.h"
#include "shell/status.h"
#include "storage/settings.h"

namespace shell {

namespace {

std::atomic<bool> autoExchange{false};

std::mutex passMutex;
std::function<void()> folderPass;  // guarded by passMutex
platform::ThreadHandle passThread;  // guarded by passMutex
std::atomic<int> validityBalloonDay{0};  // yyyymmdd of the last validity balloon

bool ServiceMode() { return storage::GetSettingInt("IDC_SERVICE") != 0; }

// Starts a timer; a timer that cannot be started is an error line under
// the procedure's name.
void StartTimer(int id, int periodMs, void (*procedure)(), const char* name) {
  if (!platform::ui::SetTimer(id, periodMs, procedure)) core::LogError(name, platform::LastSystemError());
}

}  // namespace

bool AutoExchange() { return autoExchange; }

std::optional<std::string> ExchangeFolder() {
  std::optional<std::wstring> text = storage::GetSettingText("IDC_PATH");
  if (!text || text->empty()) return std::nullopt;
  return platform::AsFolder(core::ToNarrow(*text, core::kCodePageUtf8));
}

void SetFolderPass(std::function<void()> pass) {
  std::lock_guard<std::mutex> lock(passMutex);
  folderPass = std::move(pass);
}

bool StartWork() {
  core::SetClientState(core::kStateReady);
  autoExchange = false;
  // The store may have changed since the last start of work (a key medium
  // put in, a certificate installed): the list is read afresh. An index
  // into the old list may name another certificate in the new one, or none,
  // so the selection starts afresh too and CheckCert selects by "IDC_CERT".
  crypto::ListCertificates();
  crypto::SelectCertificate(-1);
  bool ok = exchange::CheckCert();
  platform::ui::KillTimer(kTimerService);
  platform::ui::KillTimer(kTimerClient);

  bool service = ServiceMode();
  if (service || WebInterfaceOn()) {
    platform::ui::SetMessageListVisible(false);
    platform::ui::SetExchangeButton(false, false);
  } else {
    platform::ui::SetMessageListVisible(true);
    platform::ui::SetExchangeButton(true, crypto::SelectedCertificate() >= 0);
  }
  if (!ok) return false;

  crypto::CertificateEntry selected;
  if (crypto::GetSelectedEntry(&selected)) platform::ui::SetTitle(selected.subjectName);
  WarnOfValidity();
  if (!service) exchange::LoadMessagesFromBase();
  if (!exchange::CheckContainer()) return true;  // timer 1002 tries again

  if (crypto::IsContainer(selected.keyId, 2)) {
    autoExchange = true;
    exchange::CTS(nullptr);
    if (ServiceMode()) {
      AppBeginService();
    } else {
      AppBeginClient();
    }
  } else {
    core::SetClientState(core::kStateWrongPassword);
    UpdateTrayIcon(true, L"В настройках не указан верный пароль от контейнера. Автоматический обмен производиться не будет");
  }
  return true;
}

void AppBeginService() {
  try {
    core::LogInfo("Begin Service");
    StartTimer(kTimerService, kServicePeriodMs, &TimerService, "TimerService");
    platform::ui::ShowMainWindow(platform::ui::Show::Hide);
  } catch (...) {
    core::LogException("AppBeginService");
  }
}

void AppBeginClient() {
  try {
    core::LogInfo("Begin Client");
    TimerClient();
    StartTimer(kTimerClient, kClientPeriodMs, &TimerClient, "TimerClient");
  } catch (...) {
    core::LogException("AppBeginClient");
  }
}

void TimerService() {
  try {
    NewDayCheck();
    if (std::optional<std::string> folder = ExchangeFolder()) WriteStateFile(0, *folder);
    std::lock_guard<std::mutex> lock(passMutex);
    // At most one pass: the last one must have ended, whether or not it
    // got as far as setting its busy flag.
    if (!platform::ThreadFinished(passThread)) return;
    if (core::FolderBusy()) core::SetFolderBusy(false);
    if (!folderPass) return;
    platform::ThreadJoin(passThread);
    passThread = platform::ThreadStart(folderPass);
  } catch (...) {
    core::LogException("TimerService");
  }
}

void TimerClient() {
  try {
    core::LogInfo("TC");
    NewDayCheck();
    if (!exchange::CheckIncomeRunning()) exchange::StartCheckIncomeMessage();
  } catch (...) {
    core::LogException("TimerClient");
  }
}

void TimerUser() {
  if (platform::MonotonicMs() - platform::ui::LastInputMs() > kHideAfterMs) {
    platform::ui::KillTimer(kTimerUser);
    platform::ui::ShowMainWindow(platform::ui::Show::Hide);
    core::LogInfo("Hide window");
  }
}

void NewDayCheck() {
  platform::CalendarTime now = platform::LocalNow();
  if (now.day == RememberedDay()) return;
  RememberStartDay(now.day);
  core::LogInfo("New day");
  std::string path = core::WorkingFolder();
  core::MakeSubfolder(&path, core::Format("%d%02d%02d", now.year, now.month, now.day), true);
  core::SetWorkingDayFolder(path);
  core::LogInfo(path);
  exchange::SetUpdateChecked(false);
  exchange::SetServiceStatus(0);
  exchange::SetProgramDigest(exchange::ProgramDigest{});
  if (crypto::SelectedCertificate() >= 0) WarnOfValidity();
}

void WarnOfValidity() {
  std::wstring warning = exchange::ValidityWarning(exchange::SelectedValidity(), platform::FileTimeNow());
  SetValidityWarning(warning);
  if (warning.empty()) return;
  core::LogWide(warning);
  ShowStatus(warning);
  // The tip carries it from now on; with another warning in force the tip
  // shows that one until the state is ready again.
  if (core::GetClientState() == core::kStateReady) UpdateTrayIcon(false, L"");
  platform::CalendarTime now = platform::LocalNow();
  int today = now.year * 10000 + now.month * 100 + now.day;
  if (validityBalloonDay.exchange(today) != today) platform::ui::TrayBalloon(L"Внимание", warning);
}

void WaitUserInput() {
  core::LogInfo("Wait user input");
  platform::ui::KillTimer(kTimerUser);
  StartTimer(kTimerUser, kUserPeriodMs, &TimerUser, "TimerUser");
}

void ResetWorkForTest() {
  autoExchange = false;
  validityBalloonDay = 0;
  SetValidityWarning(L"");
  std::lock_guard<std::mutex> lock(passMutex);
  platform::ThreadJoin(passThread);
  passThread = nullptr;
  folderPass = nullptr;
}

}  // namespace shell
