// The web page's document commands (see web_documents.h).
#include "web/web_documents.h"

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "core/client_state.h"
#include "core/text.h"
#include "crypto/certificates.h"
#include "exchange/document.h"
#include "exchange/intake.h"
#include "exchange/reply.h"
#include "exchange/result_codes.h"
#include "exchange/session.h"
#include "shell/status.h"
#include "storage/messages.h"
#include "storage/settings.h"
#include "web/json_answers.h"
#include "web/web_parameters.h"

namespace web {

namespace {

const wchar_t kNotFound[] = L"Документ не найден";
const wchar_t kNoCertificate[] = L"Не выбран сертификат. Нажмите кнопку <Настройки>.";
const wchar_t kNothingNew[] = L"Нет новых сообщений";
const wchar_t kBadRefusal[] =
    L"Не указана причина отказа или такой причины нет в списке. Документ не отклонен, ничего не отправлено.";

const wchar_t kBadPage[] = L"Неверная страница списка: offset от 0, count от 1 до 1000";

// Buttons of the page's document view, as bits.
constexpr int kAllButtons = 0x3F;

std::string Utf8(const std::wstring& text) { return core::ToNarrow(text, core::kCodePageUtf8); }

// The entry the request's `number` names, from one copy of the list.
std::optional<storage::MessageEntry> EntryOf(const std::string& request) {
  std::optional<std::string> number = ReadParameter(request, "number");
  std::optional<int32_t> idm = number ? WholeNumber(*number) : std::nullopt;
  if (!idm) return std::nullopt;
  std::optional<storage::MessageEntry> entry = storage::MessageAt(storage::FindMessageByIdm(*idm));
  if (entry && entry->idm == *idm) return entry;
  return std::nullopt;
}

DocumentItem ItemOf(const storage::MessageEntry& entry) {
  return {entry.idm, storage::FormatMessageDateUtf8(entry.dateIn), entry.senderUNP, entry.type,
          Utf8(entry.senderName), entry.status};
}

// The items of the last whole list, kept while the table and the statuses
// written into the list stay as they were: a page of the first version
// asks for the whole list again and again, and with years of documents
// building it is most of the answer's work. One request builds at a time;
// those that come meanwhile wait and take what it built.
std::mutex wholeListMutex;                     // guards the two below and the building
std::optional<storage::ListVersion> wholeListVersion;  // what the kept items were read at
std::shared_ptr<const std::string> wholeListItems;     // the kept items

std::shared_ptr<const std::string> WholeListItems() {
  std::lock_guard<std::mutex> lock(wholeListMutex);
  const std::optional<storage::ListVersion> version = storage::MessageListVersion();
  if (version && wholeListVersion == version && wholeListItems) return wholeListItems;
  const std::vector<storage::MessageEntry> entries = storage::MessageListSnapshot();
  std::vector<DocumentItem> items;
  items.reserve(entries.size());
  for (const storage::MessageEntry& entry : entries) items.push_back(ItemOf(entry));
  auto built = std::make_shared<const std::string>(DocumentItems(items));
  // An empty snapshot may be a failed read: it is cheap, and never kept.
  wholeListVersion = entries.empty() ? std::nullopt : version;
  wholeListItems = built;
  return built;
}

// count: -1 for no message element, otherwise the number of new messages.
std::string DocumentsAnswerOf(int count) {
  std::optional<std::string> message;
  if (count != -1) {
    if (core::GetClientState() != core::kStateReady) {
      message = Utf8(shell::TrayWarning());
    } else if (count > 0) {
      message = "Получено новых сообщений - " + std::to_string(count);
    } else {
      message = Utf8(kNothingNew);
    }
    // A certificate or revocation list that runs out soon is said whatever
    // else the message says.
    std::wstring validity = shell::ValidityWarningText();
    if (!validity.empty() && core::GetClientState() == core::kStateReady) *message += "<BR>" + Utf8(validity);
  }
  exchange::LoadMessagesFromBase();
  return DocumentsAnswerAround(message ? &*message : nullptr, *WholeListItems());
}

// A page of the list: only its rows are copied and formatted, and only the
// rows stored since the list was filled are read.
std::string DocumentsPage(int32_t offset, int32_t count) {
  exchange::RefreshMessageList();
  std::vector<DocumentItem> items;
  for (const storage::MessageEntry& entry :
       storage::MessagesInRange(static_cast<size_t>(offset), static_cast<size_t>(count))) {
    items.push_back(ItemOf(entry));
  }
  const size_t total = storage::MessageCount();
  return DocumentsAnswer(nullptr, items, &total);
}

// The answer of a signature or refusal: the lines shown, and the ending
// "operation" :"Ok" when the row ended as asked.
std::string AnswerCommand(const std::string& request, uint8_t refusalCode) {
  std::optional<storage::MessageEntry> entry = EntryOf(request);
  if (!entry) return MessageJson(std::wstring(kNotFound));
  int32_t status = -1;
  std::string answer = MessageJson(exchange::AnswerUnansweredMessage(*entry, refusalCode, &status));
  const bool done = refusalCode == 0 ? status == storage::kStatusSigned : status > storage::kStatusSigned;
  return done ? WithOperationOk(answer) : answer;
}

}  // namespace

std::string DocumentsCommand(const std::string& request) {
  std::optional<std::string> offsetText = ReadParameter(request, "offset");
  std::optional<std::string> countText = ReadParameter(request, "count");
  if (!offsetText && !countText) return DocumentsAnswerOf(-1);
  std::optional<int32_t> offset = offsetText ? WholeNumber(*offsetText) : 0;
  std::optional<int32_t> count = countText ? WholeNumber(*countText) : 50;
  if (!offset || !count || *offset < 0 || *count < 1 || *count > kMaxPageRows) {
    return MessageJson(std::wstring(kBadPage));
  }
  return DocumentsPage(*offset, *count);
}

std::string SampleDocumentsAnswer(bool withMessage) {
  const std::string message = Utf8(kNothingNew);
  return DocumentsAnswer(withMessage ? &message : nullptr, SampleDocuments());
}

std::string FetchCommand(bool agreed) {
  if (crypto::SelectedCertificate() < 0) return MessageJson(std::wstring(kNoCertificate));
  if (agreed) exchange::SetRegistered(true);
  // A declined registration (7) ends here as well: the page asks again.
  if (core::GetClientState() >= core::kStateCrlProblem) core::SetClientState(core::kStateReady);
  const int count = exchange::ClientGetMessagesFromServer();
  if (core::GetClientState() == core::kStateRegistrationDeclined) {
    crypto::CertificateEntry own;
    if (!crypto::GetSelectedEntry(&own)) return MessageJson(std::wstring(kNoCertificate));
    return RegistrationPrompt(own.subjectName, own.unpText,
                              storage::GetSettingText("IDC_BRANCH").value_or(std::wstring()));
  }
  return DocumentsAnswerOf(count);
}

std::string UnloadCommand(const std::string& request) {
  std::optional<storage::MessageEntry> entry = EntryOf(request);
  if (!entry) return MessageJson(std::wstring(kNotFound));
  return MessageJson(exchange::SaveDocumentOf(*entry));
}

std::string ShowCommand(const std::string& request) {
  std::optional<storage::MessageEntry> entry = EntryOf(request);
  if (!entry) return MessageJson(std::wstring(kNotFound));
  bool ok = false;
  uint8_t verdict = 0;
  std::string page;
  exchange::ShowDocumentOf(*entry, false, &ok, &verdict, &page);
  std::string flat;
  flat.reserve(page.size());
  for (char c : page) {
    if (c != '\r' && c != '\n') flat += c;
  }
  return MessageJson(flat, "html");
}

std::string SignCommand(const std::string& request) { return AnswerCommand(request, 0); }

std::string RejectCommand(const std::string& request) {
  std::optional<std::string> code = ReadParameter(request, "rejectcode");
  std::optional<int32_t> number = code ? WholeNumber(*code) : std::nullopt;
  if (!number || !ChoosableRefusal(*number)) return MessageJson(std::wstring(kBadRefusal));
  return AnswerCommand(request, static_cast<uint8_t>(*number));
}

std::string InfoCommand(const std::string& request) {
  std::optional<storage::MessageEntry> found = EntryOf(request);
  if (!found) return MessageJson(std::wstring(kNotFound));
  const storage::MessageEntry& entry = *found;
  int buttons = kAllButtons;
  std::wstring text = L"Отправитель: " + entry.senderName + L"\r\n" + L"УНП: " + std::to_wstring(entry.senderUNP);
  if (entry.senderBranch != 0) text += L" Код филиала:" + std::to_wstring(entry.senderBranch);
  text += L"\r\n";
  const bool certificateRequest = entry.type == storage::kMessageCertificateRequest;
  if (certificateRequest) {
    text += L"Документ: Запрос на получение СОК для подписания соглашения об обмене электронными документами\r\n\r\n";
    if (entry.status == storage::kStatusReceived) {
      text += L"При нажатии на кнопку \"Подписать\" Отправителю будет отправлен Ваш сертификат \r\nоткрытого ключа "
              L"для обмена электронными документами.\r\n Соглашение будет передано Вам на бумажном носителе.";
    }
    buttons &= 0x33;
  } else {
    text += L"Документ: Электронный документ\r\n";
  }
  bool refused = false;
  if (entry.status == storage::kStatusSigned) {
    if (certificateRequest) {
      text += L"\r\nЗапрос подписан.\r\nВаш сертификат открытого ключа для обмена электронными документами "
              L"отправлен.\r\nСоглашение будет передано Вам на бумажном носителе.";
    }
    buttons &= 0x1E;
    if (entry.type == storage::kMessageDocument) buttons |= 0x08;
  } else if (entry.status >= 101) {
    text += L"\r\n\r\nОтказано в подписании электронного документа.\r\n" +
            exchange::RefusalText(static_cast<uint8_t>(entry.status)) + L"\r\n\r\n";
    buttons &= 0x1E;
    refused = true;
  }
  if (!certificateRequest && !refused) {
    bool ok = false;
    uint8_t verdict = 0;
    text += L"\r\n" + exchange::ShowDocumentOf(entry, false, &ok, &verdict, nullptr);
    if (!ok) buttons &= 0x3A;
    // Refusing stays possible while the check read the document or named
    // a reason to refuse it.
    if (!ok && verdict == 0) buttons &= 0x1F;
  }
  return DescriptionAnswer(text, buttons, entry.idm);
}

}  // namespace web
