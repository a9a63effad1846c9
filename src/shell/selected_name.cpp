// The selected certificate's display name (see selected_name.h).
#include "shell/selected_name.h"

#include "crypto/certificates.h"

namespace shell {

std::wstring SelectedCertificateName() {
  crypto::CertificateEntry entry;
  return crypto::GetSelectedEntry(&entry) ? entry.subjectName : std::wstring();
}

}  // namespace shell
