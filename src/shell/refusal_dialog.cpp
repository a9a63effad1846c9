// The refusal dialog (see refusal_dialog.h).
#include "shell/refusal_dialog.h"

#include "exchange/document.h"
#include "exchange/reply.h"
#include "exchange/result_codes.h"

namespace shell {

const uint8_t kRefusalReasons[8] = {121, 122, 123, 124, 0, 191, 192, 199};
const wchar_t kRefusalSeparator[] = L"-----------------";

void OpenRefusalDialog(const storage::MessageEntry& entry, RefusalDialog* dialog) {
  bool ok = false;
  uint8_t verdict = 0;
  exchange::ShowDocumentOf(entry, false, &ok, &verdict, nullptr);
  FillRefusalDialog(verdict, dialog);
}

void FillRefusalDialog(uint8_t proposedCode, RefusalDialog* dialog) {
  *dialog = RefusalDialog();
  dialog->proposedCode = proposedCode;
  if (proposedCode != 0) {
    dialog->entries.push_back({proposedCode, exchange::RefusalText(proposedCode)});
    dialog->chosen = 0;
    dialog->boxEnabled = true;
    return;
  }
  for (uint8_t code : kRefusalReasons) {
    dialog->entries.push_back({code, code == 0 ? std::wstring(kRefusalSeparator) : exchange::RefusalText(code)});
  }
}

bool ChooseRefusalEntry(RefusalDialog* dialog, int index) {
  bool reason = index >= 0 && static_cast<size_t>(index) < dialog->entries.size() &&
                dialog->entries[static_cast<size_t>(index)].code != 0;
  dialog->chosen = reason ? index : -1;
  dialog->boxEnabled = reason;
  if (!reason) {
    dialog->boxTicked = false;
    dialog->continueEnabled = false;
  }
  return reason;
}

void TickRefusalBox(RefusalDialog* dialog, bool ticked) {
  if (!dialog->boxEnabled) return;
  dialog->boxTicked = ticked;
  dialog->continueEnabled = ticked;
}

uint8_t RefusalCode(const RefusalDialog& dialog) {
  if (!dialog.continueEnabled || dialog.chosen < 0) return 0;
  return dialog.entries[static_cast<size_t>(dialog.chosen)].code;
}

std::optional<std::wstring> ContinueRefusal(const RefusalDialog& dialog, const storage::MessageEntry& entry) {
  uint8_t code = RefusalCode(dialog);
  if (code == 0) return std::nullopt;
  return exchange::AnswerMessage(entry, true, code);
}

}  // namespace shell
