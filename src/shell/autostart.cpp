// The autostart entry of the client (see autostart.h), called by the
// start-up on the user-interface thread.
#include "shell/autostart.h"

#include <vector>

#include "core/log.h"
#include "core/text.h"
#include "crypto/certificates.h"
#include "platform/autostart.h"
#include "platform/error.h"
#include "storage/settings.h"

namespace shell {

const char kAutostartNamePrefix[] = "Tessarin ";

namespace {

// Logs "ATA - end" when it gets past the path and the entries; a failure
// there ends with its error line alone.
void Update(const std::string& executablePath) {
  crypto::CertificateEntry selected;
  if (!crypto::GetSelectedEntry(&selected)) {
    core::LogError("Не выбран сертификат", 0);
    core::LogInfo("ATA - end");
    return;
  }
  if (executablePath.empty()) {
    core::LogError("Cannot GetModuleFileName", platform::LastSystemError());
    return;
  }
  std::string name = kAutostartNamePrefix + core::ToNarrow(selected.unpText, core::kCodePageUtf8);

  std::vector<platform::AutostartEntry> entries;
  if (!platform::ListAutostartEntries(&entries)) {
    core::LogError("RegOpenKeyEx - KEY_QUERY_VALUE", platform::LastSystemError());
    return;
  }
  // The client counts as registered under any name: a copy of it may have
  // been added by hand or under another certificate.
  bool registered = false;
  for (const platform::AutostartEntry& entry : entries) {
    if (entry.command.find(executablePath) != std::string::npos) registered = true;
  }

  bool wanted = storage::GetSettingInt("IDC_RUN") != 0;
  if (registered && !wanted) {
    core::LogInfo("Delete Register");
    if (!platform::DeleteAutostartEntry(name)) core::LogError("RegDeleteValueW", platform::LastSystemError());
  } else if (!registered && wanted) {
    core::LogInfo("Update Register");
    if (!platform::WriteAutostartEntry(name, executablePath)) {
      core::LogError("RegSetValueEx", platform::LastSystemError());
    }
  }
  core::LogInfo("ATA - end");
}

}  // namespace

void UpdateAutostart(const std::string& executablePath) {
  core::LogInfo("ATA");
  try {
    Update(executablePath);
  } catch (...) {
    core::LogException("UpdateAutostart");
  }
}

}  // namespace shell
