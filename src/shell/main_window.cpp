// The main window's tray notifications and the remembered day (see
// main_window.h). Runs on the user-interface thread.
#include "shell/main_window.h"

#include <atomic>

#include "core/log.h"
#include "exchange/intake.h"
#include "exchange/session.h"
#include "storage/messages.h"
#include "platform/process.h"
#include "platform/ui.h"
#include "shell/work.h"
#include "storage/settings.h"

namespace shell {

namespace {
std::atomic<int> rememberedDay{0};
}

void RememberStartDay(int day) { rememberedDay = day; }

int RememberedDay() { return rememberedDay; }

void CreateControls() {
  exchange::SetMessageListHook([](const exchange::MessageListUpdate& update) {
    auto columnsOf = [](const storage::MessageEntry& entry) {
      std::array<std::wstring, 5> columns = storage::MessageColumns(entry);
      return std::vector<std::wstring>(columns.begin(), columns.end());
    };
    if (update.whole) {
      std::vector<std::vector<std::wstring>> rows;
      rows.reserve(update.entries.size());
      for (const storage::MessageEntry& entry : update.entries) rows.push_back(columnsOf(entry));
      platform::ui::SetMessageListRows(std::move(rows));
    } else {
      for (const storage::MessageEntry& entry : update.entries) {
        platform::ui::InsertMessageListRow(entry.row, columnsOf(entry));
      }
    }
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

}  // namespace shell
