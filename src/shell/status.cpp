// Status output: status lines, status bar and tray icon (see status.h).
// Called by every exchange operation on whatever thread it runs.
#include "shell/status.h"

#include <cwchar>
#include <mutex>

#include "core/client_state.h"
#include "platform/clock.h"
#include "platform/ui.h"
#include "shell/selected_name.h"
#include "shell/version.h"

namespace shell {

namespace {

constexpr size_t kStatusLineLimit = 255;  // characters of a status line
constexpr size_t kTipLimit = 127;         // characters of the tray tip
constexpr size_t kBalloonLimit = 255;     // characters of a balloon text

std::mutex warningMutex;
std::wstring trayWarning;  // guarded by warningMutex
std::wstring validityWarning;  // guarded by warningMutex

int IconOfState(int state) {
  if (state == core::kStateReady) return kIconReady;
  if (state == core::kStateMessagesWaiting) return kIconMessages;
  return kIconWarning;
}

}  // namespace

void ShowStatus(const std::wstring& text, std::wstring* webText) {
  if (webText != nullptr) *webText += text + L"<BR>";
  if (!platform::ui::MainWindowVisible()) return;
  platform::CalendarTime now = platform::LocalNow();
  wchar_t stamp[16];
  std::swprintf(stamp, 16, L"%02d:%02d:%02d ", now.hour, now.minute, now.second);
  std::wstring line = stamp + text;
  if (line.size() > kStatusLineLimit) line.resize(kStatusLineLimit);
  platform::ui::StatusListInsertTop(line);
}

void ClearStatusList() { platform::ui::StatusListClear(); }

void SetStatusBarText(const std::wstring& text) { platform::ui::SetStatusBarText(text); }

void UpdateTrayIcon(bool changeIcon, const std::wstring& text) {
  std::wstring tip = text;
  if (tip.empty()) {
    tip = SelectedCertificateName() + L" " + kVersionTextWide;
    std::wstring validity = ValidityWarningText();
    if (!validity.empty()) tip += L"\n" + validity;
  }
  if (tip.size() > kTipLimit) tip.resize(kTipLimit);
  int state = core::GetClientState();
  platform::ui::TrayUpdate(tip, IconOfState(state), changeIcon);
  if (state == core::kStateReady) return;
  std::wstring balloon = text.size() > kBalloonLimit ? text.substr(0, kBalloonLimit) : text;
  {
    std::lock_guard<std::mutex> lock(warningMutex);
    trayWarning = balloon;
  }
  // An empty text takes the balloon away.
  if (!balloon.empty()) platform::ui::TrayBalloon(L"Внимание", balloon);
}

std::wstring TrayWarning() {
  std::lock_guard<std::mutex> lock(warningMutex);
  return trayWarning;
}

void SetValidityWarning(const std::wstring& text) {
  std::lock_guard<std::mutex> lock(warningMutex);
  validityWarning = text;
}

std::wstring ValidityWarningText() {
  std::lock_guard<std::mutex> lock(warningMutex);
  return validityWarning;
}

}  // namespace shell
