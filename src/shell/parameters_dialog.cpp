// The parameters dialog's fields and buttons (see parameters_dialog.h).
#include "shell/parameters_dialog.h"

#include <algorithm>

#include "core/text.h"
#include "platform/paths.h"
#include "platform/ui.h"
#include "shell/autostart.h"
#include "shell/startup.h"
#include "shell/work.h"
#include "storage/settings.h"

namespace shell {

const wchar_t kBranchFieldText[] = L"Для изменения обратитесь в техподдержку АИС";
const wchar_t kEmailFormatMessage[] = L"Реквизит <Email> не соответствует формату.";
const wchar_t kInterfaceChangedMessage[] = L"Изменился интерфейс программы. Перезапустите программу.";

namespace {

// Each text is stored with at most this many characters, as the dialog
// reads its fields.
constexpr size_t kFieldTextMax = 1023;

// The head's details for printed forms: used in the desktop mode.
constexpr int kHeadFields[] = {1002, 1005, 1006, 1008};
// The proxy's type, address, port, user and password.
constexpr int kProxyFields[] = {1019, 1012, 1009, 1010, 1011};

struct FieldRow {
  int control;
  const char* name;
  const wchar_t* label;
  const char* setting;
  bool stored;
  bool checkBox;
  bool readOnly;
  bool masked;
  bool digitsOnly;
};

// The dialog's fields in its order.
const FieldRow kFields[] = {
    {kParamCert, "cert", L"Сертификат ГосСУОК", "IDC_CERT", true, false, true, false, false},
    {kParamPassword, "pass", L"Пароль от ключа ЭЦП", "IDC_PASS", true, false, false, true, false},
    {kParamSecure, "secure", L"Запрашивать пароль при отрытии", "IDC_SECURE", true, true, false, false, false},
    {kParamBranch, "branch", L"Код филиала", nullptr, false, false, false, false, true},
    {kParamService, "service", L"Обмен с учетной системой", "IDC_SERVICE", true, true, false, false, false},
    {kParamPath, "path", L"Каталог обмена", "IDC_PATH", true, false, false, false, false},
    {1018, "phone", L"Телефон", "IDC_PHONE", false, false, true, false, false},
    {1002, "face", L"в лице", "IDC_FACE", true, false, false, false, false},
    {1005, "base", L"действующего на основании", "IDC_BASE", true, false, false, false, false},
    {1006, "post", L"Должность руководителя:", "IDC_POST", true, false, false, false, false},
    {1008, "name", L"ФИО руководителя:", "IDC_NAME", true, false, false, false, false},
    {kParamProxy, "proxy", L"Использовать прокси-сервер", "IDC_PROXY_USE", true, true, false, false, false},
    {1019, "proxytype", L"Тип прокси:", "IDC_PROXY_T", true, false, false, false, true},
    {1012, "proxyaddr", L"Адрес:", "IDC_PROXY_A", true, false, false, false, false},
    {1009, "proxyport", L"Порт:", "IDC_PROXY_PORT", true, false, false, false, true},
    {1010, "proxyuser", L"Пользователь:", "IDC_PROXY_USER", true, false, false, false, false},
    {1011, "proxypass", L"Пароль:", "IDC_PROXY_PASS", true, false, false, true, false},
    {1039, "fio", L"Ответственный за ЭЦП: ФИО", "IDC_EDS_FIO", true, false, false, false, false},
    {kParamEmail, "email", L"Ответственный за ЭЦП: Email", "IDC_EMAIL", true, false, false, false, false},
    {1040, "edsphone", L"Ответственный за ЭЦП: Телефон", "IDC_EDS_PHONE", true, false, false, false, false},
    {kParamWeb, "web", L" WEB интерфейс", nullptr, false, true, false, false, false},
    {kParamRun, "run", L"Запускать автоматически", "IDC_RUN", true, true, false, false, false},
};

bool Checked(ParametersDialog* dialog, int control) {
  ParametersField* field = FindParametersField(dialog, control);
  return field != nullptr && field->checked;
}

void Enable(ParametersDialog* dialog, int control, bool enabled) {
  if (ParametersField* field = FindParametersField(dialog, control)) field->enabled = enabled;
}

// What the mode box and the proxy box enable.
void ApplyBoxes(ParametersDialog* dialog) {
  bool service = Checked(dialog, kParamService);
  bool proxy = Checked(dialog, kParamProxy);
  for (int control : kHeadFields) Enable(dialog, control, !service);
  Enable(dialog, kParamPath, service);
  for (int control : kProxyFields) Enable(dialog, control, proxy);
}

bool AllDigits(const std::wstring& text) {
  return std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

}  // namespace

void OpenParametersDialog(ParametersDialog* dialog) {
  dialog->fields.clear();
  for (const FieldRow& row : kFields) {
    ParametersField field;
    field.control = row.control;
    field.name = row.name;
    field.label = row.label;
    field.setting = row.setting;
    field.stored = row.stored;
    field.checkBox = row.checkBox;
    field.readOnly = row.readOnly;
    field.masked = row.masked;
    field.digitsOnly = row.digitsOnly;
    if (row.setting != nullptr && row.checkBox) {
      field.checked = storage::GetSettingInt(row.setting) != 0;
    } else if (row.setting != nullptr) {
      field.text = storage::GetSettingText(row.setting).value_or(L"");
    }
    dialog->fields.push_back(std::move(field));
  }
  FindParametersField(dialog, kParamWeb)->checked = WebInterfaceOn();
  ParametersField* branch = FindParametersField(dialog, kParamBranch);
  branch->text = kBranchFieldText;
  branch->enabled = false;
  FindParametersField(dialog, kParamSecure)->enabled = false;  // shown, never changed here
  ApplyBoxes(dialog);
  if (FindParametersField(dialog, kParamCert)->text.empty()) Enable(dialog, kParamPassword, false);
}

ParametersField* FindParametersField(ParametersDialog* dialog, int control) {
  for (ParametersField& field : dialog->fields) {
    if (field.control == control) return &field;
  }
  return nullptr;
}

ParametersField* FindParametersField(ParametersDialog* dialog, const std::string& name) {
  for (ParametersField& field : dialog->fields) {
    if (name == field.name) return &field;
  }
  return nullptr;
}

std::wstring ShownValue(const ParametersField& field) {
  if (field.checkBox) return field.checked ? L"1" : L"0";
  if (field.masked) return std::wstring(field.text.size(), L'*');
  return field.text;
}

FieldEdit EditParametersField(ParametersDialog* dialog, ParametersField* field, const std::wstring& value) {
  if (!field->enabled) return FieldEdit::Disabled;
  if (field->readOnly) return FieldEdit::ReadOnly;
  if (field->checkBox) {
    if (value != L"0" && value != L"1") return FieldEdit::NotCheck;
    field->checked = value == L"1";
    if (field->control == kParamService || field->control == kParamProxy) ApplyBoxes(dialog);
    return FieldEdit::Done;
  }
  if (field->digitsOnly && !AllDigits(value)) return FieldEdit::NotDigits;
  field->text = value;
  return FieldEdit::Done;
}

void ChooseParametersFolder(ParametersDialog* dialog, const std::string& folder) {
  if (folder.empty()) return;  // the browser was cancelled
  FindParametersField(dialog, kParamPath)->text = core::ToWide(platform::AsFolder(folder), core::kCodePageUtf8);
}

void AfterCertificateChoice(ParametersDialog* dialog) {
  ParametersField* cert = FindParametersField(dialog, kParamCert);
  cert->text = storage::GetSettingText("IDC_CERT").value_or(L"");
  if (!cert->text.empty()) Enable(dialog, kParamPassword, true);
}

bool EmailAcceptable(const std::wstring& text) {
  const std::wstring email = text.substr(0, kFieldTextMax);
  return email.empty() || (email.size() >= 5 && email.find(L'@') != std::wstring::npos);
}

ParametersOk ConfirmParametersDialog(const ParametersDialog& dialog) {
  ParametersDialog fields = dialog;
  if (!EmailAcceptable(FindParametersField(&fields, kParamEmail)->text)) {
    platform::ui::MessageBox(kEmailFormatMessage, L"", platform::ui::Buttons::Ok);
    return ParametersOk::Stay;
  }
  for (const ParametersField& field : fields.fields) {
    if (!field.stored) continue;
    if (field.checkBox) {
      storage::SetSettingInt(field.setting, field.checked ? 1 : 0);
    } else {
      storage::SetSettingText(field.setting, field.text.substr(0, kFieldTextMax));
    }
  }
  storage::SaveSettings();

  bool web = FindParametersField(&fields, kParamWeb)->checked;
  if (web != WebInterfaceOn()) {
    EnableWebInterface(web ? 2 : 0);
    platform::ui::MessageBox(kInterfaceChangedMessage, L"", platform::ui::Buttons::Ok);
    platform::ui::PostQuit(kExitOk);
    return ParametersOk::Ended;
  }
  StartWork();
  UpdateAutostart(platform::ExecutablePath());
  return ParametersOk::Closed;
}

}  // namespace shell
