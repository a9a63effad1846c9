// The headless client's console commands (see console.h).
//
// Runs on the user-interface thread only, so the console's own state (the
// rows as the list was printed last, an answer waiting for its
// confirmation) needs no lock.
#include "shell/console.h"

#include <optional>
#include <sstream>
#include <vector>

#include "core/client_state.h"
#include "core/text.h"
#include "exchange/document.h"
#include "exchange/reply.h"
#include "exchange/result_codes.h"
#include "exchange/status_lines.h"
#include "platform/ui.h"
#include "shell/main_window.h"
#include "shell/message_dialog.h"
#include "shell/startup.h"
#include "shell/window_commands.h"
#include "storage/messages.h"
#include "storage/settings.h"

namespace shell {

namespace {

const wchar_t kHelp[] =
    L"Команды:\n"
    L"  get             получить сообщения (кнопка «Получить сообщения»)\n"
    L"  show | hide     показать или скрыть окно\n"
    L"  list            список сообщений\n"
    L"  open N          текст сообщения N\n"
    L"  view N          показать документ N\n"
    L"  save N          выгрузить документ N\n"
    L"  sign N          подписать сообщение N и отправить отправителю (после ответа yes)\n"
    L"  refuse N CODE   отказаться от подписания сообщения N с кодом причины (после ответа yes)\n"
    L"  about           о программе\n"
    L"  exit            выход\n"
    L"Строки нумеруются так, как их вывел последний list или get.";

const wchar_t kConfirmWord[] = L"yes";

// Row ids of the message list as it was printed last: number N is
// shownIds[N - 1]. A command names the row the user saw, wherever a later
// load has moved it.
std::vector<int32_t> shownIds;

// A signature or refusal that waits for the user's "yes". The row is named
// by its id; its receipt time and number tell that the row is still the one
// the question described.
struct PendingAnswer {
  int32_t id = 0;
  uint8_t refusalCode = 0;  // 0 signs
  int64_t dateIn = 0;
  storage::MessageNumber number{};
};
std::optional<PendingAnswer> pending;

void Print(const std::wstring& text) { platform::ui::ConsolePrint(text); }

// The text an operation returns, its lines joined by "<BR>" for the web
// page. While the window is shown its status lines have been printed
// already.
void PrintResult(const std::wstring& text) {
  if (platform::ui::MainWindowVisible() || text.empty()) return;
  std::wstring lines = core::ReplaceAll(text, L"<BR>", L"\n", false);
  if (!lines.empty() && lines.back() == L'\n') lines.pop_back();
  Print(lines);
}

// Why the message list and the exchange button are hidden.
std::wstring HiddenReason() {
  if (storage::GetSettingInt("IDC_SERVICE") != 0) {
    return L"программа работает в режиме обмена с учетной системой, сообщения получает и обрабатывает учетная "
           L"система";
  }
  if (WebInterfaceOn()) return L"включен WEB интерфейс, сообщения обрабатываются на его странице";
  return L"список сообщений не показан";
}

// The console offers only what the window shows: "get" is the exchange
// button, the message commands work on the message list.
bool ExchangeButtonUsable() {
  platform::ui::ControlsState controls = platform::ui::Controls();
  if (controls.buttonVisible && controls.buttonEnabled) return true;
  Print(L"Команда get недоступна: " +
        (controls.buttonVisible ? std::wstring(L"не выбран сертификат (меню Сервис - Настройка)") : HiddenReason()));
  return false;
}

bool MessageListShown(const std::wstring& command) {
  if (platform::ui::Controls().listVisible) return true;
  Print(L"Команда " + command + L" недоступна: " + HiddenReason());
  return false;
}

void PrintList() {
  std::vector<storage::MessageEntry> entries = storage::MessageListSnapshot();
  shownIds.clear();
  Print(L"N | Получено | Отправитель | УНП | Вид сообщения | Статус");
  for (size_t i = 0; i < entries.size(); ++i) {
    shownIds.push_back(entries[i].id);
    std::array<std::wstring, 5> columns = storage::MessageColumns(entries[i]);
    Print(std::to_wstring(i + 1) + L" | " + columns[0] + L" | " + columns[1] + L" | " + columns[2] + L" | " +
          columns[3] + L" | " + columns[4]);
  }
}

// The entry of a row id in the list as it is now.
std::optional<storage::MessageEntry> EntryById(int32_t id) {
  for (const storage::MessageEntry& entry : storage::MessageListSnapshot()) {
    if (entry.id == id) return entry;
  }
  Print(L"Этого сообщения больше нет в списке сообщений");
  return std::nullopt;
}

// The entry of the row number N the user typed, numbered as the list was
// printed last.
std::optional<storage::MessageEntry> EntryOf(std::wistringstream& words) {
  long number = 0;
  if (!(words >> number) || number < 1 || static_cast<size_t>(number) > shownIds.size()) {
    Print(shownIds.empty() ? L"Сначала выведите список сообщений командой list"
                           : L"Нет такой строки в последнем выведенном списке сообщений");
    return std::nullopt;
  }
  return EntryById(shownIds[static_cast<size_t>(number - 1)]);
}

void Get() {
  if (!ExchangeButtonUsable()) return;
  // The client asks whether to register an organisation the server does
  // not know only while its window is shown, where a user can answer. The
  // user who typed "get" after a declined registration is there to
  // answer: the window is shown as for a button press.
  if (core::GetClientState() == core::kStateRegistrationDeclined && !platform::ui::MainWindowVisible()) {
    OnTrayNotify(kTrayDoubleClick);
  }
  // The window is normally hidden, and a hidden window shows no status
  // lines: what the exchange reported is printed from the collected text.
  exchange::StatusCollector collector;
  OnCommand(kCommandExchange);
  PrintResult(collector.text);
  PrintList();
}

void PrintDialog(const storage::MessageEntry& entry) {
  MessageDialog dialog;
  BuildMessageDialog(entry, &dialog);
  Print(core::ReplaceAll(dialog.text, L"<BR>", L"\r\n", false));
  std::wstring buttons;
  if (dialog.canSign) buttons += L" sign";
  if (dialog.canRefuse) buttons += L" refuse";
  if (dialog.canShow) buttons += L" view";
  if (dialog.canSave) buttons += L" save";
  Print(L"Доступно:" + (buttons.empty() ? std::wstring(L" -") : buttons));
}

// Describes the row about to be answered and asks for the confirmation;
// the next console line answers.
void Ask(const storage::MessageEntry& entry, uint8_t refusalCode) {
  std::optional<storage::StoredMessage> row = storage::SelectForShow(entry.id);
  if (!row) {
    Print(L"Сообщение не найдено в базе");
    return;
  }
  std::array<std::wstring, 5> columns = storage::MessageColumns(entry);
  Print(L"Отправитель: " + columns[1] + L"\nУНП: " + columns[2] + L"\nВид сообщения: " + columns[3] +
        L"\nПолучено: " + columns[0]);
  if (refusalCode == 0 && entry.type == storage::kMessageCertificateRequest) {
    Print(L"Отправить Отправителю Ваш сертификат открытого ключа? Введите yes, чтобы отправить; любой другой ответ "
          L"отменяет отправку.");
  } else if (refusalCode == 0) {
    Print(L"Подписать электронный документ? Введите yes, чтобы подписать; любой другой ответ отменяет подписание.");
  } else {
    Print(L"Причина отказа: " + exchange::RefusalText(refusalCode) +
          L"\nОтказываюсь от подписания электронного документа? Введите yes, чтобы отправить отказ; любой другой "
          L"ответ отменяет отказ.");
  }
  pending = PendingAnswer{entry.id, refusalCode, row->dateIn, row->number};
}

// The answer to the question of Ask. The row is checked once more: still
// in the list, still the row described, still neither signed nor refused.
// The reply operation then claims the row and, under that claim, reads
// its status again, so that a row signed meanwhile is not signed twice.
void Confirm(const std::wstring& line) {
  PendingAnswer answer = *pending;
  pending.reset();
  std::wistringstream words(line);
  std::wstring word;
  words >> word;
  if (word != kConfirmWord) {
    Print(answer.refusalCode == 0 ? L"Подписание отменено, ничего не отправлено" : L"Отказ отменен, ничего не отправлено");
    return;
  }
  if (!MessageListShown(L"yes")) return;
  std::optional<storage::MessageEntry> entry = EntryById(answer.id);
  if (!entry) return;
  std::optional<storage::StoredMessage> row = storage::SelectForShow(answer.id);
  if (!row || row->dateIn != answer.dateIn || row->number != answer.number) {
    Print(L"Сообщение изменилось после вопроса, ничего не отправлено");
    return;
  }
  if (row->status == storage::kStatusSigned) {
    Print(L"Сообщение уже подписано, ничего не отправлено");
    return;
  }
  if (row->status != storage::kStatusReceived && row->status != storage::kStatusSending) {
    Print(L"От подписания этого сообщения уже отказались, ничего не отправлено");
    return;
  }
  entry->status = row->status;
  PrintResult(exchange::AnswerMessage(*entry, true, answer.refusalCode));
}

void Sign(const storage::MessageEntry& entry) {
  MessageDialog dialog;
  BuildMessageDialog(entry, &dialog);
  if (!dialog.canSign) {
    Print(L"Это сообщение подписать нельзя");
    return;
  }
  Ask(entry, 0);
}

void Refuse(const storage::MessageEntry& entry, std::wistringstream& words) {
  MessageDialog dialog;
  BuildMessageDialog(entry, &dialog);
  if (!dialog.canRefuse) {
    Print(L"Отказ от подписания этого сообщения невозможен");
    return;
  }
  long code = dialog.proposedRefusal;
  if (code == 0 && (!(words >> code) || code <= 0 || code > 255 ||
                    exchange::RefusalText(static_cast<uint8_t>(code)).empty())) {
    Print(L"Укажите код причины отказа: 121, 122, 123, 124, 191, 192 или 199");
    return;
  }
  Ask(entry, static_cast<uint8_t>(code));
}

}  // namespace

void RunConsoleCommand(const std::wstring& line) {
  if (pending) {
    Confirm(line);
    return;
  }
  std::wistringstream words(line);
  std::wstring command;
  if (!(words >> command)) return;
  if (command == L"get") {
    Get();
  } else if (command == L"show") {
    OnTrayNotify(kTrayDoubleClick);
  } else if (command == L"hide") {
    OnMinimise();
  } else if (command == L"list") {
    if (MessageListShown(command)) PrintList();
  } else if (command == L"about") {
    OnCommand(kCommandAbout);
  } else if (command == L"exit") {
    OnCommand(kCommandExit);
  } else if (command == L"open" || command == L"view" || command == L"save" || command == L"sign" ||
             command == L"refuse") {
    if (!MessageListShown(command)) return;
    std::optional<storage::MessageEntry> entry = EntryOf(words);
    if (!entry) return;
    if (command == L"open") {
      PrintDialog(*entry);
    } else if (command == L"view") {
      bool ok = false;
      uint8_t verdict = 0;
      exchange::ShowDocumentOf(*entry, true, &ok, &verdict, nullptr);
    } else if (command == L"save") {
      exchange::SaveDocumentOf(*entry);
    } else if (command == L"sign") {
      Sign(*entry);
    } else {
      Refuse(*entry, words);
    }
  } else {
    Print(kHelp);
  }
}

void StartConsole() { platform::ui::StartConsoleInput(&RunConsoleCommand); }

}  // namespace shell
