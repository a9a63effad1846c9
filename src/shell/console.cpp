// The headless client's console commands (see console.h).
#include "shell/console.h"

#include <sstream>

#include "core/text.h"
#include "exchange/document.h"
#include "exchange/reply.h"
#include "exchange/result_codes.h"
#include "platform/ui.h"
#include "shell/main_window.h"
#include "shell/message_dialog.h"
#include "shell/window_commands.h"
#include "storage/messages.h"

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
    L"  sign N          подписать сообщение N и отправить отправителю\n"
    L"  refuse N CODE   отказаться от подписания сообщения N с кодом причины\n"
    L"  about           о программе\n"
    L"  exit            выход";

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

// Position in the message list of the row number N the user typed (rows
// are numbered from 1); -1 when there is no such row.
int PositionOf(std::wistringstream& words) {
  long number = 0;
  if (!(words >> number) || number < 1 || static_cast<size_t>(number) > storage::MessageCount()) {
    Print(L"Нет такой строки в списке сообщений");
    return -1;
  }
  return static_cast<int>(number - 1);
}

void PrintList() {
  std::vector<storage::MessageEntry> entries = storage::MessageListSnapshot();
  Print(L"N | Получено | Отправитель | УНП | Вид сообщения | Статус");
  for (size_t i = 0; i < entries.size(); ++i) {
    std::array<std::wstring, 5> columns = storage::MessageColumns(entries[i]);
    Print(std::to_wstring(i + 1) + L" | " + columns[0] + L" | " + columns[1] + L" | " + columns[2] + L" | " +
          columns[3] + L" | " + columns[4]);
  }
}

void PrintDialog(int position) {
  MessageDialog dialog;
  if (!BuildMessageDialog(position, &dialog)) return;
  Print(core::ReplaceAll(dialog.text, L"<BR>", L"\r\n", false));
  std::wstring buttons;
  if (dialog.canSign) buttons += L" sign";
  if (dialog.canRefuse) buttons += L" refuse";
  if (dialog.canShow) buttons += L" view";
  if (dialog.canSave) buttons += L" save";
  Print(L"Доступно:" + (buttons.empty() ? std::wstring(L" -") : buttons));
}

void Refuse(int position, std::wistringstream& words) {
  MessageDialog dialog;
  if (!BuildMessageDialog(position, &dialog) || !dialog.canRefuse) {
    Print(L"Отказ от подписания этого сообщения невозможен");
    return;
  }
  long code = dialog.proposedRefusal;
  if (code == 0 && (!(words >> code) || code <= 0 || code > 255 ||
                    exchange::RefusalText(static_cast<uint8_t>(code)).empty())) {
    Print(L"Укажите код причины отказа: 121, 122, 123, 124, 191, 192 или 199");
    return;
  }
  PrintResult(exchange::ClientSingAndSendMessage(position, true, static_cast<uint8_t>(code)));
}

}  // namespace

void RunConsoleCommand(const std::wstring& line) {
  std::wistringstream words(line);
  std::wstring command;
  if (!(words >> command)) return;
  if (command == L"get") {
    OnCommand(kCommandExchange);
  } else if (command == L"show") {
    OnTrayNotify(kTrayDoubleClick);
  } else if (command == L"hide") {
    OnMinimise();
  } else if (command == L"list") {
    PrintList();
  } else if (command == L"about") {
    OnCommand(kCommandAbout);
  } else if (command == L"exit") {
    OnCommand(kCommandExit);
  } else if (command == L"open" || command == L"view" || command == L"save" || command == L"sign" ||
             command == L"refuse") {
    int position = PositionOf(words);
    if (position < 0) return;
    if (command == L"open") {
      PrintDialog(position);
    } else if (command == L"view") {
      bool ok = false;
      uint8_t verdict = 0;
      exchange::ShowDocument(position, true, &ok, &verdict, nullptr);
    } else if (command == L"save") {
      exchange::SaveDocument(position);
    } else if (command == L"sign") {
      MessageDialog dialog;
      if (!BuildMessageDialog(position, &dialog) || !dialog.canSign) {
        Print(L"Это сообщение подписать нельзя");
        return;
      }
      // Typing the command answers the dialog's question "Подписать
      // электронный документ?" with yes.
      PrintResult(exchange::ClientSingAndSendMessage(position, true, 0));
    } else {
      Refuse(position, words);
    }
  } else {
    Print(kHelp);
  }
}

void StartConsole() { platform::ui::StartConsoleInput(&RunConsoleCommand); }

}  // namespace shell
