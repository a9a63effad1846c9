// What the user interface holds in memory, the same for both backends
// (headless_ui.cpp on Linux, win32/ui.cpp on Windows): what the main
// window, its controls and the tray icon show, the handlers the shell
// registered, the timers' table, the posted tasks and the request to quit.
// The headless backend has nothing else; the Windows one keeps it beside
// its windows so that other threads are answered without asking a window
// of a busy thread. Free of system headers.
//
// One mutex guards the record; the Windows backend guards its window
// handles with the same mutex. The functions below take it themselves and
// are called without it held.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ui.h"

namespace platform::ui::state {

struct Timer {
  int periodMs;                               // period
  std::chrono::steady_clock::time_point due;  // next run (the headless loop's clock)
  std::shared_ptr<Task> task;                 // what runs
};

struct Record {
  std::mutex mutex;                      // guards every field below
  std::wstring title;                    // the main window's title
  bool visible = false;                  // the main window is shown
  std::deque<std::wstring> statusLines;  // the status list, newest first
  std::wstring statusBar;                // the status bar's text
  ControlsState controls;                // button, message list and its row count
  MessageRowProvider rowProvider;        // the message list's rows
  TrayState tray;                        // the tray icon
  std::function<void(int)> trayHandler;  // tray notifications
  WindowEventHandlers events;            // menu, button, close, minimise, row
  std::map<int, Timer> timers;           // by identifier
  std::deque<Task> posted;               // tasks for the loop, oldest first
  bool quit = false;                     // PostQuit came
  int exitCode = 0;                      // the first PostQuit's code
};

// The record; lives to the end of the process.
Record& Shared();

// The title noted, the window hidden (a window just made).
void NoteWindowMade(const std::wstring& title);
void NoteTitle(const std::wstring& title);
// Notes the window shown or hidden; true when it appeared, with its title.
bool NoteShown(Show how, std::wstring* title);

// Notes a line on top of the status list; true when the window is shown.
bool NoteStatusLine(const std::wstring& line);
void NoteStatusLineRemoved();
void NoteStatusCleared();
std::vector<std::wstring> StatusLines();
void NoteStatusBar(const std::wstring& text);

void NoteButton(bool visible, bool enabled);
void NoteListVisible(bool visible);
void NoteRowCount(int count);
// The row from the provider, outside the lock: the provider reads the
// message list, whose own lock may be held by a thread setting the count.
std::vector<std::wstring> RowFromProvider(int row);

void NoteTrayAdded(int icon, const std::wstring& tip);
void NoteTray(const std::wstring& tip, int icon, bool changeIcon);
void NoteBalloon(const std::wstring& title, const std::wstring& text);
std::function<void(int)> TrayHandler();
WindowEventHandlers Events();

// The timer put in the table (replacing one of the same identifier), due a
// period from now; removed.
void StoreTimer(int id, int periodMs, Task task);
void DropTimer(int id);
// The identifiers in the table.
std::vector<int> TimerIds();
// The task of a timer, or null.
std::shared_ptr<Task> TimerTask(int id);

void Queue(Task task);
// The oldest posted task; false when none waits.
bool TakePosted(Task* task);
// Runs the posted tasks, those posted meanwhile too, until none waits.
void RunAllPosted();

// Notes the request to quit (the first code stays); the code so far and
// whether quitting was asked.
void NoteQuit(int exitCode);
bool QuitAsked(int* exitCode);

// Everything back to its start (ResetForTest); quit and its code only
// when `quitToo`.
void Clear(bool quitToo);

}  // namespace platform::ui::state
