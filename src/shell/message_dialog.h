// The text of the message dialog (resource 130): who sent the message, what
// it is, what became of it and the report of its signature check, with the
// buttons the dialog offers for it. The console's "open N" shows it on
// Linux; its "ias" is the button "Обмен с учетной системой".
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

// The button "Обмен с учетной системой": whom to ask for setting up the
// exchange with the accounting system, then the support page opens. The
// dialog stays.
void ShowExchangeSetupHelp();

}  // namespace shell
