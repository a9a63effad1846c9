// Modal dialogs from the program's dialog resources on Windows (see
// dialog.h): DialogBoxParamW with a dialog procedure that hands the
// notifications to the shell's handlers, and the controls reached by their
// identifiers. Called by the shell's dialog windows on the user-interface
// thread.
#include "platform/dialog.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <set>

#include "platform/win32/wide.h"

// windows.h names MessageBoxW so; the layer's own MessageBox is meant here.
#undef MessageBox

namespace platform::dialog {

namespace {

// What one open dialog keeps: its handlers and the controls drawn in red.
struct OpenDialog {
  const Handlers* handlers = nullptr;
  std::set<int> redControls;
  std::set<int> colouredControls;
};

HWND Window(Dialog dialog) { return static_cast<HWND>(dialog); }
HWND Control(Dialog dialog, int control) { return GetDlgItem(Window(dialog), control); }

OpenDialog* StateOf(HWND window) { return reinterpret_cast<OpenDialog*>(GetWindowLongPtrW(window, DWLP_USER)); }

INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    OpenDialog* state = reinterpret_cast<OpenDialog*>(lParam);
    HWND focusBefore = GetFocus();
    if (state->handlers->init) state->handlers->init(window);
    // TRUE lets the system focus the first control; an init handler that
    // chose the focus itself keeps it.
    return GetFocus() == focusBefore ? TRUE : FALSE;
  }
  OpenDialog* state = StateOf(window);
  if (state == nullptr) return FALSE;
  const Handlers& handlers = *state->handlers;
  switch (message) {
    case WM_COMMAND: {
      int control = LOWORD(wParam);
      int code = HIWORD(wParam);
      if (handlers.command) {
        handlers.command(window, control, code);
      } else if (control == IDOK || control == IDCANCEL) {
        EndDialog(window, control);
      }
      return TRUE;
    }
    case WM_NOTIFY: {
      const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->code == NM_DBLCLK && handlers.rowActivated) {
        int row = reinterpret_cast<const NMITEMACTIVATE*>(lParam)->iItem;
        if (row >= 0) handlers.rowActivated(window, static_cast<int>(header->idFrom), row);
        return TRUE;
      }
      return FALSE;
    }
    case WM_CTLCOLORSTATIC: {
      int control = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
      if (state->colouredControls.count(control) == 0) return FALSE;
      HDC context = reinterpret_cast<HDC>(wParam);
      SetTextColor(context, state->redControls.count(control) != 0 ? RGB(255, 0, 0) : RGB(0, 0, 0));
      SetBkMode(context, TRANSPARENT);
      return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_CLOSE:
      if (handlers.close) {
        handlers.close(window);
      } else {
        EndDialog(window, IDCANCEL);
      }
      return TRUE;
    default:
      return FALSE;
  }
}

int CALLBACK BrowseCallback(HWND window, UINT message, LPARAM, LPARAM start) {
  if (message == BFFM_INITIALIZED && start != 0) SendMessageW(window, BFFM_SETSELECTIONW, TRUE, start);
  return 0;
}

}  // namespace

bool Available() { return ui::MainWindowHandle() != nullptr; }

int Run(int resource, const Handlers& handlers, Dialog owner) {
  static const bool controlsReady = [] {
    INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    return InitCommonControlsEx(&classes) != FALSE;
  }();
  (void)controlsReady;
  OpenDialog state;
  state.handlers = &handlers;
  HWND ownerWindow = owner != nullptr ? Window(owner) : static_cast<HWND>(ui::MainWindowHandle());
  INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(resource), ownerWindow,
                                   DialogProcedure, reinterpret_cast<LPARAM>(&state));
  return result == -1 ? kNotOpened : static_cast<int>(result);
}

void End(Dialog dialog, int value) { EndDialog(Window(dialog), value); }

void SetText(Dialog dialog, int control, const std::wstring& text) {
  SetDlgItemTextW(Window(dialog), control, text.c_str());
}

std::wstring Text(Dialog dialog, int control, int maxLength) {
  std::wstring text(static_cast<size_t>(maxLength) + 1, L'\0');
  UINT length = GetDlgItemTextW(Window(dialog), control, text.data(), maxLength + 1);
  text.resize(length);
  return text;
}

void Enable(Dialog dialog, int control, bool enabled) { EnableWindow(Control(dialog, control), enabled); }
bool Enabled(Dialog dialog, int control) { return IsWindowEnabled(Control(dialog, control)) != FALSE; }

void Check(Dialog dialog, int control, bool checked) {
  CheckDlgButton(Window(dialog), control, checked ? BST_CHECKED : BST_UNCHECKED);
}
bool Checked(Dialog dialog, int control) { return IsDlgButtonChecked(Window(dialog), control) == BST_CHECKED; }

void ComboAdd(Dialog dialog, int control, const std::wstring& text) {
  SendDlgItemMessageW(Window(dialog), control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}
void ComboSelect(Dialog dialog, int control, int index) {
  SendDlgItemMessageW(Window(dialog), control, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}
int ComboSelection(Dialog dialog, int control) {
  LRESULT index = SendDlgItemMessageW(Window(dialog), control, CB_GETCURSEL, 0, 0);
  return index == CB_ERR ? -1 : static_cast<int>(index);
}

void ListColumns(Dialog dialog, int control, const std::vector<Column>& columns) {
  HWND list = Control(dialog, control);
  ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
  for (size_t i = 0; i < columns.size(); ++i) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.pszText = const_cast<wchar_t*>(columns[i].title.c_str());
    column.cx = columns[i].width;
    column.iSubItem = static_cast<int>(i);
    SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
  }
}

void ListAddRow(Dialog dialog, int control, const std::vector<std::wstring>& texts) {
  HWND list = Control(dialog, control);
  LVITEMW item{};
  item.mask = LVIF_TEXT;
  item.iItem = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  item.pszText = const_cast<wchar_t*>(texts.empty() ? L"" : texts[0].c_str());
  int row = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
  for (size_t i = 1; i < texts.size() && row >= 0; ++i) {
    LVITEMW sub{};
    sub.iSubItem = static_cast<int>(i);
    sub.pszText = const_cast<wchar_t*>(texts[i].c_str());
    SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&sub));
  }
}

int ListSelection(Dialog dialog, int control) {
  return static_cast<int>(
      SendMessageW(Control(dialog, control), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void Focus(Dialog dialog, int control) {
  SendMessageW(Window(dialog), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Control(dialog, control)), TRUE);
}

void SetTextRed(Dialog dialog, int control, bool red) {
  OpenDialog* state = StateOf(Window(dialog));
  if (state == nullptr) return;
  state->colouredControls.insert(control);
  if (red) {
    state->redControls.insert(control);
  } else {
    state->redControls.erase(control);
  }
  InvalidateRect(Control(dialog, control), nullptr, TRUE);
}

ui::Answer MessageBox(Dialog dialog, const std::wstring& text, const std::wstring& caption, ui::Buttons buttons) {
  UINT style = buttons == ui::Buttons::YesNo ? MB_YESNO | MB_ICONQUESTION : MB_OK;
  int answer = MessageBoxW(Window(dialog), text.c_str(), caption.c_str(), style);
  if (buttons == ui::Buttons::Ok) return ui::Answer::Ok;
  return answer == IDYES ? ui::Answer::Yes : ui::Answer::No;
}

std::optional<std::string> BrowseFolder(Dialog dialog, const std::wstring& title, const std::string& start) {
  // The new dialog style needs COM on this thread; a thread that has it
  // already keeps its own.
  HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  std::wstring startWide = win32::Wide(start);
  // The picker selects a folder given without its closing separator.
  while (startWide.size() > 3 && (startWide.back() == L'\\' || startWide.back() == L'/')) startWide.pop_back();
  LPITEMIDLIST drives = nullptr;
  SHGetSpecialFolderLocation(Window(dialog), CSIDL_DRIVES, &drives);
  BROWSEINFOW browse{};
  browse.hwndOwner = Window(dialog);
  browse.pidlRoot = drives;
  browse.lpszTitle = title.c_str();
  browse.ulFlags = BIF_NEWDIALOGSTYLE | BIF_RETURNONLYFSDIRS;
  browse.lpfn = BrowseCallback;
  browse.lParam = startWide.empty() ? 0 : reinterpret_cast<LPARAM>(startWide.c_str());
  LPITEMIDLIST chosen = SHBrowseForFolderW(&browse);
  std::optional<std::string> path;
  if (chosen != nullptr) {
    wchar_t buffer[MAX_PATH] = {};
    if (SHGetPathFromIDListW(chosen, buffer)) path = win32::Narrow(std::wstring(buffer));
    CoTaskMemFree(chosen);
  }
  if (drives != nullptr) CoTaskMemFree(drives);
  if (SUCCEEDED(com)) CoUninitialize();
  return path;
}

void EnableMainWindow(bool enabled) {
  if (HWND main = static_cast<HWND>(ui::MainWindowHandle())) EnableWindow(main, enabled);
}

}  // namespace platform::dialog
