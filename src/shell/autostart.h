// The autostart entry that starts the client when the user logs on, kept in
// line with the setting "IDC_RUN". Called by the start-up once the work has
// started, and by the parameters dialog after its OK restarted the work.
#pragma once

#include <string>

namespace shell {

// The prefix of the entry's name; the selected certificate's УНП follows.
extern const char kAutostartNamePrefix[];

// With "IDC_RUN" on, adds the entry "Tessarin <УНП>" for `executablePath`
// unless some entry's command already holds that path; with it off, deletes
// that entry when some entry holds the path. Logs "ATA" ... "ATA - end";
// every failure is an error line only. An empty path means it could not be
// found (LastSystemError() tells why).
void UpdateAutostart(const std::string& executablePath);

}  // namespace shell
