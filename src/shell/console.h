// The console of the headless client: commands typed on stdin that do what
// the window's button, menu, tray icon and message dialog do. Each line is
// handled on the user-interface thread.
#pragma once

#include <string>

namespace shell {

// Runs one command line; unknown commands print the help.
void RunConsoleCommand(const std::wstring& line);

// The parameters dialog on the console (the menu command "Настройка"):
// prints its fields and starts their edit, which "settings ok" or
// "settings cancel" ends.
void OpenSettingsEdit();

// Starts reading the console.
void StartConsole();

}  // namespace shell
