// window_probe.exe: looks at the running client's main window from outside,
// as a user (or a second program) would, for the GUI tests under Wine
// (wine_window.sh, wine_client_sim.sh). Every command waits up to 30 s for
// the window of class "TESSARIN"; its output is UTF-8, one fact per line.
//
//   window_probe dump               title, visibility, columns, rows, status lines, status bar, button
//   window_probe visible 0|1        waits until the window is hidden (0) or shown (1)
//   window_probe command ID         posts a menu command or the exchange button (100)
//   window_probe tray CODE          posts the tray notification (0x203 double-click)
//   window_probe dblclick ROW       double-clicks the row of the message list with the mouse
//   window_probe rows N             waits until the message list holds N rows
//   window_probe balloon            waits until a balloon shows on the desktop (the tray's
//                                   balloon tooltip)
//   window_probe msgbox TEXT yes|no|ok|none   waits for a message box of the client whose
//                                   text holds TEXT, prints its text and presses the button
//                                   (none: presses nothing)
//
// The common controls' messages carry pointers that Windows does not carry
// across processes, so their buffers are made in the client's memory.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void Print(const std::wstring& text) {
  int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                   nullptr);
  std::string bytes(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), length, nullptr,
                      nullptr);
  bytes += '\n';
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

[[noreturn]] void Fail(const std::wstring& why) {
  Print(L"FAILED: " + why);
  std::exit(1);
}

template <typename Check>
bool WaitFor(Check check) {
  for (int i = 0; i < 300; ++i) {
    if (check()) return true;
    Sleep(100);
  }
  return false;
}

HWND MainWindow() {
  HWND window = nullptr;
  if (!WaitFor([&] { return (window = FindWindowW(L"TESSARIN", nullptr)) != nullptr; })) {
    Fail(L"no window of class TESSARIN");
  }
  return window;
}

HWND Child(HWND parent, const wchar_t* className) {
  return FindWindowExW(parent, nullptr, className, nullptr);
}

// A buffer in the memory of the window's process.
class Remote {
 public:
  Remote(HWND window, size_t size) : size_(size) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process_ == nullptr) Fail(L"OpenProcess");
    memory_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    if (memory_ == nullptr) Fail(L"VirtualAllocEx");
  }
  ~Remote() {
    VirtualFreeEx(process_, memory_, 0, MEM_RELEASE);
    CloseHandle(process_);
  }
  Remote(const Remote&) = delete;
  Remote& operator=(const Remote&) = delete;
  char* At(size_t offset) const { return static_cast<char*>(memory_) + offset; }
  void Write(size_t offset, const void* data, size_t size) const {
    WriteProcessMemory(process_, At(offset), data, size, nullptr);
  }
  void Read(size_t offset, void* data, size_t size) const {
    ReadProcessMemory(process_, At(offset), data, size, nullptr);
  }
  std::wstring Text(size_t offset) const {
    std::vector<wchar_t> text((size_ - offset) / sizeof(wchar_t), L'\0');
    Read(offset, text.data(), text.size() * sizeof(wchar_t));
    text.back() = L'\0';
    return text.data();
  }

 private:
  size_t size_;
  HANDLE process_ = nullptr;
  void* memory_ = nullptr;
};

constexpr size_t kTextAt = 512;  // where the text buffer starts in a Remote
constexpr size_t kTextChars = 512;

std::wstring ColumnOf(HWND list, int index, int* width) {
  Remote remote(list, kTextAt + kTextChars * sizeof(wchar_t));
  LVCOLUMNW column{};
  column.mask = LVCF_TEXT | LVCF_WIDTH;
  column.pszText = reinterpret_cast<wchar_t*>(remote.At(kTextAt));
  column.cchTextMax = kTextChars;
  remote.Write(0, &column, sizeof(column));
  if (!SendMessageW(list, LVM_GETCOLUMNW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(remote.At(0)))) {
    return L"";
  }
  remote.Read(0, &column, sizeof(column));
  *width = column.cx;
  return remote.Text(kTextAt);
}

std::wstring ItemText(HWND list, int row, int column) {
  Remote remote(list, kTextAt + kTextChars * sizeof(wchar_t));
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = reinterpret_cast<wchar_t*>(remote.At(kTextAt));
  item.cchTextMax = kTextChars;
  remote.Write(0, &item, sizeof(item));
  SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote.At(0)));
  return remote.Text(kTextAt);
}

// The text of a window of the client: asked of the window itself, since
// an edit field's text is no caption that the system keeps.
std::wstring WindowText(HWND window) {
  std::wstring text(4096, L'\0');
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                           2000, &length)) {
    length = static_cast<DWORD_PTR>(GetWindowTextW(window, text.data(), static_cast<int>(text.size())));
  }
  text.resize(std::min<size_t>(length, text.size()));
  return text;
}

int RowCount(HWND list) { return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); }

void Dump(HWND window) {
  Print(L"title=" + WindowText(window));
  Print(L"visible=" + std::to_wstring(IsWindowVisible(window) ? 1 : 0));
  HWND button = Child(window, L"Button");
  Print(L"button=" + WindowText(button) + L" visible=" + std::to_wstring(IsWindowVisible(button) ? 1 : 0) +
        L" enabled=" + std::to_wstring(IsWindowEnabled(button) ? 1 : 0));
  HWND list = Child(window, WC_LISTVIEWW);
  for (int i = 0;; ++i) {
    int width = 0;
    std::wstring title = ColumnOf(list, i, &width);
    if (title.empty()) break;
    Print(L"column=" + title + L" " + std::to_wstring(width));
  }
  const int rows = RowCount(list);
  Print(L"rows=" + std::to_wstring(rows));
  // The first rows and the last, which an owner-data list makes only when asked.
  for (int row = 0; row < rows; row = row < 2 ? row + 1 : (row < rows - 1 ? rows - 1 : rows)) {
    std::wstring line = L"row " + std::to_wstring(row) + L"=";
    for (int column = 0; column < 5; ++column) line += (column ? L" | " : L"") + ItemText(list, row, column);
    Print(line);
  }
  // The list box's text is carried across processes by the system.
  HWND statusList = Child(window, L"ListBox");
  const int lines = static_cast<int>(SendMessageW(statusList, LB_GETCOUNT, 0, 0));
  for (int i = 0; i < lines; ++i) {
    wchar_t text[1024] = {};
    if (SendMessageW(statusList, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0) < 1024) {
      SendMessageW(statusList, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
    }
    Print(L"status=" + std::wstring(text));
  }
  HWND statusBar = Child(window, STATUSCLASSNAMEW);
  Remote remote(statusBar, kTextAt + kTextChars * sizeof(wchar_t));
  SendMessageW(statusBar, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(remote.At(kTextAt)));
  Print(L"statusbar=" + remote.Text(kTextAt));
}

// A message box of the client's process whose text holds `part`.
struct BoxSearch {
  DWORD pid;
  std::wstring part;
  HWND found = nullptr;
  std::wstring text;
};

BOOL CALLBACK LookAtStatic(HWND child, LPARAM data) {
  auto* search = reinterpret_cast<BoxSearch*>(data);
  std::wstring text = WindowText(child);
  if (text.find(search->part) == std::wstring::npos) return TRUE;
  search->text = text;
  return FALSE;
}

BOOL CALLBACK LookAtWindow(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<BoxSearch*>(data);
  wchar_t className[64] = {};
  GetClassNameW(window, className, 64);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != search->pid || std::wstring(className) != L"#32770" || !IsWindowVisible(window)) return TRUE;
  EnumChildWindows(window, LookAtStatic, data);
  if (search->text.empty()) return TRUE;
  search->found = window;
  return FALSE;
}

void PressInMessageBox(HWND main, const std::wstring& part, const std::string& answer) {
  BoxSearch search;
  GetWindowThreadProcessId(main, &search.pid);
  search.part = part;
  if (!WaitFor([&] {
        EnumWindows(LookAtWindow, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
      })) {
    Fail(L"no message box with \"" + part + L"\"");
  }
  Print(L"msgbox=" + search.text);
  if (answer == "none") return;
  const int id = answer == "yes" ? IDYES : answer == "no" ? IDNO : IDOK;
  PostMessageW(search.found, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
}

// Clicks the controls `ids` in turn, as the user would (a check box
// toggles), in the client's dialog titled `title`.
void ClickInDialog(HWND main, const std::wstring& title, const std::vector<int>& ids) {
  DWORD pid = 0;
  GetWindowThreadProcessId(main, &pid);
  HWND dialog = nullptr;
  if (!WaitFor([&] {
        dialog = FindWindowW(L"#32770", title.c_str());
        DWORD owner = 0;
        if (dialog != nullptr) GetWindowThreadProcessId(dialog, &owner);
        return dialog != nullptr && owner == pid && IsWindowVisible(dialog);
      })) {
    Fail(L"no dialog \"" + title + L"\"");
  }
  Print(L"dialog=" + title);
  for (int id : ids) {
    HWND control = GetDlgItem(dialog, id);
    if (control == nullptr) Fail(L"no control " + std::to_wstring(id));
    if (!WaitFor([&] { return IsWindowEnabled(control) != 0; })) Fail(L"control " + std::to_wstring(id) + L" stays disabled");
    SendMessageW(control, BM_CLICK, 0, 0);
  }
}

BOOL CALLBACK LookForBalloon(HWND window, LPARAM found) {
  wchar_t className[64] = {};
  GetClassNameW(window, className, 64);
  if (std::wstring(className) != TOOLTIPS_CLASSW || !IsWindowVisible(window) ||
      (GetWindowLongW(window, GWL_STYLE) & TTS_BALLOON) == 0) {
    return TRUE;
  }
  *reinterpret_cast<bool*>(found) = true;
  return FALSE;
}

void DoubleClickRow(HWND window, int row) {
  HWND list = Child(window, WC_LISTVIEWW);
  Remote remote(list, sizeof(RECT));
  RECT rect{};
  rect.left = LVIR_LABEL;
  remote.Write(0, &rect, sizeof(rect));
  if (!SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote.At(0)))) {
    Fail(L"row " + std::to_wstring(row) + L" is not on screen");
  }
  remote.Read(0, &rect, sizeof(rect));
  const LPARAM at = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
  PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageW(list, WM_LBUTTONUP, 0, at);
  PostMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
  PostMessageW(list, WM_LBUTTONUP, 0, at);
}

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);  // lines end in LF, as the scripts read them
  if (argc < 2) Fail(L"usage: window_probe dump|visible|command|tray|dblclick|rows|balloon|msgbox|dialog ...");
  const std::string command = argv[1];
  const std::string argument = argc > 2 ? argv[2] : "";
  HWND window = MainWindow();
  if (command == "dump") {
    Dump(window);
  } else if (command == "visible") {
    const bool wanted = argument == "1";
    if (!WaitFor([&] { return (IsWindowVisible(window) != 0) == wanted; })) {
      Fail(L"the window is not " + std::wstring(wanted ? L"shown" : L"hidden"));
    }
    Print(L"visible=" + std::to_wstring(wanted ? 1 : 0));
  } else if (command == "command") {
    const int id = std::atoi(argument.c_str());
    HWND button = Child(window, L"Button");
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, id == 100 ? BN_CLICKED : 0),
                 id == 100 ? reinterpret_cast<LPARAM>(button) : 0);
  } else if (command == "tray") {
    PostMessageW(window, WM_APP, 1, std::strtol(argument.c_str(), nullptr, 0));
  } else if (command == "dblclick") {
    DoubleClickRow(window, std::atoi(argument.c_str()));
  } else if (command == "rows") {
    const int wanted = std::atoi(argument.c_str());
    HWND list = Child(window, WC_LISTVIEWW);
    if (!WaitFor([&] { return RowCount(list) == wanted; })) {
      Fail(L"the list holds " + std::to_wstring(RowCount(list)) + L" rows");
    }
  } else if (command == "balloon") {
    bool found = false;
    if (!WaitFor([&] {
          EnumWindows(LookForBalloon, reinterpret_cast<LPARAM>(&found));
          return found;
        })) {
      Fail(L"no balloon shows");
    }
  } else if (command == "dialog" && argc > 3) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<int> ids;
    for (int i = 3; i < argc; ++i) ids.push_back(std::atoi(argv[i]));
    ClickInDialog(window, count > 2 ? wide[2] : L"", ids);
  } else if (command == "msgbox" && argc > 3) {
    // The text as typed: argv is in the ANSI code page.
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    PressInMessageBox(window, count > 2 ? wide[2] : L"", argv[3]);
  } else {
    Fail(L"unknown command");
  }
  return 0;
}
