// The headless user interface of the Linux client. Free of system headers;
// the signal handling that ends the loop and the hand-over are in
// posix/ui.cpp, the console printing shared with Windows in ui_console.cpp.
//
// The main window, its status list and status bar, the tray icon and the
// timers are the record in memory of ui_state.cpp and nothing else. What a
// Windows user would see is printed to stdout: status lines while the
// window counts as shown, balloons as "Внимание: text", message boxes with
// the answer they took. The message loop runs posted tasks and due timers
// on the thread that calls RunMessageLoop.
#include "platform/ui.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/codepage.h"
#include "platform/ui_console.h"
#include "platform/ui_state.h"

namespace platform::ui {

namespace {

// Wakes the loop: posted work, a new timer, or the request to quit. Waited
// on with the record's mutex.
std::condition_variable& Wake() {
  static std::condition_variable* wake = new std::condition_variable;  // lives to the end of the process
  return *wake;
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
  state::NoteWindowMade(title);
  return true;
}

void SetTitle(const std::wstring& title) { state::NoteTitle(title); }

std::wstring Title() {
  state::Record& r = state::Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.title;
}

void ShowMainWindow(Show how) {
  std::wstring title;
  if (state::NoteShown(how, &title)) Print(L"=== " + title + L" ===");
}

bool MainWindowVisible() {
  state::Record& r = state::Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.visible;
}

void BringToFront() {}

// No window exists: dialogs stay on the console.
void* MainWindowHandle() { return nullptr; }

void StatusListInsertTop(const std::wstring& line) {
  if (state::NoteStatusLine(line)) Print(line);
}

void StatusListRemoveTop() { state::NoteStatusLineRemoved(); }

void StatusListClear() { state::NoteStatusCleared(); }

std::vector<std::wstring> StatusListLines() { return state::StatusLines(); }

void SetStatusBarText(const std::wstring& text) { state::NoteStatusBar(text); }

std::wstring StatusBarText() {
  state::Record& r = state::Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.statusBar;
}

void SetExchangeButton(bool visible, bool enabled) { state::NoteButton(visible, enabled); }

void SetMessageListVisible(bool visible) { state::NoteListVisible(visible); }

void SetMessageRowProvider(MessageRowProvider provider) {
  state::Record& r = state::Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.rowProvider = std::move(provider);
}

void SetMessageListCount(int count) { state::NoteRowCount(count); }

std::vector<std::wstring> MessageListRow(int row) { return state::RowFromProvider(row); }

ControlsState Controls() {
  state::Record& r = state::Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.controls;
}

bool TrayAdd(int icon, const std::wstring& tip) {
  state::NoteTrayAdded(icon, tip);
  return true;
}

void TrayUpdate(const std::wstring& tip, int icon, bool changeIcon) { state::NoteTray(tip, icon, changeIcon); }

void TrayBalloon(const std::wstring& title, const std::wstring& text) {
  state::NoteBalloon(title, text);
  console::PrintBalloon(title, text);
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
  state::Queue(std::move(task));
  Wake().notify_all();
}

bool SetTimer(int id, int periodMs, Task task) {
  if (periodMs <= 0) return false;
  state::StoreTimer(id, periodMs, std::move(task));
  Wake().notify_all();
  return true;
}

void KillTimer(int id) { state::DropTimer(id); }

int RunMessageLoop() {
  state::Record& r = state::Shared();
  std::unique_lock<std::mutex> lock(r.mutex);
  while (!r.quit) {
    if (!r.posted.empty()) {
      Task task = std::move(r.posted.front());
      r.posted.pop_front();
      lock.unlock();
      task();
      lock.lock();
      continue;
    }
    auto now = std::chrono::steady_clock::now();
    auto next = now + std::chrono::hours(1);
    std::shared_ptr<Task> due;
    for (auto& [id, timer] : r.timers) {
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
    Wake().wait_until(lock, next);
  }
  return r.exitCode;
}

void PostQuit(int exitCode) {
  state::NoteQuit(exitCode);
  Wake().notify_all();
  ConsoleInput& input = Input();
  std::lock_guard<std::mutex> lock(input.mutex);
  input.quitting = true;
  input.arrived.notify_all();
}

void ResetForTest() {
  state::Clear(true);
  ConsoleInput& input = Input();
  std::lock_guard<std::mutex> inputLock(input.mutex);
  input.quitting = false;
}

}  // namespace platform::ui
