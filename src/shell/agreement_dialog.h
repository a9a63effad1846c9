// The registration agreement (dialog "Соглашение"): the agreement text,
// the check box "Я прочитал и согласен с условиями настоящего соглашения "
// that enables "Продолжить", and the agreement flag that "Продолжить" sets.
// The session start shows it when the server does not know the
// organisation and the user has said yes to registering it; the flag
// (exchange::Registered) then lets the registration go on.
//
// The model is what the window's dialog and the console both drive; the
// text is kept in resources/agreement.txt and built into the program.
#pragma once

#include <string>

namespace shell {

// What the dialog ends with.
constexpr int kAgreementContinue = 1;  // "Продолжить": the user agreed
constexpr int kAgreementClose = 2;     // "Закрыть"

// The agreement text as the build took it from resources/agreement.txt.
extern const wchar_t kAgreementText[];

struct AgreementDialog {
  std::wstring text;         // the read-only field, lines ended by "\r\n"
  bool ticked = false;       // the check box
  bool canContinue = false;  // "Продолжить" enabled
};

// Opening clears the agreement flag and shows the text with "Продолжить"
// disabled.
void OpenAgreementDialog(AgreementDialog* dialog);

// The check box enables "Продолжить" while it is ticked.
void TickAgreement(AgreementDialog* dialog, bool ticked);

// "Продолжить": sets the agreement flag and ends with kAgreementContinue;
// while it is disabled nothing happens and 0 is returned.
int ContinueAgreement(const AgreementDialog& dialog);

// The dialog on the console: prints the text and waits for "agree" (the
// box ticked and "Продолжить" pressed) or "decline" ("Закрыть"); the end of
// the input declines. Returns what the dialog ended with.
int RunAgreementDialog();

}  // namespace shell
