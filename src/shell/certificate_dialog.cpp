// The certificate choice (see certificate_dialog.h).
#include "shell/certificate_dialog.h"

#include "crypto/certificates.h"
#include "platform/ui.h"
#include "storage/settings.h"

namespace shell {

const wchar_t* const kCertificateColumns[6] = {L"Сертификат", L"УНП", L"c", L"по", L"ID", L"Издатель"};

void OpenCertificateDialog(CertificateDialog* dialog) {
  dialog->rows.clear();
  // A new list may hold the selected certificate at another index: the
  // selection follows the certificate, not the index.
  crypto::CertificateEntry selected;
  bool hadSelection = crypto::GetSelectedEntry(&selected);
  crypto::ListCertificates();
  crypto::SelectCertificate(-1);
  crypto::CertificateEntry entry;
  for (int i = 0; crypto::GetCertificateEntry(i, &entry); ++i) {
    dialog->rows.push_back({entry.subjectName, entry.unpText, entry.validFromText, entry.validToText, entry.keyIdText,
                            entry.issuerName});
    if (hadSelection && entry.keyIdText == selected.keyIdText) crypto::SelectCertificate(i);
  }
}

bool ChooseCertificateRow(const CertificateDialog& dialog, int row) {
  crypto::CertificateEntry entry;
  if (row < 0 || static_cast<size_t>(row) >= dialog.rows.size() || !crypto::GetCertificateEntry(row, &entry) ||
      entry.keyIdText != dialog.rows[static_cast<size_t>(row)][4]) {
    platform::ui::MessageBox(L"Сертификат не выбран", L"Выбор сертификатата", platform::ui::Buttons::Ok);
    return false;
  }
  crypto::SelectCertificate(row);
  storage::SetSettingText("IDC_CERT", entry.keyIdText);
  platform::ui::StatusListRemoveTop();
  return true;
}

}  // namespace shell
