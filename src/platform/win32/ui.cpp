// The Windows user interface (see ui.h): the main window with the exchange
// button, the message list (an owner-data list view that asks the row
// provider for what it shows), the status list and the status bar; the
// tray icon with its tip and balloons; message boxes; window timers and the
// message loop with the accelerators. Called by the client's start-up, the
// shell and the exchange operations, and by the updater for its bare window.
//
// The thread that creates the main window (or runs the loop first) is the
// user-interface thread: it owns every window. A call from another thread
// that changes a window is posted to it as a task; the query functions
// read the windows on that thread and answer others from the state kept
// beside them under a small mutex, since reading a window of a busy thread
// would wait for it. Tasks and timers before the main window exists go to a
// message-only window of the same thread. What the user sees is also
// printed to stdout as the headless client does (ui_console.cpp).
#include "platform/ui.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <memory>
#include <mutex>

#include "platform/clock.h"
#include "platform/error.h"
#include "platform/ui_console.h"
#include "platform/ui_state.h"

// ui.h's MessageBox, not the macro of <windows.h>.
#undef MessageBox

namespace platform::ui {

namespace {

constexpr UINT kTrayMessage = WM_APP;       // 0x8000, the tray icon's callback
constexpr UINT kTaskMessage = WM_APP + 1;   // posted tasks are waiting
constexpr UINT kTrayIconId = 1;
constexpr int kExchangeButtonId = 100;
constexpr int kMessageListId = 5555;
constexpr int kStatusBarId = 5550;
constexpr int kMenuAndAccelerators = 109;
constexpr int kLargeIcon = 107;
constexpr int kSmallIcon = 108;
constexpr int kTrayDoubleClick = 0x203;

struct Column {
  const wchar_t* title;
  int width;
};
constexpr Column kColumns[] = {
    {L"Получено", 96}, {L"Отправитель", 144}, {L"УНП", 69}, {L"Вид сообщения", 96}, {L"Статус", 85},
};

// The windows beside the record of ui_state.cpp. The handles are set under
// the record's mutex by the user-interface thread; the controls' handles
// are then used by that thread only.
struct Backend {
  std::mutex& mutex = state::Shared().mutex;
  DWORD uiThread = 0;
  HWND hub = nullptr;      // message-only window: tasks, and timers without a main window
  HWND window = nullptr;   // the main window
  HWND button = nullptr;
  HWND list = nullptr;
  HWND statusList = nullptr;
  HWND statusBar = nullptr;
  HACCEL accelerators = nullptr;
  HFONT font = nullptr;
  int cachedRow = -1;                       // the row the list view asked for last
  std::vector<std::wstring> cachedColumns;  // that row's columns
};

Backend& State() {
  static Backend* backend = new Backend;  // lives to the end of the process
  return *backend;
}

bool OnUserInterfaceThread() {
  Backend& b = State();
  std::lock_guard<std::mutex> lock(b.mutex);
  return b.hub != nullptr && GetCurrentThreadId() == b.uiThread;
}

// Runs work that touches the windows on the user-interface thread: now when
// called there, posted otherwise.
void OnUi(Task work) {
  if (OnUserInterfaceThread()) {
    work();
  } else {
    Post(std::move(work));
  }
}

HWND MainWindow() {
  Backend& b = State();
  std::lock_guard<std::mutex> lock(b.mutex);
  return b.window;
}

// Makes the real timer `id` match the table: set with its period, or killed,
// on the main window once it exists.
void SyncTimer(int id) {
  Backend& b = State();
  HWND target;
  {
    std::lock_guard<std::mutex> lock(b.mutex);
    target = b.window != nullptr ? b.window : b.hub;
  }
  if (target == nullptr) return;
  const int period = TimerPeriod(id);
  if (period > 0) {
    ::SetTimer(target, static_cast<UINT_PTR>(id), static_cast<UINT>(period), nullptr);
  } else {
    ::KillTimer(target, static_cast<UINT_PTR>(id));
  }
}

void RunTimer(HWND window, UINT_PTR id) {
  if (std::shared_ptr<Task> task = state::TimerTask(static_cast<int>(id))) {
    (*task)();
  } else {
    ::KillTimer(window, id);
  }
}

HICON LoadIconResource(int id, bool small) {
  const int size = GetSystemMetrics(small ? SM_CXSMICON : SM_CXICON);
  HANDLE icon = LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_SHARED);
  return icon != nullptr ? static_cast<HICON>(icon) : LoadIconW(nullptr, IDI_APPLICATION);
}

void CopyText(wchar_t* out, size_t capacity, const std::wstring& text) {
  size_t count = std::min(text.size(), capacity - 1);
  std::copy_n(text.data(), count, out);
  out[count] = L'\0';
}

// The tray icon as the cached state has it; NIM_ADD or NIM_MODIFY.
bool NotifyTray(DWORD action, UINT flags) {
  Backend& b = State();
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(data);
  {
    std::lock_guard<std::mutex> lock(b.mutex);
    const TrayState& tray = state::Shared().tray;
    data.hWnd = b.window != nullptr ? b.window : b.hub;
    data.uID = kTrayIconId;
    data.uFlags = flags;
    data.uCallbackMessage = kTrayMessage;
    data.hIcon = LoadIconResource(tray.icon, true);
    CopyText(data.szTip, std::size(data.szTip), tray.tip);
    CopyText(data.szInfoTitle, std::size(data.szInfoTitle), tray.balloonTitle);
    CopyText(data.szInfo, std::size(data.szInfo), tray.balloonText);
  }
  data.dwInfoFlags = NIIF_INFO;
  data.uTimeout = 5000;
  return data.hWnd != nullptr && Shell_NotifyIconW(action, &data) != 0;
}

void RemoveTrayIcon() {
  Backend& b = State();
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(data);
  {
    std::lock_guard<std::mutex> lock(b.mutex);
    if (!state::Shared().tray.added) return;
    data.hWnd = b.window != nullptr ? b.window : b.hub;
  }
  data.uID = kTrayIconId;
  Shell_NotifyIconW(NIM_DELETE, &data);
}

std::wstring WindowText(HWND window) {
  int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), length + 1)));
  return text;
}

// The window procedure's size handling: the status list above the status
// bar, the message list between the button and the status list, both the
// outer width less 10 pixels.
void LayOut(HWND window) {
  Backend& b = State();
  RECT outer;
  GetWindowRect(window, &outer);
  const int width = outer.right - outer.left;
  const int height = outer.bottom - outer.top;
  if (b.statusList != nullptr) MoveWindow(b.statusList, 2, height - 190, width - 10, 125, TRUE);
  if (b.list != nullptr) MoveWindow(b.list, 2, 70, width - 10, height - 270, TRUE);
  if (b.statusBar != nullptr) SendMessageW(b.statusBar, WM_SIZE, 0, 0);
}

// LVN_GETDISPINFO: the owner-data list asks for one column of one row. The
// five columns of the last row asked for are kept, since the list asks for
// them one by one.
void FillListItem(NMLVDISPINFOW* info) {
  if ((info->item.mask & LVIF_TEXT) == 0 || info->item.pszText == nullptr || info->item.cchTextMax <= 0) return;
  Backend& b = State();
  const int row = info->item.iItem;
  MessageRowProvider provider;
  {
    std::lock_guard<std::mutex> lock(b.mutex);
    if (row != b.cachedRow) provider = state::Shared().rowProvider;
  }
  if (provider) {
    std::vector<std::wstring> columns = provider(row);
    std::lock_guard<std::mutex> lock(b.mutex);
    b.cachedRow = row;
    b.cachedColumns = std::move(columns);
  }
  std::lock_guard<std::mutex> lock(b.mutex);
  const size_t column = static_cast<size_t>(info->item.iSubItem);
  CopyText(info->item.pszText, static_cast<size_t>(info->item.cchTextMax),
           row == b.cachedRow && column < b.cachedColumns.size() ? b.cachedColumns[column] : std::wstring());
}

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kTaskMessage: {
      state::RunAllPosted();
      int exitCode = 0;
      // Ends a message box's or dialog's own loop too.
      if (state::QuitAsked(&exitCode)) PostQuitMessage(exitCode);
      return 0;
    }
    case WM_TIMER:
      RunTimer(window, wParam);
      return 0;
    case kTrayMessage: {
      const int code = static_cast<int>(LOWORD(lParam));
      if (code == kTrayDoubleClick) NoteUserInput();
      if (std::function<void(int)> handler = state::TrayHandler()) handler(code);
      return 0;
    }
    default:
      break;
  }
  if (window != MainWindow()) return DefWindowProcW(window, message, wParam, lParam);
  switch (message) {
    case WM_DESTROY:
      PostQuit(0);
      return 0;
    case WM_SIZE:
      LayOut(window);
      if (wParam == SIZE_MINIMIZED) {
        if (std::function<void()> minimise = state::Events().minimise) minimise();
      }
      return 0;
    case WM_CLOSE:
      if (std::function<void()> close = state::Events().close) {
        close();
      } else {
        DestroyWindow(window);
      }
      return 0;
    case WM_SHOWWINDOW:
      return 0;
    case WM_NOTIFY: {
      const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->idFrom != kMessageListId) break;
      if (header->code == LVN_GETDISPINFOW) {
        FillListItem(reinterpret_cast<NMLVDISPINFOW*>(lParam));
        return 0;
      }
      if (header->code == NM_DBLCLK) {
        const int row = static_cast<int>(SendMessageW(header->hwndFrom, LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                                      LVNI_SELECTED));
        std::function<void(int)> activated = state::Events().rowActivated;
        if (row >= 0 && activated) activated(row);
        return 0;
      }
      break;
    }
    case WM_COMMAND: {
      // A menu item or accelerator (no control), or the exchange button.
      const bool fromControl = lParam != 0;
      if (fromControl && HIWORD(wParam) != BN_CLICKED) break;
      if (std::function<void(int)> command = state::Events().command) {
        command(static_cast<int>(LOWORD(wParam)));
        return 0;
      }
      break;
    }
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// The message-only window of the user-interface thread, made by the first
// CreateMainWindow or RunMessageLoop; the timers and tasks waiting for it
// are taken up.
void EnsureHub() {
  Backend& b = State();
  {
    std::lock_guard<std::mutex> lock(b.mutex);
    if (b.hub != nullptr) return;
  }
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW hubClass{};
  hubClass.cbSize = sizeof(hubClass);
  hubClass.lpfnWndProc = WindowProcedure;
  hubClass.hInstance = instance;
  hubClass.lpszClassName = L"TessarinTasks";
  RegisterClassExW(&hubClass);
  HWND hub = CreateWindowExW(0, L"TessarinTasks", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
  bool waiting;
  {
    std::lock_guard<std::mutex> lock(b.mutex);
    b.hub = hub;
    b.uiThread = GetCurrentThreadId();
    waiting = !state::Shared().posted.empty();
  }
  for (int id : state::TimerIds()) SyncTimer(id);
  if (waiting && hub != nullptr) PostMessageW(hub, kTaskMessage, 0, 0);
}

HFONT MessageFont() {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
    return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  }
  return CreateFontIndirectW(&metrics.lfMessageFont);
}

void CreateControls(HWND window, HINSTANCE instance, int width) {
  Backend& b = State();
  HFONT font = MessageFont();
  HWND button = CreateWindowExW(0, L"button", L"Получить сообщения", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 20, 20,
                                200, 30, window, reinterpret_cast<HMENU>(kExchangeButtonId), instance, nullptr);
  HWND list = CreateWindowExW(0, WC_LISTVIEWW, L"",
                              WS_CHILD | WS_VISIBLE | WS_BORDER | WS_HSCROLL | WS_VSCROLL | LVS_REPORT |
                                  LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_OWNERDATA,
                              2, 70, width - 10, 330, window, reinterpret_cast<HMENU>(kMessageListId), instance,
                              nullptr);
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.pszText = const_cast<wchar_t*>(kColumns[i].title);
    column.cx = kColumns[i].width;
    column.iSubItem = i;
    SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
  }
  HWND statusList = CreateWindowExW(0, L"listbox", L"", WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_BORDER, 0, 0, 0,
                                    0, window, nullptr, instance, nullptr);
  HWND statusBar = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, window,
                                   reinterpret_cast<HMENU>(kStatusBarId), instance, nullptr);
  for (HWND control : {button, list, statusList, statusBar}) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  std::lock_guard<std::mutex> lock(b.mutex);
  b.font = font;
  b.button = button;
  b.list = list;
  b.statusList = statusList;
  b.statusBar = statusBar;
  state::Shared().controls.buttonVisible = true;
  state::Shared().controls.buttonEnabled = true;
  state::Shared().controls.listVisible = true;
}

}  // namespace

void* MainWindowHandle() { return MainWindow(); }

bool CreateMainWindow(const std::wstring& title, int width, int height) {
  EnsureHub();
  INITCOMMONCONTROLSEX common{sizeof(common), ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&common);
  HINSTANCE instance = GetModuleHandleW(nullptr);
  // The class is named after the title in capitals: "TESSARIN", the
  // updater's "UPDATE".
  std::wstring className = title;
  CharUpperBuffW(className.data(), static_cast<DWORD>(className.size()));
  const bool hasMenu = FindResourceW(instance, MAKEINTRESOURCEW(kMenuAndAccelerators), RT_MENU) != nullptr;
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = WindowProcedure;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconResource(kLargeIcon, false);
  windowClass.hIconSm = LoadIconResource(kSmallIcon, true);
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszMenuName = hasMenu ? MAKEINTRESOURCEW(kMenuAndAccelerators) : nullptr;
  windowClass.lpszClassName = className.c_str();
  RegisterClassExW(&windowClass);

  // A window without a size (the updater's, never shown) is a message-only
  // window, which needs no desktop; the client's is centred on the primary
  // screen and gets its controls.
  const bool bare = width <= 0 || height <= 0;
  const int x = bare ? 0 : (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int y = bare ? 0 : (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  HWND window = CreateWindowExW(0, className.c_str(), title.c_str(),
                                WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX, x, y,
                                bare ? 0 : width, bare ? 0 : height, bare ? HWND_MESSAGE : nullptr, nullptr,
                                instance, nullptr);
  if (window == nullptr) return false;
  state::NoteWindowMade(title);
  {
    Backend& b = State();
    std::lock_guard<std::mutex> lock(b.mutex);
    b.window = window;
    b.accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(kMenuAndAccelerators));
  }
  if (!bare) {
    CreateControls(window, instance, width);
    LayOut(window);
  }
  // The timers set so far ran on the message-only window (this thread's).
  HWND hub = State().hub;
  for (int id : state::TimerIds()) {
    if (hub != nullptr) ::KillTimer(hub, static_cast<UINT_PTR>(id));
    SyncTimer(id);
  }
  return true;
}

void SetTitle(const std::wstring& title) {
  state::NoteTitle(title);
  OnUi([title]() {
    if (HWND window = MainWindow()) SetWindowTextW(window, title.c_str());
  });
}

std::wstring Title() {
  HWND window = MainWindow();
  if (window != nullptr && OnUserInterfaceThread()) return WindowText(window);
  state::Record& r = state::Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.title;
}

void ShowMainWindow(Show how) {
  std::wstring title;
  const bool appeared = state::NoteShown(how, &title);
  OnUi([how]() {
    HWND window = MainWindow();
    if (window == nullptr) return;
    ShowWindow(window, how == Show::Hide ? SW_HIDE : how == Show::Maximized ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL);
    UpdateWindow(window);
  });
  if (appeared) console::Print(L"=== " + title + L" ===");
}

bool MainWindowVisible() {
  HWND window = MainWindow();
  if (window != nullptr && OnUserInterfaceThread()) return IsWindowVisible(window) != 0;
  state::Record& r = state::Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.visible;
}

void BringToFront() {
  OnUi([]() {
    if (HWND window = MainWindow()) SetForegroundWindow(window);
  });
}

void StatusListInsertTop(const std::wstring& line) {
  const bool visible = state::NoteStatusLine(line);
  OnUi([line]() {
    Backend& b = State();
    if (b.statusList == nullptr) return;
    SendMessageW(b.statusList, LB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    // Shown at once, even while the thread goes on working.
    UpdateWindow(b.statusList);
  });
  if (visible) console::Print(line);
}

void StatusListRemoveTop() {
  state::NoteStatusLineRemoved();
  OnUi([]() {
    Backend& b = State();
    if (b.statusList != nullptr) SendMessageW(b.statusList, LB_DELETESTRING, 0, 0);
  });
}

void StatusListClear() {
  state::NoteStatusCleared();
  OnUi([]() {
    Backend& b = State();
    if (b.statusList != nullptr) SendMessageW(b.statusList, LB_RESETCONTENT, 0, 0);
  });
}

std::vector<std::wstring> StatusListLines() {
  Backend& b = State();
  if (OnUserInterfaceThread() && b.statusList != nullptr) {
    std::vector<std::wstring> lines;
    const int count = static_cast<int>(SendMessageW(b.statusList, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
      std::wstring line(static_cast<size_t>(SendMessageW(b.statusList, LB_GETTEXTLEN, i, 0)) + 1, L'\0');
      line.resize(static_cast<size_t>(
          SendMessageW(b.statusList, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line.data()))));
      lines.push_back(std::move(line));
    }
    return lines;
  }
  return state::StatusLines();
}

void SetStatusBarText(const std::wstring& text) {
  state::NoteStatusBar(text);
  OnUi([text]() {
    Backend& b = State();
    if (b.statusBar != nullptr) SendMessageW(b.statusBar, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(text.c_str()));
  });
}

std::wstring StatusBarText() {
  Backend& b = State();
  if (OnUserInterfaceThread() && b.statusBar != nullptr) {
    std::wstring text(static_cast<size_t>(LOWORD(SendMessageW(b.statusBar, SB_GETTEXTLENGTHW, 0, 0))) + 1, L'\0');
    text.resize(static_cast<size_t>(LOWORD(SendMessageW(b.statusBar, SB_GETTEXTW, 0,
                                                        reinterpret_cast<LPARAM>(text.data())))));
    return text;
  }
  state::Record& r = state::Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.statusBar;
}

void SetExchangeButton(bool visible, bool enabled) {
  state::NoteButton(visible, enabled);
  OnUi([visible, enabled]() {
    Backend& b = State();
    if (b.button == nullptr) return;
    ShowWindow(b.button, visible ? SW_SHOW : SW_HIDE);
    EnableWindow(b.button, enabled ? TRUE : FALSE);
  });
}

void SetMessageListVisible(bool visible) {
  state::NoteListVisible(visible);
  OnUi([visible]() {
    Backend& b = State();
    if (b.list != nullptr) ShowWindow(b.list, visible ? SW_SHOW : SW_HIDE);
  });
}

void SetMessageRowProvider(MessageRowProvider provider) {
  Backend& b = State();
  std::lock_guard<std::mutex> lock(b.mutex);
  state::Shared().rowProvider = std::move(provider);
  b.cachedRow = -1;
}

void SetMessageListCount(int count) {
  state::NoteRowCount(count);
  Backend& b = State();
  {
    std::lock_guard<std::mutex> lock(b.mutex);
    b.cachedRow = -1;
  }
  OnUi([count]() {
    Backend& b = State();
    {
      std::lock_guard<std::mutex> lock(b.mutex);
      b.cachedRow = -1;
    }
    // The rows on screen are asked for again.
    if (b.list != nullptr) SendMessageW(b.list, LVM_SETITEMCOUNT, static_cast<WPARAM>(count), 0);
  });
}

std::vector<std::wstring> MessageListRow(int row) {
  Backend& b = State();
  if (OnUserInterfaceThread() && b.list != nullptr) {
    if (row < 0 || row >= static_cast<int>(SendMessageW(b.list, LVM_GETITEMCOUNT, 0, 0))) return {};
    std::vector<std::wstring> columns;
    for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i) {
      wchar_t text[512] = {};
      LVITEMW item{};
      item.iSubItem = i;
      item.pszText = text;
      item.cchTextMax = static_cast<int>(std::size(text));
      SendMessageW(b.list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
      columns.emplace_back(text);
    }
    return columns;
  }
  return state::RowFromProvider(row);
}

ControlsState Controls() {
  Backend& b = State();
  if (OnUserInterfaceThread() && b.button != nullptr && b.list != nullptr) {
    ControlsState state;
    state.buttonVisible = (GetWindowLongW(b.button, GWL_STYLE) & WS_VISIBLE) != 0;
    state.buttonEnabled = IsWindowEnabled(b.button) != 0;
    state.listVisible = (GetWindowLongW(b.list, GWL_STYLE) & WS_VISIBLE) != 0;
    state.rowCount = static_cast<int>(SendMessageW(b.list, LVM_GETITEMCOUNT, 0, 0));
    return state;
  }
  state::Record& r = state::Shared();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.controls;
}

bool TrayAdd(int icon, const std::wstring& tip) {
  state::NoteTrayAdded(icon, tip);
  if (OnUserInterfaceThread()) return NotifyTray(NIM_ADD, NIF_MESSAGE | NIF_ICON | NIF_TIP);
  Post([]() { NotifyTray(NIM_ADD, NIF_MESSAGE | NIF_ICON | NIF_TIP); });
  return true;
}

void TrayUpdate(const std::wstring& tip, int icon, bool changeIcon) {
  state::NoteTray(tip, icon, changeIcon);
  OnUi([changeIcon]() { NotifyTray(NIM_MODIFY, NIF_TIP | (changeIcon ? NIF_ICON : 0)); });
}

void TrayBalloon(const std::wstring& title, const std::wstring& text) {
  state::NoteBalloon(title, text);
  OnUi([]() { NotifyTray(NIM_MODIFY, NIF_INFO); });
  console::PrintBalloon(title, text);
}

uint32_t HandOverHandle() {
  // A window handle keeps its meaning in its low 32 bits, also in 64-bit
  // processes.
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(MainWindow()));
}

bool HandOverToRunningClient(uint32_t handle) {
  HWND window = reinterpret_cast<HWND>(static_cast<uintptr_t>(handle));
  if (handle == 0 || !IsWindow(window)) {
    SetLastSystemError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  if (IsWindowVisible(window)) return SetForegroundWindow(window) != 0;
  // The running client may then take the foreground from this one, which
  // the user has just started.
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  AllowSetForegroundWindow(process);
  if (PostMessageW(window, kTrayMessage, kTrayIconId, kTrayDoubleClick)) return true;
  SetLastSystemError(static_cast<int>(GetLastError()));
  return false;
}

Answer MessageBox(const std::wstring& text, const std::wstring& caption, Buttons buttons) {
  console::Print(console::MessageBoxLine(text, caption));
  const int answer = MessageBoxW(MainWindow(), text.c_str(), caption.c_str(),
                                 buttons == Buttons::YesNo ? MB_YESNO | MB_ICONQUESTION : MB_OK);
  if (buttons == Buttons::Ok) return Answer::Ok;
  return answer == IDYES ? Answer::Yes : Answer::No;
}

// The window's controls are the input; there is no console to read.
void StartConsoleInput(std::function<void(const std::wstring& line)>) {}

std::optional<std::wstring> ConsoleReadModal() { return std::nullopt; }

int64_t LastInputMs() {
  int64_t noted = console::NotedInputMs();
  LASTINPUTINFO input{};
  input.cbSize = sizeof(input);
  if (!GetLastInputInfo(&input)) return noted;
  // Both clocks count milliseconds since the system started; the 32-bit one
  // wraps every 49 days, the difference does not.
  const int64_t since = static_cast<int64_t>(static_cast<DWORD>(GetTickCount() - input.dwTime));
  return std::max(noted, MonotonicMs() - since);
}

void Post(Task task) {
  Backend& b = State();
  HWND hub;
  {
    std::lock_guard<std::mutex> lock(b.mutex);
    state::Shared().posted.push_back(std::move(task));
    hub = b.hub;
  }
  if (hub != nullptr) PostMessageW(hub, kTaskMessage, 0, 0);
}

bool SetTimer(int id, int periodMs, Task task) {
  if (periodMs <= 0) return false;
  state::StoreTimer(id, periodMs, std::move(task));
  OnUi([id]() { SyncTimer(id); });
  return true;
}

void KillTimer(int id) {
  state::DropTimer(id);
  OnUi([id]() { SyncTimer(id); });
}

namespace {

BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
    PostQuit(0);
    return TRUE;
  }
  return FALSE;
}

}  // namespace

void InstallSignalHandlers() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

int RunMessageLoop() {
  // Tasks posted before the message-only window existed have their message
  // now; the others run in the order of the queue, among the windows'
  // messages.
  EnsureHub();
  int exitCode = 0;
  MSG message;
  while (!state::QuitAsked(&exitCode)) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) {
      // A quit message of someone else's: its code, unless PostQuit came first.
      state::NoteQuit(static_cast<int>(message.wParam));
      continue;
    }
    if (got < 0) break;
    HWND window;
    HACCEL accelerators;
    {
      Backend& b = State();
      std::lock_guard<std::mutex> lock(b.mutex);
      window = b.window;
      accelerators = b.accelerators;
    }
    if (window != nullptr && accelerators != nullptr && TranslateAcceleratorW(window, accelerators, &message)) {
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  // No icon of a client that has ended stays in the tray; a quit message
  // still queued goes too.
  RemoveTrayIcon();
  PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
  state::QuitAsked(&exitCode);
  return exitCode;
}

void PostQuit(int exitCode) {
  state::NoteQuit(exitCode);
  Backend& b = State();
  HWND hub;
  {
    std::lock_guard<std::mutex> lock(b.mutex);
    hub = b.hub;
  }
  // Wakes the loop, and ends a message box's loop on the way.
  if (hub != nullptr) PostMessageW(hub, kTaskMessage, 0, 0);
}

void ResetForTest() {
  Backend& b = State();
  RemoveTrayIcon();
  HWND window;
  HWND hub;
  const std::vector<int> timers = state::TimerIds();
  {
    std::lock_guard<std::mutex> lock(b.mutex);
    window = b.window;
    hub = b.hub;
    b.window = b.button = b.list = b.statusList = b.statusBar = nullptr;
    b.accelerators = nullptr;
    b.cachedRow = -1;
  }
  state::Clear(false);
  for (int id : timers) {
    if (hub != nullptr) ::KillTimer(hub, static_cast<UINT_PTR>(id));
  }
  if (window != nullptr) DestroyWindow(window);
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
  }
  state::Clear(true);
}

}  // namespace platform::ui
