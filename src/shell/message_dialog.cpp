// The message dialog's text and buttons (see message_dialog.h).
#include "shell/message_dialog.h"

#include "exchange/document.h"
#include "core/text.h"
#include "exchange/result_codes.h"
#include "platform/process.h"
#include "platform/ui.h"
#include "shell/version.h"
#include "storage/messages.h"

namespace shell {

namespace {

const wchar_t kCertificateRequestExplanation[] =
    L"Документ: Запрос на получение СОК для подписания соглашения об обмене\r\n"
    L"электронными документами\r\n"
    L"\r\n"
    L"Запрос на СОК является техническим сообщением и не содержит вложенной информации.\r\n"
    L"При его подписании осуществляется обмен сертификатом открытого ключа ЭЦП ГосСУОК между\r\n"
    L"Вами и отправителем, для последующей возможности отправки электронных документов.\r\n"
    L"\r\n"
    L"Повторное получение Запроса на СОК возможна при смене Вашего сертификата ЭЦП ГосСУОК\r\n"
    L"или по иным техническим причинам.\r\n"
    L"До момента подписания повторного Запроса на СОК получение электронных документов будет\r\n"
    L"приостановлено.\r\n"
    L"После подписания повторного Запроса на СОК получение электронных документов возобновится\r\n"
    L"в течении одного - двух рабочих дней.\r\n"
    L"\r\n";

const wchar_t kCertificateRequestPending[] =
    L"При нажатии на кнопку \"Подписать\" Отправителю будет отправлен Ваш сертификат \r\n"
    L"открытого ключа для обмена электронными документами.\r\n"
    L" Соглашение будет передано Вам на бумажном носителе.";

const wchar_t kCertificateRequestSigned[] =
    L"\r\n"
    L"Запрос подписан.\r\n"
    L"Ваш сертификат открытого ключа для обмена электронными документами отправлен.\r\n"
    L"Соглашение будет передано Вам на бумажном носителе.";

}  // namespace

void BuildMessageDialog(const storage::MessageEntry& entry, MessageDialog* dialog) {
  *dialog = MessageDialog();
  std::wstring& text = dialog->text;
  text = L"Отправитель: " + entry.senderName + L"\r\n" + L"УНП: " + std::to_wstring(entry.senderUNP);
  if (entry.senderBranch != 0) text += L" Код филиала:" + std::to_wstring(entry.senderBranch);

  if (entry.type == storage::kMessageCertificateRequest) {
    text += L"\r\n";
    text += kCertificateRequestExplanation;
    if (entry.status == storage::kStatusReceived) text += kCertificateRequestPending;
    dialog->canShow = false;
    dialog->canSave = false;
  } else {
    // The type line starts a line of its own.
    text += L"\r\nДокумент: Электронный документ\r\n";
  }

  if (entry.status == storage::kStatusSigned) {
    if (entry.type == storage::kMessageCertificateRequest) text += kCertificateRequestSigned;
    dialog->canSign = false;
    dialog->canRefuse = false;
    if (entry.type == storage::kMessageDocument) dialog->canSave = true;
  } else if (entry.status > 100) {
    text += L"\r\n\r\nОтказано в подписании электронного документа.\r\n" +
            exchange::RefusalText(static_cast<uint8_t>(entry.status)) + L"\r\n\r\n";
    dialog->canSign = false;
    dialog->canRefuse = false;
    dialog->verified = false;
  }

  if (entry.type != storage::kMessageCertificateRequest && dialog->verified) {
    bool ok = false;
    uint8_t verdict = 0;
    text += L"\r\n" + exchange::ShowDocumentOf(entry, false, &ok, &verdict, nullptr);
    dialog->verified = ok;
    dialog->proposedRefusal = verdict;
    if (!ok) {
      dialog->canSign = false;
      dialog->canShow = false;
      if (verdict == 0) dialog->canRefuse = false;
    }
  }
}

void ShowExchangeSetupHelp() {
  platform::ui::MessageBox(
      L"Для настройки обмена с учетной системой обратитесь в службу технической поддержки.\r\n" +
          core::ToWide(kSupportAddress, core::kCodePageUtf8),
      L"", platform::ui::Buttons::Ok);
  platform::ShellOpen(kSupportAddress);
}

}  // namespace shell
