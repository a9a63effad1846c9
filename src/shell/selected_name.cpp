// The selected certificate's display name (see selected_name.h). No
// certificate can be chosen until the certificate list exists, so nothing
// is selected yet.
#include "shell/selected_name.h"

namespace shell {

std::wstring SelectedCertificateName() { return std::wstring(); }

}  // namespace shell
