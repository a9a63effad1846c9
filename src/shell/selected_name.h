// The display name of the selected certificate, for the tray tip; empty
// while no certificate is selected.
#pragma once

#include <string>

namespace shell {

std::wstring SelectedCertificateName();

}  // namespace shell
