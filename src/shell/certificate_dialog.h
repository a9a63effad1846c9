// The certificate choice (resource 129, button "Выбрать..." of the
// parameters dialog): the usable certificates of the user's store, one row
// each, and the choice of one of them as the organisation's certificate.
// The window's dialog and the console's "certs" / "cert N" drive it.
//
// Runs on the user-interface thread.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace shell {

// The list's columns: display name, УНП, validity start and end, key
// identifier, issuer.
extern const wchar_t* const kCertificateColumns[6];

struct CertificateDialog {
  std::vector<std::array<std::wstring, 6>> rows;  // row i is entry i of the certificate list
};

// Opening: the certificate list read afresh from the store. The certificate
// selected before stays selected when it is still listed.
void OpenCertificateDialog(CertificateDialog* dialog);

// A double-click on a row, or OK with the row selected (-1: none): the row
// becomes the selected certificate, "IDC_CERT" its key identifier, and the
// top line of the status list goes. Without a row the user is told so and
// the dialog stays: false.
bool ChooseCertificateRow(const CertificateDialog& dialog, int row);

}  // namespace shell
