// What the user sees while the client works: time-stamped status lines, the
// status bar and the tray icon with its tip and balloons.
//
// Called from every thread; the window is reached only through the
// user-interface backend, which is safe from any thread.
#pragma once

#include <string>

namespace shell {

// Tray icons by client state.
constexpr int kIconReady = 108;
constexpr int kIconMessages = 1020;
constexpr int kIconWarning = 1022;

// Inserts "hh:mm:ss <text>" (at most 255 characters) at the top of the
// status list while the main window is shown; nothing while it is hidden.
// When webText is given, text + "<BR>" is appended to it whether or not the
// window is shown.
void ShowStatus(const std::wstring& text, std::wstring* webText = nullptr);

void ClearStatusList();

void SetStatusBarText(const std::wstring& text);

// Refreshes the tray icon from the client state: the tip (the selected
// certificate's name and the version, or text when not empty), the icon when
// changeIcon is set, and, when the state is not 0, a balloon "Внимание" with
// text, which also becomes TrayWarning.
void UpdateTrayIcon(bool changeIcon, const std::wstring& text);

// The balloon text shown last while the client state was not 0.
std::wstring TrayWarning();

// The warning that the selected certificate or its revocation list runs
// out soon (empty when neither): while set it stands after the
// certificate's name in the tray tip, and the web page shows it as its
// message while the client state is 0. Set by the shell's daily check.
void SetValidityWarning(const std::wstring& text);
std::wstring ValidityWarningText();

}  // namespace shell
