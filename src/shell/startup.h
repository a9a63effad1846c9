// Start-up of the client: from the start of the process to its message
// loop, and the exit codes with which it ends.
#pragma once

#include <optional>
#include <string>

namespace shell {

// Exit codes of the client.
constexpr int kExitOk = 0;       // normal end, second instance, no executable path
constexpr int kExitFailure = 1;  // folder not writable, database, updater missing or not started

// The updater's file beside the client ("TSR_Update", "TSR_Update.exe" on
// Windows), and the size it must exceed.
extern const std::string kUpdaterFileName;
constexpr long kUpdaterMinimumSize = 100000;

// True when the marker file "interface.web" was present at start and the
// web listener listens.
bool WebInterfaceOn();

// Mode 0 deletes the marker file, 1 tests it (start-up), 2 creates it. With
// 1 and 2 the web listener starts (once per process) when the marker could
// be opened; true only while it listens.
bool EnableWebInterface(int mode);

// Start-up initialisation: run stamp, log, program folder, "state.txt",
// folders, database, settings, the updater's presence. Returns the exit code
// when the process must end, nothing when it may go on.
std::optional<int> AppInit(const std::string& executablePath);

// Creates the main window and the tray icon, applies the single-instance
// rule and starts the work. Returns the exit code when the process must end.
std::optional<int> CreateMainWindow();

// The whole client: AppInit, CreateMainWindow, the message loop. Returns the
// process's exit code.
int RunClient();

// Ends the client at once with the exit code, from whichever thread runs
// (the user-interface thread, the incoming-message check, a web worker):
// the console output is flushed and the process ends. The database is not
// closed, since another thread may be inside a statement; SQLite recovers
// its journal at the next open. The instance lock goes with the process.
[[noreturn]] void EndClientNow(int exitCode);

// A message box with the text, the support line and address; then opens the
// support page.
void ShowSupportMessage(const std::wstring& text);

}  // namespace shell
