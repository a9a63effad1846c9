// The dialogs of the headless user interface on Linux (see dialog.h):
// nothing opens, since the console drives the dialogs' models itself.
#include "platform/dialog.h"

namespace platform::dialog {

bool Available() { return false; }
int Run(int, const Handlers&, Dialog) { return kNotOpened; }
void End(Dialog, int) {}
void SetText(Dialog, int, const std::wstring&) {}
std::wstring Text(Dialog, int, int) { return std::wstring(); }
void Enable(Dialog, int, bool) {}
bool Enabled(Dialog, int) { return false; }
void Check(Dialog, int, bool) {}
bool Checked(Dialog, int) { return false; }
void ComboAdd(Dialog, int, const std::wstring&) {}
void ComboSelect(Dialog, int, int) {}
int ComboSelection(Dialog, int) { return -1; }
void ListColumns(Dialog, int, const std::vector<Column>&) {}
void ListAddRow(Dialog, int, const std::vector<std::wstring>&) {}
int ListSelection(Dialog, int) { return -1; }
void Focus(Dialog, int) {}
void SetTextRed(Dialog, int, bool) {}
ui::Answer MessageBox(Dialog, const std::wstring& text, const std::wstring& caption, ui::Buttons buttons) {
  return ui::MessageBox(text, caption, buttons);
}
std::optional<std::string> BrowseFolder(Dialog, const std::wstring&, const std::string&) { return std::nullopt; }
void EnableMainWindow(bool) {}

}  // namespace platform::dialog
