// The registration agreement dialog (see agreement_dialog.h).
#include "shell/agreement_dialog.h"

#include <optional>

#include "core/log.h"
#include "core/text.h"
#include "exchange/session.h"
#include "platform/ui.h"

namespace shell {

namespace {

const wchar_t kAgreeWord[] = L"agree";
const wchar_t kDeclineWord[] = L"decline";

std::wstring FirstWord(const std::wstring& line) {
  size_t start = line.find_first_not_of(L" \t\r");
  if (start == std::wstring::npos) return L"";
  size_t end = line.find_first_of(L" \t\r", start);
  return line.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
}

}  // namespace

void OpenAgreementDialog(AgreementDialog* dialog) {
  exchange::SetRegistered(false);
  *dialog = AgreementDialog();
  // The file keeps plain line ends; the dialog's field wants "\r\n".
  dialog->text = core::ReplaceAll(kAgreementText, L"\n", L"\r\n", false);
}

void TickAgreement(AgreementDialog* dialog, bool ticked) {
  dialog->ticked = ticked;
  dialog->canContinue = ticked;
}

int ContinueAgreement(const AgreementDialog& dialog) {
  if (!dialog.canContinue) return 0;
  exchange::SetRegistered(true);
  return kAgreementContinue;
}

int RunAgreementDialog() {
  core::LogInfo("Agreement");
  AgreementDialog dialog;
  OpenAgreementDialog(&dialog);
  platform::ui::ConsolePrint(L"=== Соглашение ===\n" + std::wstring(kAgreementText));
  int result = kAgreementClose;
  for (;;) {
    platform::ui::ConsolePrint(
        L"Я прочитал и согласен с условиями настоящего соглашения: введите agree, чтобы продолжить регистрацию, "
        L"или decline, чтобы отказаться.");
    std::optional<std::wstring> line = platform::ui::ConsoleReadModal();
    if (!line) break;
    std::wstring word = FirstWord(*line);
    if (word == kAgreeWord) {
      TickAgreement(&dialog, true);
      result = ContinueAgreement(dialog);
      break;
    }
    if (word == kDeclineWord) break;
  }
  platform::ui::ConsolePrint(result == kAgreementContinue ? L"Соглашение принято" : L"Соглашение не принято");
  core::LogValue("Agreement - end", result);
  return result;
}

}  // namespace shell
