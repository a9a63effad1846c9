// The dialogs as windows: the dialog templates of resources/dialogs.rc
// opened through platform/dialog.h and driven by the dialogs' models (the
// same models the console drives). The main window's menu commands, its
// message list and the registration call these on the user-interface
// thread when platform::dialog::Available(); headless the console's faces
// of the models are used instead.
#pragma once

namespace shell {

// About (103), menu "&О программе ...".
void ShowAboutWindow();

// Parameters (104), menu "Настройка": OK stores the fields, restarts the
// work and updates the autostart entry, with the main window disabled
// meanwhile; a malformed e-mail address is refused and the dialog stays.
void ShowParametersWindow();

// The message dialog (130) of a row of the message list (a double-click on
// it); "Отказаться" opens the refusal dialog (133). Nothing opens for a
// row that is not in the list.
void ShowMessageWindow(int row);

// The agreement (131) asked for before registration; returns what it ended
// with (kAgreementContinue when the user agreed).
int ShowAgreementWindow();

}  // namespace shell
