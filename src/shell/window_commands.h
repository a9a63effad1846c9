// The main window's commands: the exchange button, the menu, closing and
// minimising. The console of the Linux client calls the same functions.
#pragma once

namespace shell {

constexpr int kCommandExchange = 100;      // button "Получить сообщения"
constexpr int kCommandAbout = 104;         // menu "&О программе ..."
constexpr int kCommandExit = 105;          // menu "В&ыход"
constexpr int kCommandCheckUpdate = 1018;  // menu "Проверка обновлений"
constexpr int kCommandSettings = 1019;     // menu "Настройка"
constexpr int kCommandManual = 1023;       // menu "Инструкция"

// The user manual opened by the menu.
extern const char kManualAddress[];

// Runs a command on the user-interface thread; false for a command that
// this build does not offer.
bool OnCommand(int command);

// Closing the window: hidden in the exchange-folder mode, the end of the
// client otherwise. Minimising hides it.
void OnClose();
void OnMinimise();

}  // namespace shell
