// The refusal dialog (resource 133, button "Отказаться" of the message
// dialog): the reason offered or chosen, the confirmation box and the
// refusal sent. The window's dialog and the console's "refuse N" drive it.
//
// Runs on the user-interface thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "storage/messages.h"

namespace shell {

// The reasons offered when the signature check proposes none, in order;
// 0 is the separator, which cannot be chosen.
extern const uint8_t kRefusalReasons[8];
extern const wchar_t kRefusalSeparator[];

struct RefusalEntry {
  uint8_t code = 0;   // 0: the separator
  std::wstring text;
};

struct RefusalDialog {
  uint8_t proposedCode = 0;           // the signature check's verdict, 0 none
  std::vector<RefusalEntry> entries;  // the drop-down list
  int chosen = -1;                    // the entry chosen, -1 none
  bool boxEnabled = false;            // "Отказываюсь от подписания электронного документа"
  bool boxTicked = false;
  bool continueEnabled = false;       // "Продолжить"
};

// Opening: the document is checked (not shown) for the code it proposes,
// then the list is filled as FillRefusalDialog does.
void OpenRefusalDialog(const storage::MessageEntry& entry, RefusalDialog* dialog);

// With a proposed code the list holds only that code's text, chosen, and
// the box is enabled; otherwise it holds the reasons of kRefusalReasons.
// "Продолжить" starts disabled.
void FillRefusalDialog(uint8_t proposedCode, RefusalDialog* dialog);

// Choosing an entry: a reason enables the box; the separator (or no entry)
// leaves nothing chosen, the box cleared and disabled and "Продолжить"
// disabled, so that no refusal goes out without a reason. False for the
// separator or an index outside the list.
bool ChooseRefusalEntry(RefusalDialog* dialog, int index);

// Ticking or clearing the box enables or disables "Продолжить"; nothing
// happens while the box is disabled.
void TickRefusalBox(RefusalDialog* dialog, bool ticked);

// The code "Продолжить" would send: the proposed one or the chosen entry's;
// 0 when it is disabled.
uint8_t RefusalCode(const RefusalDialog& dialog);

// "Продолжить": sends the refusal of the message with that code and gives
// what the sending reported (the dialog then ends with 10); none while it
// is disabled.
std::optional<std::wstring> ContinueRefusal(const RefusalDialog& dialog, const storage::MessageEntry& entry);

// The value the dialog ends with when the refusal was sent.
constexpr int kRefusalSent = 10;

}  // namespace shell
