// The text of the message dialog: who sent the message, what it is, what
// became of it and the report of its signature check, with the buttons the
// dialog offers for it. The console's "open N" shows it on Linux.
#pragma once

#include <string>

namespace shell {

struct MessageDialog {
  std::wstring text;        // the dialog's read-only field
  bool verified = true;     // false: the text is shown in red
  bool canSign = true;      // "Подписать"
  bool canRefuse = true;    // "Отказаться"
  bool canShow = true;      // "Показать"
  bool canSave = true;      // "Выгрузить"
  int proposedRefusal = 0;  // refusal code the signature check proposes, 0 none
};

// The dialog of the message at a position of the message list; false when
// there is none.
bool BuildMessageDialog(int position, MessageDialog* dialog);

}  // namespace shell
