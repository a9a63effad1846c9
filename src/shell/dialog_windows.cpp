// The dialogs as windows (see dialog_windows.h): each opens its template,
// fills the controls from its model, turns a click into the model's
// function and shows what the model then says. Platform-neutral: the
// windows are reached through platform/dialog.h only.
#include "shell/dialog_windows.h"

#include <optional>
#include <vector>

#include "core/text.h"
#include "exchange/document.h"
#include "exchange/reply.h"
#include "platform/dialog.h"
#include "shell/about_dialog.h"
#include "shell/agreement_dialog.h"
#include "shell/certificate_dialog.h"
#include "shell/message_dialog.h"
#include "shell/parameters_dialog.h"
#include "shell/refusal_dialog.h"
#include "storage/messages.h"
#include "storage/settings.h"

namespace shell {

namespace {

namespace dlg = platform::dialog;
using dlg::Dialog;
using platform::ui::Buttons;

// Dialog resources.
constexpr int kAboutResource = 103;
constexpr int kParametersResource = 104;
constexpr int kCertificateResource = 129;
constexpr int kMessageResource = 130;
constexpr int kAgreementResource = 131;
constexpr int kRefusalResource = 133;

// Buttons every dialog names alike; Enter and Esc arrive as these.
constexpr int kOk = 1;
constexpr int kCancel = 2;

// About: the version line and what the program is.
constexpr int kAboutVersion = 1018;
constexpr int kAboutText = 1019;

// Parameters: the buttons besides OK. Each field is read with at most this
// many characters.
constexpr int kChooseCertificate = 1004;
constexpr int kChooseFolder = 1024;
constexpr int kFieldTextMax = 1023;

// Certificate choice: the list.
constexpr int kCertificateList = 1000;
constexpr int kCertificateWidths[6] = {256, 96, 96, 96, 256, 256};

// Message: its text and the buttons besides 1 ("Подписать") and 2
// ("Закрыть").
constexpr int kMessageText = 1003;
constexpr int kShowButton = 3;
constexpr int kSaveButton = 4;
constexpr int kExchangeHelpButton = 5;
constexpr int kRefuseButton = 6;

// Agreement: its text and the box that enables "Продолжить" (1).
constexpr int kAgreementField = 1003;
constexpr int kAgreementBox = 1001;

// Refusal: the reasons, the confirmation box and "Продолжить"; "Закрыть"
// is 1.
constexpr int kRefusalReasonsList = 1019;
constexpr int kRefusalBox = 1001;
constexpr int kRefusalContinue = 1020;

bool Clicked(int code) { return code == dlg::kClicked; }

// Parameters --------------------------------------------------------------

// The controls' texts and check states into the model, as typed.
void ReadFields(Dialog dialog, ParametersDialog* model) {
  for (ParametersField& field : model->fields) {
    if (field.checkBox) {
      field.checked = dlg::Checked(dialog, field.control);
    } else {
      field.text = dlg::Text(dialog, field.control, kFieldTextMax);
    }
  }
}

void ShowEnabling(Dialog dialog, const ParametersDialog& model) {
  for (const ParametersField& field : model.fields) dlg::Enable(dialog, field.control, field.enabled);
}

// Certificate choice (129), opened by the parameters dialog: true when a
// certificate was chosen.
bool RunCertificateWindow(Dialog owner) {
  CertificateDialog model;
  auto choose = [&model](Dialog dialog, int row) {
    if (row < 0) {
      dlg::MessageBox(dialog, L"Сертификат не выбран", L"Выбор сертификатата", Buttons::Ok);
      return;
    }
    if (ChooseCertificateRow(model, row)) dlg::End(dialog, kOk);
  };
  dlg::Handlers handlers;
  handlers.init = [&model](Dialog dialog) {
    OpenCertificateDialog(&model);
    std::vector<dlg::Column> columns;
    for (size_t i = 0; i < 6; ++i) columns.push_back({kCertificateColumns[i], kCertificateWidths[i]});
    dlg::ListColumns(dialog, kCertificateList, columns);
    for (const auto& row : model.rows) dlg::ListAddRow(dialog, kCertificateList, {row.begin(), row.end()});
    dlg::Focus(dialog, kCertificateList);
  };
  handlers.command = [&choose](Dialog dialog, int control, int code) {
    if (control == kOk && Clicked(code)) choose(dialog, dlg::ListSelection(dialog, kCertificateList));
    if (control == kCancel && Clicked(code)) dlg::End(dialog, kCancel);
  };
  handlers.rowActivated = [&choose](Dialog dialog, int control, int row) {
    if (control == kCertificateList) choose(dialog, row);
  };
  return dlg::Run(kCertificateResource, handlers, owner) == kOk;
}

// Message and refusal ------------------------------------------------------

// The refusal dialog (133) of a message; returns what it ended with
// (kRefusalSent once the refusal went out).
int RunRefusalWindow(const storage::MessageEntry& entry, Dialog owner) {
  RefusalDialog model;
  auto showState = [&model](Dialog dialog) {
    dlg::Enable(dialog, kRefusalBox, model.boxEnabled);
    dlg::Check(dialog, kRefusalBox, model.boxTicked);
    dlg::Enable(dialog, kRefusalContinue, model.continueEnabled);
  };
  dlg::Handlers handlers;
  handlers.init = [&](Dialog dialog) {
    OpenRefusalDialog(entry, &model);
    for (const RefusalEntry& reason : model.entries) dlg::ComboAdd(dialog, kRefusalReasonsList, reason.text);
    dlg::ComboSelect(dialog, kRefusalReasonsList, model.chosen);
    showState(dialog);
  };
  handlers.command = [&](Dialog dialog, int control, int code) {
    if (control == kRefusalReasonsList && code == dlg::kSelectionChanged) {
      ChooseRefusalEntry(&model, dlg::ComboSelection(dialog, kRefusalReasonsList));
      showState(dialog);
    } else if (control == kRefusalBox && Clicked(code)) {
      TickRefusalBox(&model, dlg::Checked(dialog, kRefusalBox));
      showState(dialog);
    } else if (control == kRefusalContinue && Clicked(code)) {
      if (ContinueRefusal(model, entry)) dlg::End(dialog, kRefusalSent);
    } else if ((control == kOk || control == kCancel) && Clicked(code)) {
      dlg::End(dialog, control);
    }
  };
  return dlg::Run(kRefusalResource, handlers, owner);
}

}  // namespace

void ShowAboutWindow() {
  dlg::Handlers handlers;
  handlers.init = [](Dialog dialog) {
    dlg::SetText(dialog, kAboutVersion, AboutVersionLine());
    dlg::SetText(dialog, kAboutText, kAboutDescription);
  };
  dlg::Run(kAboutResource, handlers);
}

void ShowParametersWindow() {
  ParametersDialog model;
  bool confirmed = false;
  dlg::Handlers handlers;
  handlers.init = [&model](Dialog dialog) {
    OpenParametersDialog(&model);
    for (const ParametersField& field : model.fields) {
      if (field.checkBox) {
        dlg::Check(dialog, field.control, field.checked);
      } else {
        dlg::SetText(dialog, field.control, field.text);
      }
    }
    ShowEnabling(dialog, model);
  };
  handlers.command = [&](Dialog dialog, int control, int code) {
    if (!Clicked(code)) return;
    if (control == kParamService || control == kParamProxy) {
      // The texts stay; the boxes' states decide the enabling again.
      ReadFields(dialog, &model);
      ParametersField* box = FindParametersField(&model, control);
      EditParametersField(&model, box, box->checked ? L"1" : L"0");
      ShowEnabling(dialog, model);
    } else if (control == kChooseCertificate) {
      ReadFields(dialog, &model);
      RunCertificateWindow(dialog);
      AfterCertificateChoice(&model);
      dlg::SetText(dialog, kParamCert, FindParametersField(&model, kParamCert)->text);
      ShowEnabling(dialog, model);
    } else if (control == kChooseFolder) {
      std::string start = core::ToNarrow(storage::GetSettingText("IDC_PATH").value_or(L""), core::kCodePageUtf8);
      if (std::optional<std::string> folder = dlg::BrowseFolder(dialog, L"Укажите каталог обмена", start)) {
        ChooseParametersFolder(&model, *folder);
        dlg::SetText(dialog, kParamPath, FindParametersField(&model, kParamPath)->text);
      }
    } else if (control == kOk) {
      dlg::EnableMainWindow(false);
      ReadFields(dialog, &model);
      if (!EmailAcceptable(FindParametersField(&model, kParamEmail)->text)) {
        dlg::MessageBox(dialog, kEmailFormatMessage, L"", Buttons::Ok);
        dlg::EnableMainWindow(true);
        return;
      }
      confirmed = true;
      dlg::End(dialog, kOk);
    } else if (control == kCancel) {
      dlg::End(dialog, kCancel);
    }
  };
  dlg::Run(kParametersResource, handlers);
  if (!confirmed) return;
  // The dialog gave the main window back as it ended; it stays disabled
  // while the settings are stored and the work restarts.
  dlg::EnableMainWindow(false);
  ConfirmParametersDialog(model);
  dlg::EnableMainWindow(true);
}

void ShowMessageWindow(int row) {
  std::optional<storage::MessageEntry> entry = storage::MessageAt(row);
  if (!entry) return;
  MessageDialog model;
  dlg::Handlers handlers;
  handlers.init = [&](Dialog dialog) {
    BuildMessageDialog(*entry, &model);
    dlg::SetText(dialog, kMessageText, model.text);
    dlg::SetTextRed(dialog, kMessageText, !model.verified);
    dlg::Enable(dialog, kOk, model.canSign);
    dlg::Enable(dialog, kRefuseButton, model.canRefuse);
    dlg::Enable(dialog, kShowButton, model.canShow);
    dlg::Enable(dialog, kSaveButton, model.canSave);
    // The field would take the focus with all its text selected, which
    // hides its colour.
    dlg::Focus(dialog, kCancel);
  };
  handlers.command = [&](Dialog dialog, int control, int code) {
    if (!Clicked(code)) return;
    // Enter and Esc reach disabled buttons too: those do nothing.
    if (control != kCancel && !dlg::Enabled(dialog, control)) return;
    switch (control) {
      case kOk:
        if (dlg::MessageBox(dialog, L"Подписать электронный документ?", L"Подпись электронного документа",
                            Buttons::YesNo) == platform::ui::Answer::Yes) {
          exchange::AnswerMessage(*entry, true, 0);
          dlg::End(dialog, kOk);
        }
        break;
      case kCancel:
        dlg::End(dialog, kCancel);
        break;
      case kShowButton: {
        bool ok = false;
        uint8_t verdict = 0;
        exchange::ShowDocumentOf(*entry, true, &ok, &verdict, nullptr);
        break;
      }
      case kSaveButton:
        exchange::SaveDocumentOf(*entry);
        dlg::End(dialog, kSaveButton);
        break;
      case kExchangeHelpButton:
        ShowExchangeSetupHelp();
        break;
      case kRefuseButton:
        if (RunRefusalWindow(*entry, dialog) == kRefusalSent) dlg::End(dialog, kRefusalSent);
        break;
      default:
        break;
    }
  };
  dlg::Run(kMessageResource, handlers);
}

int ShowAgreementWindow() {
  AgreementDialog model;
  dlg::Handlers handlers;
  handlers.init = [&model](Dialog dialog) {
    OpenAgreementDialog(&model);
    dlg::SetText(dialog, kAgreementField, model.text);
    dlg::Check(dialog, kAgreementBox, false);
    dlg::Enable(dialog, kOk, model.canContinue);
    // Focused, the field would select its text and scroll to its end.
    dlg::Focus(dialog, kAgreementBox);
  };
  handlers.command = [&model](Dialog dialog, int control, int code) {
    if (!Clicked(code)) return;
    if (control == kAgreementBox) {
      TickAgreement(&model, dlg::Checked(dialog, kAgreementBox));
      dlg::Enable(dialog, kOk, model.canContinue);
    } else if (control == kOk) {
      if (int result = ContinueAgreement(model)) dlg::End(dialog, result);
    } else if (control == kCancel) {
      dlg::End(dialog, kAgreementClose);
    }
  };
  int result = dlg::Run(kAgreementResource, handlers);
  return result == dlg::kNotOpened ? kAgreementClose : result;
}

}  // namespace shell
