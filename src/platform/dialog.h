// Modal dialogs built from the dialog resources of the program, and the
// controls inside them. The shell's dialog windows (shell/dialog_windows.*)
// are the callers; this layer knows only resource and control identifiers.
//
// On Windows a dialog is a real modal dialog owned by the main window (or
// by the dialog that opened it). Headless (Linux) nothing opens: Run
// returns kNotOpened at once and the console drives the dialogs' models
// itself.
//
// Threads: Run and every handler run on the user-interface thread; the
// control functions are called from the handlers, with the dialog they got.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui.h"

namespace platform::dialog {

// An open dialog as its handlers get it; valid until the dialog has ended.
using Dialog = void*;

// Notification codes of Handlers::command.
constexpr int kClicked = 0;           // a button or check box was clicked
constexpr int kSelectionChanged = 1;  // a combo box's selection changed

// What Run returns when the dialog could not be opened (headless, or no
// such resource).
constexpr int kNotOpened = -1;

struct Handlers {
  // Once the controls exist, before the dialog is shown.
  std::function<void(Dialog)> init;
  // A control's notification (kClicked, kSelectionChanged, others as the
  // system gives them). Enter and Esc arrive as clicks of the controls 1
  // and 2, whether the dialog has such buttons or not.
  std::function<void(Dialog, int control, int code)> command;
  // A double-click on a row of a report-view list.
  std::function<void(Dialog, int control, int row)> rowActivated;
  // The title bar's close button. Without a handler the dialog ends with 2.
  std::function<void(Dialog)> close;
};

// Whether dialogs open as windows: true on Windows once the main window is
// a real window, false headless. The shell chooses between a dialog window
// and the console's face of the same model by it.
bool Available();

// Opens the dialog of the resource and returns when it has ended, with the
// value given to End. The owner is the dialog given, else the main window
// (none while it does not exist); the owner is disabled while the dialog is
// open.
int Run(int resource, const Handlers& handlers, Dialog owner = nullptr);

// Ends the dialog; Run returns the value.
void End(Dialog dialog, int value);

// Texts of edit fields, static texts and buttons. Text reads at most
// maxLength characters.
void SetText(Dialog dialog, int control, const std::wstring& text);
std::wstring Text(Dialog dialog, int control, int maxLength);

void Enable(Dialog dialog, int control, bool enabled);
bool Enabled(Dialog dialog, int control);

// Check boxes.
void Check(Dialog dialog, int control, bool checked);
bool Checked(Dialog dialog, int control);

// Drop-down lists: entries added at the end; -1 selects none; Selection is
// -1 when none is selected.
void ComboAdd(Dialog dialog, int control, const std::wstring& text);
void ComboSelect(Dialog dialog, int control, int index);
int ComboSelection(Dialog dialog, int control);

// Report-view lists: the columns (widths in pixels) are set once, rows are
// added at the end with one text per column; rows are selected whole.
struct Column {
  std::wstring title;
  int width = 0;
};
void ListColumns(Dialog dialog, int control, const std::vector<Column>& columns);
void ListAddRow(Dialog dialog, int control, const std::vector<std::wstring>& texts);
// The selected row, -1 none.
int ListSelection(Dialog dialog, int control);

// Gives the control the keyboard focus.
void Focus(Dialog dialog, int control);

// Draws the text of a static text or read-only field in red (or black
// again) on a transparent background over the button-face colour.
void SetTextRed(Dialog dialog, int control, bool red);

// A message box owned by the dialog: the dialog stays open and inactive
// until it is answered. A Yes/No box carries the question icon.
ui::Answer MessageBox(Dialog dialog, const std::wstring& text, const std::wstring& caption, ui::Buttons buttons);

// The system's folder picker, owned by the dialog: the new dialog style,
// rooted at the computer's drives, with the title given; the start folder
// (UTF-8), when not empty, is selected once the picker has initialised.
// Returns the chosen folder (UTF-8), nothing when cancelled.
std::optional<std::string> BrowseFolder(Dialog dialog, const std::wstring& title, const std::string& start);

// Enables or disables the main window (nothing while it does not exist).
void EnableMainWindow(bool enabled);

}  // namespace platform::dialog
