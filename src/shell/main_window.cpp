// The main window's tray notifications and the remembered day (see
// main_window.h). Runs on the user-interface thread.
#include "shell/main_window.h"

#include <atomic>

#include "core/log.h"
#include "platform/process.h"
#include "platform/ui.h"
#include "storage/settings.h"

namespace shell {

namespace {
std::atomic<int> rememberedDay{0};
}

void RememberStartDay(int day) { rememberedDay = day; }

int RememberedDay() { return rememberedDay; }

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
