// The user interface's record in memory (ui_state.h), and the calls of
// ui.h that are the same in both backends because they touch nothing but
// the record.
#include "platform/ui_state.h"

namespace platform::ui {

namespace state {

namespace {

constexpr int kTrayDoubleClick = 0x203;  // what a hand-over stands for

}  // namespace

Record& Shared() {
  static Record* record = new Record;  // lives to the end of the process
  return *record;
}

void NoteWindowMade(const std::wstring& title) {
  Record& r = Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.title = title;
  r.visible = false;
}

void NoteTitle(const std::wstring& title) {
  Record& r = Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.title = title;
}

bool NoteShown(Show how, std::wstring* title) {
  Record& r = Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  const bool appeared = !r.visible && how != Show::Hide;
  r.visible = how != Show::Hide;
  *title = r.title;
  return appeared;
}

bool NoteStatusLine(const std::wstring& line) {
  Record& r = Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.statusLines.push_front(line);
  return r.visible;
}

void NoteStatusLineRemoved() {
  Record& r = Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  if (!r.statusLines.empty()) r.statusLines.pop_front();
}

void NoteStatusCleared() {
  Record& r = Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.statusLines.clear();
}

std::vector<std::wstring> StatusLines() {
  Record& r = Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  return std::vector<std::wstring>(r.statusLines.begin(), r.statusLines.end());
}

void NoteStatusBar(const std::wstring& text) {
  Record& r = Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.statusBar = text;
}

void NoteButton(bool visible, bool enabled) {
  Record& r = Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.controls.buttonVisible = visible;
  r.controls.buttonEnabled = enabled;
}

void NoteListVisible(bool visible) {
  Record& r = Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.controls.listVisible = visible;
}

void NoteRowCount(int count) {
  Record& r = Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.controls.rowCount = count;
}

std::vector<std::wstring> RowFromProvider(int row) {
  MessageRowProvider provider;
  {
    Record& r = Shared();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (row < 0 || row >= r.controls.rowCount) return {};
    provider = r.rowProvider;
  }
  return provider ? provider(row) : std::vector<std::wstring>{};
}

void NoteTrayAdded(int icon, const std::wstring& tip) {
  Record& r = Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.tray.added = true;
  r.tray.icon = icon;
  r.tray.tip = tip;
}

void NoteTray(const std::wstring& tip, int icon, bool changeIcon) {
  Record& r = Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.tray.tip = tip;
  if (changeIcon) r.tray.icon = icon;
}

void NoteBalloon(const std::wstring& title, const std::wstring& text) {
  Record& r = Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.tray.balloonTitle = title;
  r.tray.balloonText = text;
  ++r.tray.balloons;
}

std::function<void(int)> TrayHandler() {
  Record& r = Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.trayHandler;
}

WindowEventHandlers Events() {
  Record& r = Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.events;
}

void StoreTimer(int id, int periodMs, Task task) {
  Record& r = Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.timers[id] = Timer{periodMs, std::chrono::steady_clock::now() + std::chrono::milliseconds(periodMs),
                       std::make_shared<Task>(std::move(task))};
}

void DropTimer(int id) {
  Record& r = Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.timers.erase(id);
}

std::vector<int> TimerIds() {
  Record& r = Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  std::vector<int> ids;
  for (const auto& [id, timer] : r.timers) ids.push_back(id);
  return ids;
}

std::shared_ptr<Task> TimerTask(int id) {
  Record& r = Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.timers.find(id);
  return it == r.timers.end() ? nullptr : it->second.task;
}

void Queue(Task task) {
  Record& r = Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.posted.push_back(std::move(task));
}

bool TakePosted(Task* task) {
  Record& r = Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  if (r.posted.empty()) return false;
  *task = std::move(r.posted.front());
  r.posted.pop_front();
  return true;
}

void RunAllPosted() {
  for (Task task; TakePosted(&task);) task();
}

void NoteQuit(int exitCode) {
  Record& r = Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  if (!r.quit) r.exitCode = exitCode;
  r.quit = true;
}

bool QuitAsked(int* exitCode) {
  Record& r = Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  *exitCode = r.exitCode;
  return r.quit;
}

void Clear(bool quitToo) {
  Record& r = Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.title.clear();
  r.visible = false;
  r.statusLines.clear();
  r.statusBar.clear();
  r.controls = ControlsState();
  r.rowProvider = nullptr;
  r.tray = TrayState();
  r.trayHandler = nullptr;
  r.events = WindowEventHandlers();
  r.timers.clear();
  r.posted.clear();
  if (quitToo) {
    r.quit = false;
    r.exitCode = 0;
  }
}

}  // namespace state

TrayState Tray() {
  state::Record& r = state::Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.tray;
}

void SetTrayHandler(std::function<void(int code)> handler) {
  state::Record& r = state::Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.trayHandler = std::move(handler);
}

void SetWindowEventHandlers(WindowEventHandlers handlers) {
  state::Record& r = state::Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.events = std::move(handlers);
}

void ReceiveHandOver() {
  // The window it shows must not hide at the next check of the user's
  // input just because the user had typed nothing for a minute before.
  NoteUserInput();
  Post([]() {
    if (std::function<void(int)> handler = state::TrayHandler()) handler(state::kTrayDoubleClick);
  });
}

bool TimerRunning(int id) { return state::TimerTask(id) != nullptr; }

int TimerPeriod(int id) {
  state::Record& r = state::Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.timers.find(id);
  return it == r.timers.end() ? 0 : it->second.periodMs;
}

bool FireTimerForTest(int id) {
  std::shared_ptr<Task> task = state::TimerTask(id);
  if (!task) return false;
  (*task)();
  return true;
}

void RunPostedForTest() { state::RunAllPosted(); }

}  // namespace platform::ui
