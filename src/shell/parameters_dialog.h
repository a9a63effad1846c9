// The parameters dialog (resource 104, menu "Настройка"): the fields it
// shows, which of them can be used, and what its buttons do. The window's
// dialog and the console's "settings" command both drive it; the model
// touches the settings only when OK is pressed (the certificate choice,
// dialog 129, writes "IDC_CERT" itself).
//
// Every field is filled from its setting whatever the mode and the proxy
// box: OK stores the text of every field, so a field left empty because it
// was disabled at opening would wipe its setting when the user ticks or
// clears a box and presses OK. The boxes decide only which fields are
// enabled.
//
// Runs on the user-interface thread.
#pragma once

#include <string>
#include <vector>

namespace shell {

// One control of the dialog that holds a value: an edit field or a check
// box.
struct ParametersField {
  int control = 0;               // control identifier in dialog 104
  const char* name = "";         // short name the console uses
  const wchar_t* label = L"";    // the dialog's label, after its frame's title where alone it is ambiguous
  const char* setting = nullptr;  // the setting it shows; null: none
  bool stored = false;           // OK writes it back to its setting
  bool checkBox = false;         // a check box rather than an edit field
  bool readOnly = false;         // shown, never typed into
  bool masked = false;           // a password field
  bool digitsOnly = false;       // takes digits only
  bool enabled = true;
  bool checked = false;          // check boxes
  std::wstring text;             // edit fields
};

struct ParametersDialog {
  std::vector<ParametersField> fields;  // in the dialog's order
};

// Controls of dialog 104 that the model refers to.
constexpr int kParamCert = 1017;
constexpr int kParamPassword = 1003;
constexpr int kParamSecure = 1014;
constexpr int kParamBranch = 1007;
constexpr int kParamService = 1013;
constexpr int kParamPath = 1016;
constexpr int kParamEmail = 1038;
constexpr int kParamProxy = 1028;
constexpr int kParamWeb = 1025;
constexpr int kParamRun = 1027;

// What the branch-code field shows instead of the code.
extern const wchar_t kBranchFieldText[];
// The e-mail address typed does not look like one.
extern const wchar_t kEmailFormatMessage[];
// The web-interface switch changed: the client ends after this message.
extern const wchar_t kInterfaceChangedMessage[];

// Opening: every field from the settings, the enabling from the mode, the
// proxy box and the certificate.
void OpenParametersDialog(ParametersDialog* dialog);

// The field of a control or of a console name; null when there is none.
ParametersField* FindParametersField(ParametersDialog* dialog, int control);
ParametersField* FindParametersField(ParametersDialog* dialog, const std::string& name);

// The value as the dialog shows it: a password as asterisks, a check box as
// 1 or 0.
std::wstring ShownValue(const ParametersField& field);

enum class FieldEdit {
  Done,
  Disabled,
  ReadOnly,
  NotDigits,    // a digits-only field given other characters
  NotCheck,     // a check box given something other than 0 or 1
};

// Typing into a field or clicking a box, as the user can: only enabled
// fields that are not read-only. Setting the mode box or the proxy box
// re-does the enabling from the boxes' current states, as a click does;
// the texts stay as they are.
FieldEdit EditParametersField(ParametersDialog* dialog, ParametersField* field, const std::wstring& value);

// Button 1024: the folder chosen, with the separator added.
void ChooseParametersFolder(ParametersDialog* dialog, const std::string& folder);

// After the certificate choice (button 1004): the certificate field shows
// "IDC_CERT"; the password field is enabled once it is not empty.
void AfterCertificateChoice(ParametersDialog* dialog);

// The e-mail rule of OK: empty, or at least five characters with an "@".
bool EmailAcceptable(const std::wstring& text);

enum class ParametersOk {
  Stay,    // the e-mail address was refused; nothing stored
  Closed,  // stored, saved and the work restarted
  Ended,   // stored and saved; the interface changed and the client ends
};

// OK: the e-mail rule, then every text and check state into the settings,
// SaveSettings, and either the end of the client (the web-interface switch
// changed: exit code 0) or StartWork and UpdateAutostart. Cancel needs no
// function: the settings were not touched.
ParametersOk ConfirmParametersDialog(const ParametersDialog& dialog);

}  // namespace shell
