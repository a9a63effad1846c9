// The headless user interface of the Linux client. Free of system headers;
// the signal handling that ends the loop and the hand-over are in
// posix/ui.cpp, the console printing shared with Windows in ui_console.cpp.
//
// The main window, its status list and status bar, the tray icon and the
// timers live in memory under one mutex. What a Windows user would see is
// printed to stdout: status lines while the window counts as shown,
// balloons as "Внимание: text", message boxes with the answer they took.
// The message loop runs posted tasks and due timers on the thread that
// calls RunMessageLoop.
#include "platform/ui.h"

#include <chrono>
#include <iostream>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/codepage.h"
#include "platform/ui_console.h"

namespace platform::ui {

namespace {

struct Timer {
  int periodMs;                                  // period
  std::chrono::steady_clock::time_point due;     // next run
  std::shared_ptr<Task> task;                    // what runs
};

struct Backend {
  std::mutex mutex;
  std::condition_variable wake;       // posted work or a new timer
  bool windowCreated = false;
  std::wstring title;
  bool visible = false;
  std::deque<std::wstring> statusLines;  // newest first
  std::wstring statusBar;
  ControlsState controls;
  MessageRowProvider rowProvider;     // the message list's rows
  TrayState tray;
  std::function<void(int)> trayHandler;
  WindowEventHandlers events;         // kept; no window fires them
  std::map<int, Timer> timers;
  std::deque<Task> posted;
  bool quit = false;
  int exitCode = 0;
};

Backend& State() {
  static Backend* backend = new Backend;  // lives to the end of the process
  return *backend;
}

// Console input as the reader thread and a modal dialog share it.
struct ConsoleInput {
  std::mutex mutex;
  std::condition_variable arrived;  // a line for the dialog, the end, or quit
  bool reading = false;             // StartConsoleInput runs its reader
  bool ended = false;               // stdin is closed
  bool quitting = false;            // PostQuit came: no dialog waits any more
  int waiting = 0;                  // dialogs waiting for a line
  std::deque<std::wstring> lines;   // lines read for a waiting dialog
};

ConsoleInput& Input() {
  static ConsoleInput* input = new ConsoleInput;  // lives to the end of the process
  return *input;
}

std::mutex modalTurn;  // one modal dialog reads the console at a time

using console::Print;

}  // namespace

bool CreateMainWindow(const std::wstring& title, int, int) {
  Backend& b = State();
  std::lock_guard<std::mutex> lock(b.mutex);
  b.windowCreated = true;
  b.title = title;
  b.visible = false;
  return true;
}

void SetTitle(const std::wstring& title) {
  Backend& b = State();
  std::lock_guard<std::mutex> lock(b.mutex);
  b.title = title;
}

std::wstring Title() {
  Backend& b = State();
  std::lock_guard<std::mutex> lock(b.mutex);
  return b.title;
}

void ShowMainWindow(Show how) {
  Backend& b = State();
  bool appeared;
  std::wstring title;
  {
    std::lock_guard<std::mutex> lock(b.mutex);
    appeared = !b.visible && how != Show::Hide;
    b.visible = how != Show::Hide;
    title = b.title;
  }
  if (appeared) Print(L"=== " + title + L" ===");
}

bool MainWindowVisible() {
  Backend& b = State();
  std::lock_guard<std::mutex> lock(b.mutex);
  return b.visible;
}

void BringToFront() {}

// No window exists: dialogs stay on the console.
void* MainWindowHandle() { return nullptr; }

void StatusListInsertTop(const std::wstring& line) {
  Backend& b = State();
  bool visible;
  {
    std::lock_guard<std::mutex> lock(b.mutex);
    b.statusLines.push_front(line);
    visible = b.visible;
  }
  if (visible) Print(line);
}

void StatusListRemoveTop() {
  Backend& b = State();
  std::lock_guard<std::mutex> lock(b.mutex);
  if (!b.statusLines.empty()) b.statusLines.pop_front();
}

void StatusListClear() {
  Backend& b = State();
  std::lock_guard<std::mutex> lock(b.mutex);
  b.statusLines.clear();
}

std::vector<std::wstring> StatusListLines() {
  Backend& b = State();
  std::lock_guard<std::mutex> lock(b.mutex);
  return std::vector<std::wstring>(b.statusLines.begin(), b.statusLines.end());
}

void SetStatusBarText(const std::wstring& text) {
  Backend& b = State();
  std::lock_guard<std::mutex> lock(b.mutex);
  b.statusBar = text;
}

std::wstring StatusBarText() {
  Backend& b = State();
  std::lock_guard<std::mutex> lock(b.mutex);
  return b.statusBar;
}

void SetExchangeButton(bool visible, bool enabled) {
  Backend& b = State();
  std::lock_guard<std::mutex> lock(b.mutex);
  b.controls.buttonVisible = visible;
  b.controls.buttonEnabled = enabled;
}

void SetMessageListVisible(bool visible) {
  Backend& b = State();
  std::lock_guard<std::mutex> lock(b.mutex);
  b.controls.listVisible = visible;
}

void SetMessageRowProvider(MessageRowProvider provider) {
  Backend& b = State();
  std::lock_guard<std::mutex> lock(b.mutex);
  b.rowProvider = std::move(provider);
}

void SetMessageListCount(int count) {
  Backend& b = State();
  std::lock_guard<std::mutex> lock(b.mutex);
  b.controls.rowCount = count;
}

std::vector<std::wstring> MessageListRow(int row) {
  MessageRowProvider provider;
  {
    Backend& b = State();
    std::lock_guard<std::mutex> lock(b.mutex);
    if (row < 0 || row >= b.controls.rowCount) return {};
    provider = b.rowProvider;
  }
  // Outside the lock: the provider reads the message list, whose own lock
  // may be held by a thread that is setting the count.
  return provider ? provider(row) : std::vector<std::wstring>{};
}

ControlsState Controls() {
  Backend& b = State();
  std::lock_guard<std::mutex> lock(b.mutex);
  return b.controls;
}

bool TrayAdd(int icon, const std::wstring& tip) {
  Backend& b = State();
  std::lock_guard<std::mutex> lock(b.mutex);
  b.tray.added = true;
  b.tray.icon = icon;
  b.tray.tip = tip;
  return true;
}

void TrayUpdate(const std::wstring& tip, int icon, bool changeIcon) {
  Backend& b = State();
  std::lock_guard<std::mutex> lock(b.mutex);
  b.tray.tip = tip;
  if (changeIcon) b.tray.icon = icon;
}

void TrayBalloon(const std::wstring& title, const std::wstring& text) {
  Backend& b = State();
  {
    std::lock_guard<std::mutex> lock(b.mutex);
    b.tray.balloonTitle = title;
    b.tray.balloonText = text;
    ++b.tray.balloons;
  }
  console::PrintBalloon(title, text);
}

TrayState Tray() {
  Backend& b = State();
  std::lock_guard<std::mutex> lock(b.mutex);
  return b.tray;
}

void SetTrayHandler(std::function<void(int code)> handler) {
  Backend& b = State();
  std::lock_guard<std::mutex> lock(b.mutex);
  b.trayHandler = std::move(handler);
}

void ReceiveHandOver() {
  // The window it shows must not hide at the next check of the user's
  // input just because the user had typed nothing for a minute before.
  NoteUserInput();
  Post([]() {
    std::function<void(int)> handler;
    {
      Backend& b = State();
      std::lock_guard<std::mutex> lock(b.mutex);
      handler = b.trayHandler;
    }
    if (handler) handler(0x203);
  });
}

void SetWindowEventHandlers(WindowEventHandlers handlers) {
  Backend& b = State();
  std::lock_guard<std::mutex> lock(b.mutex);
  b.events = std::move(handlers);
}

Answer MessageBox(const std::wstring& text, const std::wstring& caption, Buttons buttons) {
  std::wstring line = console::MessageBoxLine(text, caption);
  if (buttons == Buttons::YesNo) {
    Print(line + L"\nВведите yes (да) или no (нет):");
    std::optional<std::wstring> answer = ConsoleReadModal();
    if (!answer) {
      Print(L"(вопрос без ответа: принят ответ по умолчанию «Нет»)");
      return Answer::No;
    }
    std::wstring word = answer->substr(0, answer->find_last_not_of(L" \t\r") + 1);
    word.erase(0, word.find_first_not_of(L" \t"));
    return word == L"yes" || word == L"да" ? Answer::Yes : Answer::No;
  }
  Print(line);
  return Answer::Ok;
}

void StartConsoleInput(std::function<void(const std::wstring& line)> handler) {
  ConsoleInput& input = Input();
  {
    std::lock_guard<std::mutex> lock(input.mutex);
    input.reading = true;
  }
  std::thread([handler = std::move(handler), &input]() {
    std::string bytes;
    while (std::getline(std::cin, bytes)) {
      NoteUserInput();
      std::wstring line;
      CodePageToWide(bytes, 65001, &line);
      {
        // A dialog waiting for an answer takes the line; otherwise it is
        // a command.
        std::lock_guard<std::mutex> lock(input.mutex);
        if (input.waiting > 0) {
          input.lines.push_back(std::move(line));
          input.arrived.notify_all();
          continue;
        }
      }
      Post([handler, line]() { handler(line); });
    }
    std::lock_guard<std::mutex> lock(input.mutex);
    input.ended = true;
    input.arrived.notify_all();
  }).detach();
}

std::optional<std::wstring> ConsoleReadModal() {
  std::lock_guard<std::mutex> turn(modalTurn);
  ConsoleInput& input = Input();
  std::unique_lock<std::mutex> lock(input.mutex);
  if (!input.reading) return std::nullopt;
  ++input.waiting;
  input.arrived.wait(lock, [&input] { return !input.lines.empty() || input.ended || input.quitting; });
  --input.waiting;
  if (input.quitting || input.lines.empty()) {
    input.lines.clear();
    return std::nullopt;
  }
  std::wstring line = std::move(input.lines.front());
  input.lines.pop_front();
  return line;
}

int64_t LastInputMs() { return console::NotedInputMs(); }

void Post(Task task) {
  Backend& b = State();
  {
    std::lock_guard<std::mutex> lock(b.mutex);
    b.posted.push_back(std::move(task));
  }
  b.wake.notify_all();
}

bool SetTimer(int id, int periodMs, Task task) {
  if (periodMs <= 0) return false;
  Backend& b = State();
  {
    std::lock_guard<std::mutex> lock(b.mutex);
    b.timers[id] = Timer{periodMs, std::chrono::steady_clock::now() + std::chrono::milliseconds(periodMs),
                         std::make_shared<Task>(std::move(task))};
  }
  b.wake.notify_all();
  return true;
}

void KillTimer(int id) {
  Backend& b = State();
  std::lock_guard<std::mutex> lock(b.mutex);
  b.timers.erase(id);
}

bool TimerRunning(int id) {
  Backend& b = State();
  std::lock_guard<std::mutex> lock(b.mutex);
  return b.timers.count(id) != 0;
}

int TimerPeriod(int id) {
  Backend& b = State();
  std::lock_guard<std::mutex> lock(b.mutex);
  auto it = b.timers.find(id);
  return it == b.timers.end() ? 0 : it->second.periodMs;
}

int RunMessageLoop() {
  Backend& b = State();
  std::unique_lock<std::mutex> lock(b.mutex);
  while (!b.quit) {
    if (!b.posted.empty()) {
      Task task = std::move(b.posted.front());
      b.posted.pop_front();
      lock.unlock();
      task();
      lock.lock();
      continue;
    }
    auto now = std::chrono::steady_clock::now();
    auto next = now + std::chrono::hours(1);
    std::shared_ptr<Task> due;
    for (auto& [id, timer] : b.timers) {
      if (timer.due <= now) {
        timer.due = now + std::chrono::milliseconds(timer.periodMs);
        due = timer.task;
        break;
      }
      if (timer.due < next) next = timer.due;
    }
    if (due) {
      lock.unlock();
      (*due)();
      lock.lock();
      continue;
    }
    b.wake.wait_until(lock, next);
  }
  return b.exitCode;
}

void PostQuit(int exitCode) {
  Backend& b = State();
  {
    std::lock_guard<std::mutex> lock(b.mutex);
    if (!b.quit) b.exitCode = exitCode;
    b.quit = true;
  }
  b.wake.notify_all();
  ConsoleInput& input = Input();
  std::lock_guard<std::mutex> lock(input.mutex);
  input.quitting = true;
  input.arrived.notify_all();
}

bool FireTimerForTest(int id) {
  std::shared_ptr<Task> task;
  {
    Backend& b = State();
    std::lock_guard<std::mutex> lock(b.mutex);
    auto it = b.timers.find(id);
    if (it == b.timers.end()) return false;
    task = it->second.task;
  }
  (*task)();
  return true;
}

void RunPostedForTest() {
  Backend& b = State();
  for (;;) {
    Task task;
    {
      std::lock_guard<std::mutex> lock(b.mutex);
      if (b.posted.empty()) return;
      task = std::move(b.posted.front());
      b.posted.pop_front();
    }
    task();
  }
}

void ResetForTest() {
  Backend& b = State();
  std::lock_guard<std::mutex> lock(b.mutex);
  b.windowCreated = false;
  b.title.clear();
  b.visible = false;
  b.statusLines.clear();
  b.statusBar.clear();
  b.controls = ControlsState();
  b.rowProvider = nullptr;
  b.tray = TrayState();
  b.trayHandler = nullptr;
  b.events = WindowEventHandlers();
  b.timers.clear();
  b.posted.clear();
  b.quit = false;
  b.exitCode = 0;
  ConsoleInput& input = Input();
  std::lock_guard<std::mutex> inputLock(input.mutex);
  input.quitting = false;
}

}  // namespace platform::ui
