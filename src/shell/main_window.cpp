// The main window's tray notifications and the remembered day (see
// main_window.h). Runs on the user-interface thread.
#include "shell/main_window.h"

#include <atomic>

#include "core/log.h"
#include "core/text.h"
#include "exchange/intake.h"
#include "exchange/session.h"
#include "storage/messages.h"
#include "platform/process.h"
#include "platform/ui.h"
#include "shell/dialog_windows.h"
#include "shell/work.h"
#include "storage/settings.h"

namespace shell {

namespace {
std::atomic<int> rememberedDay{0};
std::atomic<int> selectedMessage{-1};
}

void RememberStartDay(int day) { rememberedDay = day; }

int RememberedDay() { return rememberedDay; }

void CreateControls() {
  platform::ui::SetMessageRowProvider([](int row) {
    std::optional<storage::MessageEntry> entry = storage::MessageAt(row);
    if (!entry) return std::vector<std::wstring>{};
    std::array<std::wstring, 5> columns = storage::MessageColumns(*entry);
    return std::vector<std::wstring>(columns.begin(), columns.end());
  });
  exchange::SetMessageListHook([](const exchange::MessageListUpdate& update) {
    platform::ui::SetMessageListCount(static_cast<int>(update.count));
  });
  exchange::SetContainerTimerTask([]() {
    if (exchange::CheckContainer() && !AutoExchange()) StartWork();
  });
}

void OnTrayNotify(int code) {
  switch (code) {
    case kTrayDoubleClick:
      if (!platform::ui::MainWindowVisible()) {
        // Normal size in the exchange-folder mode, the whole screen otherwise.
        platform::ui::ShowMainWindow(storage::GetSettingInt("IDC_SERVICE") != 0 ? platform::ui::Show::Normal
                                                                                 : platform::ui::Show::Maximized);
      }
      platform::ui::BringToFront();
      platform::ui::StatusListClear();
      WaitUserInput();
      break;
    case kTrayRightButton:
      core::LogInfo("I'm working...");
      break;
    case kTrayRightDoubleClick:
      platform::OpenInTextEditor(core::LastLogFile());
      break;
    default:
      break;
  }
}

void OnMessageRowActivated(int row) {
  std::optional<storage::MessageEntry> entry = storage::MessageAt(row);
  if (!entry) return;
  selectedMessage = row;
  ShowMessageWindow(row);
}

int SelectedMessage() { return selectedMessage; }

}  // namespace shell
