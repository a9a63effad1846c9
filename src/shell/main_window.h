// The main window's reactions that the start-up needs: the remembered day
// and the tray notifications (a double-click shows the window; a second
// client's hand-over arrives the same way).
#pragma once

namespace shell {

constexpr int kTrayDoubleClick = 0x203;
constexpr int kTrayRightButton = 0x204;
constexpr int kTrayRightDoubleClick = 0x206;

// The day of the month of the start time, for the new-day check.
void RememberStartDay(int day);
int RememberedDay();

// The message list's rows follow every load of the message list; the timers
// 1002 and 1003 run their checks on the user-interface thread.
void CreateControls();

// Runs on the user-interface thread for each tray notification.
void OnTrayNotify(int code);

// A double-click on row `row` of the message list: the row becomes the
// selected message and its message dialog opens.
void OnMessageRowActivated(int row);

// The row last double-clicked, -1 before the first.
int SelectedMessage();

}  // namespace shell
