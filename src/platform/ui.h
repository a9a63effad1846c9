// The user interface the shell stands on: the main window with its
// controls, the tray icon, message boxes, window timers and the message
// loop.
//
// On Windows these are real windows (win32/ui.cpp). On Linux the client
// runs headless (headless_ui.cpp):
// everything lives in memory, status lines (while the window counts as
// shown), balloons and message boxes are also printed to stdout, and
// questions take their default answer and say so. Tests read the state back
// with the query functions and fire timers by hand.
//
// Threads: the loop, timers and posted tasks run on the thread that calls
// RunMessageLoop (the user-interface thread). Every other function may be
// called from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform::ui {

using Task = std::function<void()>;

// Main window ---------------------------------------------------------------

enum class Show {
  Hide,
  Normal,
  Maximized,
};

bool CreateMainWindow(const std::wstring& title, int width, int height);
void SetTitle(const std::wstring& title);
std::wstring Title();
void ShowMainWindow(Show how);
bool MainWindowVisible();
void BringToFront();
// The main window's system handle (HWND on Windows) for the dialogs it
// owns (platform/dialog.h); null headless.
void* MainWindowHandle();

// Status list: newest line on top.
void StatusListInsertTop(const std::wstring& line);
void StatusListRemoveTop();
void StatusListClear();
std::vector<std::wstring> StatusListLines();

void SetStatusBarText(const std::wstring& text);
std::wstring StatusBarText();

// The exchange button and the message list (five columns per row).
void SetExchangeButton(bool visible, bool enabled);
void SetMessageListVisible(bool visible);

// The message list holds no texts of its own: it knows how many rows there
// are and asks the provider for the columns of a row when it shows that
// row (on Windows an owner-data list view), so a list of years of
// documents costs no more than a screenful. The provider runs on the
// thread that asks; it gets a row number below the count and returns the
// five columns, or nothing when the row is gone meanwhile.
using MessageRowProvider = std::function<std::vector<std::wstring>(int row)>;
void SetMessageRowProvider(MessageRowProvider provider);
// The list now holds `count` rows; the rows shown are asked for again.
void SetMessageListCount(int count);
// The columns of one row as the list would show them (empty when out of
// range or without a provider).
std::vector<std::wstring> MessageListRow(int row);

struct ControlsState {
  bool buttonVisible = false;  // exchange button shown
  bool buttonEnabled = false;  // exchange button can be pressed
  bool listVisible = false;    // message list shown
  int rowCount = 0;            // rows of the message list
};
ControlsState Controls();

// Tray icon -----------------------------------------------------------------

struct TrayState {
  bool added = false;         // the icon is in the notification area
  int icon = 0;               // icon resource shown
  std::wstring tip;           // tip text
  std::wstring balloonTitle;  // last balloon shown
  std::wstring balloonText;
  int balloons = 0;           // balloons shown so far
};

bool TrayAdd(int icon, const std::wstring& tip);
void TrayUpdate(const std::wstring& tip, int icon, bool changeIcon);
void TrayBalloon(const std::wstring& title, const std::wstring& text);
TrayState Tray();

// Called on the user-interface thread with the tray notification code
// (0x203 left double-click, 0x204 right button, 0x206 right double-click).
// A second client's hand-over arrives here as 0x203.
void SetTrayHandler(std::function<void(int code)> handler);

// A second client's hand-over (SIGUSR1 on Linux): the user has just
// started the program, so it counts as user input, and the tray handler
// runs with 0x203 on the user-interface thread.
void ReceiveHandOver();

// What a second client needs to reach this one, kept in "state.txt": the
// main window's handle on Windows, the process id on Linux.
uint32_t HandOverHandle();

// The second client's side: a visible window of the running client is
// brought to the front, a hidden one gets the tray double-click (0x8000 with
// 0x203), which shows it. On Linux: SIGUSR1 to the process id. False when
// the running client is not there.
bool HandOverToRunningClient(uint32_t handle);

// Window events --------------------------------------------------------------

// What the main window's user does, each run on the user-interface thread:
// a menu command or the exchange button (its identifier), closing the
// window, minimising it, a double-click on a row of the message list (the
// row). The headless client has no window: its console calls the same
// shell functions.
struct WindowEventHandlers {
  std::function<void(int command)> command;
  std::function<void()> close;
  std::function<void()> minimise;
  std::function<void(int row)> rowActivated;
};
void SetWindowEventHandlers(WindowEventHandlers handlers);

// Message boxes -------------------------------------------------------------

enum class Buttons {
  Ok,
  YesNo,
};

enum class Answer {
  Ok,
  Yes,
  No,
};

// Shows a message box, on Windows owned by the main window and also printed
// to the console as the headless one is. Headless, a Yes/No question is asked on the console
// while it is read (StartConsoleInput): "yes" or "да" answers Yes, any
// other line No; without a console, or when the input ends or the loop is
// told to quit meanwhile, it is answered No and says so.
Answer MessageBox(const std::wstring& text, const std::wstring& caption, Buttons buttons);

// Prints a line to the console as it is (no stamp).
void ConsolePrint(const std::wstring& text);

// Whether status lines, balloons and message boxes are printed to the
// console (on until switched off; tsr-tool keeps its output to itself).
void SetConsoleEcho(bool on);

// Console input -------------------------------------------------------------

// Headless: reads the console (stdin) line by line on a thread of its own
// and runs the handler with each line on the user-interface thread; the
// end of the input is not a command. On Windows the window's own controls
// are the input and this does nothing.
void StartConsoleInput(std::function<void(const std::wstring& line)> handler);

// Headless: the console face of a modal dialog. Blocks the calling thread
// until the next console line arrives and returns it to the caller instead
// of the handler. One dialog at a time; other callers wait their turn.
// Nothing, at once, while the console is not read; nothing when the input
// ends or the loop is told to quit while waiting.
std::optional<std::wstring> ConsoleReadModal();

// Milliseconds of the monotonic clock at the user's last input (a console
// line, or NoteUserInput from the web interface); the time of start until
// the first input.
int64_t LastInputMs();
void NoteUserInput();

// Loop and timers -------------------------------------------------------------

// Runs task on the user-interface thread.
void Post(Task task);

// Window timers: task runs every periodMs on the user-interface thread.
// Setting an id that runs restarts it with the new period.
bool SetTimer(int id, int periodMs, Task task);
void KillTimer(int id);
bool TimerRunning(int id);
int TimerPeriod(int id);

// Blocks SIGINT, SIGTERM and SIGUSR1 and turns them into work for the loop:
// SIGINT/SIGTERM end it with exit code 0 as the exit command does, SIGUSR1
// is the tray double-click. Call once, before any other thread starts. On
// Windows: Ctrl+C, Ctrl+Break and closing a console end the loop.
void InstallSignalHandlers();

// Runs the loop until PostQuit; returns its exit code.
int RunMessageLoop();
void PostQuit(int exitCode);

// Tests: run a timer's task now, on the calling thread; false when it is not
// set. Run every posted task now.
bool FireTimerForTest(int id);
void RunPostedForTest();
// Forget every window, tray, timer and posted task.
void ResetForTest();

}  // namespace platform::ui
