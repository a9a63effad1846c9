// The working modes and the timers that drive the periodic work.
//
// StartWork checks the selected certificate and its key container and
// chooses the mode by the setting "IDC_SERVICE": the desktop mode looks
// for waiting messages at once and every 12 hours (timer 1001); the
// exchange-folder mode writes its heartbeat and runs a folder pass every
// 2.5 s (timer 1000). Everything here runs on the user-interface thread.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace shell {

// Window timers and their periods.
constexpr int kTimerService = 1000;
constexpr int kTimerClient = 1001;
constexpr int kTimerUser = 1004;
constexpr int kServicePeriodMs = 2500;
constexpr int kClientPeriodMs = 43200000;
constexpr int kUserPeriodMs = 10000;
constexpr int kHideAfterMs = 60000;  // without input the window hides after this

// The exchange folder named by "IDC_PATH", ending with the separator
// (added when the stored text lacks it); none when the setting is absent or
// empty. Every user of the folder reads it here.
std::optional<std::string> ExchangeFolder();

// True when the certificate named in the settings is usable.
bool StartWork();

void AppBeginService();
void AppBeginClient();
void TimerService();
void TimerClient();
void TimerUser();

// A new day: the day folder, the update check and the service status start
// afresh.
void NewDayCheck();

// Warns when the selected certificate ends within 30 days or its
// revocation list's next update is past or within 2 days: the line goes to
// the status list, the tray tip and the web page's message, and a balloon
// "Внимание" shows it once a day. Run by StartWork and on a new day.
void WarnOfValidity();

// (Re)starts timer 1004, which hides the window after a minute without
// input.
void WaitUserInput();

// True once StartWork has found the key container usable and started a
// mode.
bool AutoExchange();

// The exchange-folder pass that TimerService starts on a thread of its own,
// at most one at a time. The start-up sets folder::ProcessFile over
// ExchangeFolder(); none before.
void SetFolderPass(std::function<void()> pass);

// Tests: forget the mode, the pass and its thread.
void ResetWorkForTest();

}  // namespace shell
