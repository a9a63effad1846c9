// The text of the message dialog: who sent the message, what it is, what
// became of it and the report of its signature check, with the buttons the
// dialog offers for it. The console's "open N" shows it on Linux.
#pragma once

#include <string>

#include "storage/messages.h"

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

// The dialog of a message of the list, named by its entry: the entry's id
// decides the row that the signature check reads.
void BuildMessageDialog(const storage::MessageEntry& entry, MessageDialog* dialog);

}  // namespace shell
