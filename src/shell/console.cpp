// The headless client's console commands (see console.h).
//
// Runs on the user-interface thread only, so the console's own state (the
// rows as the list was printed last, an answer waiting for its
// confirmation) needs no lock.
#include "shell/console.h"

#include <map>
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
#include "shell/certificate_dialog.h"
#include "shell/main_window.h"
#include "shell/message_dialog.h"
#include "shell/parameters_dialog.h"
#include "shell/refusal_dialog.h"
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
    L"  list            новые сообщения: первые 20 строк списка\n"
    L"  list more | list all  следующие 20 строк или весь список\n"
    L"  open N          текст сообщения N\n"
    L"  view N          показать документ N\n"
    L"  save N          выгрузить документ N\n"
    L"  sign N          подписать сообщение N и отправить отправителю (после ответа yes)\n"
    L"  refuse N [CODE] отказаться от подписания сообщения N: причина по коду или по номеру из\n"
    L"                  предложенного списка, затем ответ yes\n"
    L"  ias             обмен с учетной системой (кнопка окна сообщения)\n"
    L"  settings        настройки (меню Сервис - Настройка): вывести и начать правку\n"
    L"  settings set ПОЛЕ ЗНАЧЕНИЕ   изменить поле настроек (флажки: 0 или 1)\n"
    L"  settings folder КАТАЛОГ      выбрать каталог обмена\n"
    L"  settings ok | settings cancel  сохранить или отменить правку настроек\n"
    L"  certs           список сертификатов\n"
    L"  cert N          выбрать сертификат N из списка certs (во время правки настроек)\n"
    L"  update          проверка обновлений\n"
    L"  about           о программе\n"
    L"  exit            выход\n"
    L"Строки нумеруются так, как их вывели последние list или get.";

const wchar_t kConfirmWord[] = L"yes";

// Row ids of the message list as it was printed last: number N is the row
// printed as N. A command names the row the user saw, wherever a later
// load has moved it.
std::map<long, int32_t> shownIds;
size_t printedUpTo = 0;  // rows of the list printed since the last "list"

// Rows printed by "list" and by each "list more": a screenful.
constexpr size_t kScreenful = 20;

// A signature or refusal that waits for the user's "yes", which is the
// refusal dialog's check box. The row is named by its id; its receipt time
// and number tell that the row is still the one the question described.
struct PendingAnswer {
  int32_t id = 0;
  std::optional<RefusalDialog> refusal;  // none signs
  int64_t dateIn = 0;
  storage::MessageNumber number{};
};
std::optional<PendingAnswer> pending;

// A refusal whose reason the next line chooses from the printed list.
struct PendingReason {
  storage::MessageEntry entry;
  RefusalDialog refusal;
};
std::optional<PendingReason> choosingReason;

// The parameters dialog while the console edits it, and the certificates
// as "certs" printed them last.
std::optional<ParametersDialog> settingsEdit;
std::optional<CertificateDialog> shownCertificates;

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

// Prints the rows of the list from position `first`, at most `count`, and
// says how to see the rest. Only those rows are read and formatted.
void PrintList(size_t first, size_t count) {
  if (first == 0) {
    shownIds.clear();
    Print(L"N | Получено | Отправитель | УНП | Вид сообщения | Статус");
  }
  std::vector<storage::MessageEntry> entries = storage::MessagesInRange(first, count);
  for (size_t i = 0; i < entries.size(); ++i) {
    const long number = static_cast<long>(first + i + 1);
    shownIds[number] = entries[i].id;
    std::array<std::wstring, 5> columns = storage::MessageColumns(entries[i]);
    Print(std::to_wstring(number) + L" | " + columns[0] + L" | " + columns[1] + L" | " + columns[2] + L" | " +
          columns[3] + L" | " + columns[4]);
  }
  if (entries.empty() && first > 0) Print(L"Больше строк в списке нет");
  printedUpTo = first + entries.size();
  const size_t total = storage::MessageCount();
  if (printedUpTo < total) {
    Print(L"Показано " + std::to_wstring(printedUpTo) + L" из " + std::to_wstring(total) +
          L": list more — следующие, list all — весь список");
  }
}

void PrintList() { PrintList(0, kScreenful); }

// The entry of a row id in the list as it is now.
std::optional<storage::MessageEntry> EntryById(int32_t id) {
  std::optional<storage::MessageEntry> entry = storage::MessageAt(storage::FindMessageById(id));
  if (entry && entry->id == id) return entry;
  Print(L"Этого сообщения больше нет в списке сообщений");
  return std::nullopt;
}

// The entry of the row number N the user typed, numbered as the list was
// printed last.
std::optional<storage::MessageEntry> EntryOf(std::wistringstream& words) {
  long number = 0;
  auto shown = shownIds.end();
  if (!(words >> number) || (shown = shownIds.find(number)) == shownIds.end()) {
    Print(shownIds.empty() ? L"Сначала выведите список сообщений командой list"
                           : L"Нет такой строки в последнем выведенном списке сообщений");
    return std::nullopt;
  }
  return EntryById(shown->second);
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
  if (!dialog.verified) Print(L"(Текст выделен красным: проверка документа не пройдена или в подписании отказано)");
  Print(core::ReplaceAll(dialog.text, L"<BR>", L"\r\n", false));
  std::wstring buttons;
  if (dialog.canSign) buttons += L" sign";
  if (dialog.canRefuse) buttons += L" refuse";
  if (dialog.canShow) buttons += L" view";
  if (dialog.canSave) buttons += L" save";
  Print(L"Доступно:" + buttons + L" ias");
}

// Describes the row about to be answered and asks for the confirmation;
// the next console line answers.
void Ask(const storage::MessageEntry& entry, std::optional<RefusalDialog> refusal) {
  std::optional<storage::StoredMessage> row = storage::SelectForShow(entry.id);
  if (!row) {
    Print(L"Сообщение не найдено в базе");
    return;
  }
  std::array<std::wstring, 5> columns = storage::MessageColumns(entry);
  Print(L"Отправитель: " + columns[1] + L"\nУНП: " + columns[2] + L"\nВид сообщения: " + columns[3] +
        L"\nПолучено: " + columns[0]);
  if (!refusal && entry.type == storage::kMessageCertificateRequest) {
    Print(L"Отправить Отправителю Ваш сертификат открытого ключа? Введите yes, чтобы отправить; любой другой ответ "
          L"отменяет отправку.");
  } else if (!refusal) {
    Print(L"Подписать электронный документ? Введите yes, чтобы подписать; любой другой ответ отменяет подписание.");
  } else {
    Print(L"Причина отказа: " + refusal->entries[static_cast<size_t>(refusal->chosen)].text +
          L"\nОтказываюсь от подписания электронного документа? Введите yes, чтобы отправить отказ; любой другой "
          L"ответ отменяет отказ.");
  }
  pending = PendingAnswer{entry.id, std::move(refusal), row->dateIn, row->number};
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
    Print(!answer.refusal ? L"Подписание отменено, ничего не отправлено" : L"Отказ отменен, ничего не отправлено");
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
  if (!answer.refusal) {
    PrintResult(exchange::AnswerMessage(*entry, true, 0));
    return;
  }
  TickRefusalBox(&*answer.refusal, true);
  PrintResult(ContinueRefusal(*answer.refusal, *entry).value_or(L""));
}

void Sign(const storage::MessageEntry& entry) {
  MessageDialog dialog;
  BuildMessageDialog(entry, &dialog);
  if (!dialog.canSign) {
    Print(L"Это сообщение подписать нельзя");
    return;
  }
  Ask(entry, std::nullopt);
}

void PrintReasons(const RefusalDialog& refusal) {
  Print(L"Причина отказа:");
  for (size_t i = 0; i < refusal.entries.size(); ++i) {
    Print(L"  " + std::to_wstring(i + 1) + L" " + refusal.entries[i].text);
  }
  Print(L"Введите номер причины отказа; любой другой ответ отменяет отказ.");
}

// The refusal dialog: the reason the signature check proposes, else one of
// the offered reasons, by its code on the command line or by its number on
// the next line; the "yes" of Ask is the dialog's check box.
void Refuse(const storage::MessageEntry& entry, std::wistringstream& words) {
  MessageDialog dialog;
  BuildMessageDialog(entry, &dialog);
  if (!dialog.canRefuse) {
    Print(L"Отказ от подписания этого сообщения невозможен");
    return;
  }
  RefusalDialog refusal;
  FillRefusalDialog(static_cast<uint8_t>(dialog.proposedRefusal), &refusal);
  if (refusal.proposedCode != 0) {
    Ask(entry, refusal);
    return;
  }
  long code = 0;
  if (!(words >> code)) {
    PrintReasons(refusal);
    choosingReason = PendingReason{entry, refusal};
    return;
  }
  int index = -1;
  for (size_t i = 0; i < refusal.entries.size(); ++i) {
    if (refusal.entries[i].code == code) index = static_cast<int>(i);
  }
  if (!ChooseRefusalEntry(&refusal, index)) {
    Print(L"Укажите код причины отказа: 121, 122, 123, 124, 191, 192 или 199");
    return;
  }
  Ask(entry, refusal);
}

// The line after the printed reasons: the number of one. The separator is
// not a reason and is asked again.
void ChooseReason(const std::wstring& line) {
  PendingReason choice = *choosingReason;
  choosingReason.reset();
  std::wistringstream words(line);
  long number = 0;
  if (!(words >> number) || number < 1 || static_cast<size_t>(number) > choice.refusal.entries.size()) {
    Print(L"Отказ отменен, ничего не отправлено");
    return;
  }
  if (!ChooseRefusalEntry(&choice.refusal, static_cast<int>(number - 1))) {
    Print(L"Разделитель не является причиной отказа. Введите номер причины отказа.");
    choosingReason = choice;
    return;
  }
  if (!MessageListShown(L"refuse")) return;
  if (std::optional<storage::MessageEntry> entry = EntryById(choice.entry.id)) Ask(*entry, choice.refusal);
}

// "Label: value" of a field, its label's own colon kept.
std::wstring FieldLine(const ParametersField& field) {
  std::wstring label = field.label;
  label.erase(0, label.find_first_not_of(L' '));
  if (label.empty() || label.back() != L':') label += L':';
  return label + L" " + ShownValue(field);
}

void PrintSettings() {
  const ParametersDialog& dialog = *settingsEdit;
  Print(L"Параметры:");
  for (const ParametersField& field : dialog.fields) {
    std::wstring line = L"  " + core::ToWide(field.name, core::kCodePageUtf8);
    line.resize(12, L' ');
    line += FieldLine(field);
    if (!field.enabled) {
      line += L" (недоступно)";
    } else if (field.readOnly) {
      line += L" (только просмотр)";
    }
    Print(line);
  }
  Print(L"Правка: settings set ПОЛЕ ЗНАЧЕНИЕ, settings folder КАТАЛОГ, certs и cert N; settings ok сохраняет, "
        L"settings cancel отменяет.");
}

// The rest of the line after the words read so far, without its leading
// blanks.
std::wstring RestOf(std::wistringstream& words) {
  std::wstring rest;
  std::getline(words >> std::ws, rest);
  return rest;
}

void SetField(std::wistringstream& words) {
  std::wstring name;
  words >> name;
  ParametersField* field = FindParametersField(&*settingsEdit, core::ToNarrow(name, core::kCodePageUtf8));
  if (field == nullptr) {
    Print(L"Нет поля настроек «" + name + L"»; поля выводит команда settings");
    return;
  }
  switch (EditParametersField(&*settingsEdit, field, RestOf(words))) {
    case FieldEdit::Done:
      Print(FieldLine(*field));
      if (field->control == kParamService || field->control == kParamProxy) PrintSettings();
      break;
    case FieldEdit::Disabled:
      Print(L"Поле " + name + L" недоступно" +
            (field->control == kParamPassword ? L": сначала выберите сертификат (certs, cert N)" : L""));
      break;
    case FieldEdit::ReadOnly:
      Print(L"Поле " + name + L" только для просмотра" +
            (field->control == kParamCert ? L": сертификат выбирается командами certs и cert N" : L""));
      break;
    case FieldEdit::NotDigits:
      Print(L"Поле " + name + L" принимает только цифры");
      break;
    case FieldEdit::NotCheck:
      Print(L"Флажок " + name + L" принимает 0 или 1");
      break;
  }
}

void Settings(std::wistringstream& words) {
  std::wstring action;
  words >> action;
  if (action.empty()) {
    if (settingsEdit) {
      PrintSettings();
    } else {
      OnCommand(kCommandSettings);
    }
    return;
  }
  if (!settingsEdit) {
    Print(L"Сначала откройте настройки командой settings");
    return;
  }
  if (action == L"set") {
    SetField(words);
  } else if (action == L"folder") {
    ChooseParametersFolder(&*settingsEdit, core::ToNarrow(RestOf(words), core::kCodePageUtf8));
    Print(FieldLine(*FindParametersField(&*settingsEdit, kParamPath)));
  } else if (action == L"ok") {
    ParametersOk result = ConfirmParametersDialog(*settingsEdit);
    if (result == ParametersOk::Stay) return;
    settingsEdit.reset();
    shownCertificates.reset();
    if (result == ParametersOk::Closed) Print(L"Настройки сохранены");
  } else if (action == L"cancel") {
    settingsEdit.reset();
    shownCertificates.reset();
    Print(L"Настройки не изменены");
  } else {
    Print(kHelp);
  }
}

void PrintCertificates() {
  shownCertificates.emplace();
  OpenCertificateDialog(&*shownCertificates);
  std::wstring header = L"N";
  for (const wchar_t* column : kCertificateColumns) header += std::wstring(L" | ") + column;
  Print(header);
  for (size_t i = 0; i < shownCertificates->rows.size(); ++i) {
    std::wstring line = std::to_wstring(i + 1);
    for (const std::wstring& column : shownCertificates->rows[i]) line += L" | " + column;
    Print(line);
  }
  if (shownCertificates->rows.empty()) Print(L"В хранилище нет пригодных сертификатов");
}

// The certificate dialog's choice, opened from the settings: the row
// becomes the certificate of the settings being edited.
void ChooseCertificate(std::wistringstream& words) {
  if (!settingsEdit) {
    Print(L"Сертификат выбирается в настройках: откройте их командой settings, затем certs и cert N");
    return;
  }
  if (!shownCertificates) {
    Print(L"Сначала выведите список сертификатов командой certs");
    return;
  }
  long number = 0;
  int row = words >> number ? static_cast<int>(number - 1) : -1;
  if (!ChooseCertificateRow(*shownCertificates, row)) return;
  AfterCertificateChoice(&*settingsEdit);
  Print(FieldLine(*FindParametersField(&*settingsEdit, kParamCert)));
}

}  // namespace

void RunConsoleCommand(const std::wstring& line) {
  if (pending) {
    Confirm(line);
    return;
  }
  if (choosingReason) {
    ChooseReason(line);
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
    std::wstring which;
    words >> which;
    if (!MessageListShown(command)) return;
    if (which == L"more") {
      PrintList(printedUpTo, kScreenful);
    } else if (which == L"all") {
      PrintList(0, storage::MessageCount());
    } else {
      PrintList();
    }
  } else if (command == L"update") {
    exchange::StatusCollector collector;
    OnCommand(kCommandCheckUpdate);
    PrintResult(collector.text);
  } else if (command == L"about") {
    OnCommand(kCommandAbout);
  } else if (command == L"settings") {
    Settings(words);
  } else if (command == L"certs") {
    PrintCertificates();
  } else if (command == L"cert") {
    ChooseCertificate(words);
  } else if (command == L"ias") {
    if (MessageListShown(command)) ShowExchangeSetupHelp();
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

void OpenSettingsEdit() {
  settingsEdit.emplace();
  shownCertificates.reset();
  OpenParametersDialog(&*settingsEdit);
  PrintSettings();
}

void StartConsole() { platform::ui::StartConsoleInput(&RunConsoleCommand); }

}  // namespace shell
