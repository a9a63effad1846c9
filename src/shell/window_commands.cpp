// The main window's commands (see window_commands.h).
#include "shell/window_commands.h"

#include "core/client_state.h"
#include "exchange/intake.h"
#include "platform/dialog.h"
#include "platform/process.h"
#include "platform/ui.h"
#include "shell/about_dialog.h"
#include "shell/console.h"
#include "shell/dialog_windows.h"
#include "shell/status.h"
#include "shell/update_check.h"
#include "shell/version.h"
#include "storage/settings.h"

namespace shell {

const char kManualAddress[] = "https://tessarin.example/manual";

bool OnCommand(int command) {
  switch (command) {
    case kCommandExchange: {
      ClearStatusList();
      if (core::GetClientState() >= core::kStateCrlProblem) core::SetClientState(core::kStateReady);
      std::optional<std::wstring> email = storage::GetSettingText("IDC_EMAIL");
      if (!email || email->empty()) {
        platform::ui::MessageBox(L"Укажите Ваш Email в настройках Tessarin (меню Сервис - Настройка)", L"",
                                 platform::ui::Buttons::Ok);
      }
      exchange::ClientGetMessagesFromServer();
      return true;
    }
    case kCommandAbout:
      if (platform::dialog::Available()) {
        ShowAboutWindow();
        return true;
      }
      platform::ui::MessageBox(AboutVersionLine() + L"\n" + kAboutDescription, L"О проекте ",
                               platform::ui::Buttons::Ok);
      return true;
    case kCommandExit:
      platform::ui::PostQuit(0);
      return true;
    case kCommandManual:
      platform::ShellOpen(kManualAddress);
      return true;
    case kCommandSettings:
      if (platform::dialog::Available()) {
        ShowParametersWindow();
      } else {
        OpenSettingsEdit();
      }
      return true;
    case kCommandCheckUpdate:
      CheckUpdate();
      return true;
    default:
      return false;
  }
}

void OnClose() {
  if (storage::GetSettingInt("IDC_SERVICE") != 0) {
    platform::ui::ShowMainWindow(platform::ui::Show::Hide);
  } else {
    platform::ui::PostQuit(0);
  }
}

void OnMinimise() { platform::ui::ShowMainWindow(platform::ui::Show::Hide); }

}  // namespace shell
