// tsr-tool doctor: the checks that answer "why does the client not work?"
// for a program folder, one group of checks per doctor_*.cpp file, run in
// the order of the table in command_doctor.cpp. Each check reads what the
// earlier ones found from the Doctor record and uses the client's own
// functions, so that its verdict is the client's.
#pragma once

#include <cstdint>
#include <string>

#include "crypto/certificates.h"

namespace tsr_tool::doctor {

enum class Verdict { Ok, Warn, Fail };

// What one check found: the user's text in Russian (what was found and what
// to do) and the technical detail for support staff.
struct Finding {
  Verdict verdict = Verdict::Ok;
  std::string message;  // Russian, UTF-8
  std::string detail;   // technical, may be empty
};

inline Finding Ok(std::string message, std::string detail = "") {
  return {Verdict::Ok, std::move(message), std::move(detail)};
}
inline Finding Warn(std::string message, std::string detail = "") {
  return {Verdict::Warn, std::move(message), std::move(detail)};
}
inline Finding Fail(std::string message, std::string detail = "") {
  return {Verdict::Fail, std::move(message), std::move(detail)};
}

// What the checks found so far, for the checks after them.
struct Doctor {
  std::string folder;          // the program folder, ending with the separator
  int timeoutMs = 15000;       // of each network step
  bool settings = false;       // TS.db opened and the settings loaded
  bool certificate = false;    // the certificate of "IDC_CERT" is selected
  crypto::CertificateEntry entry;  // its entry
  bool container = false;      // its container opens with the stored PIN
  bool reachable = false;      // the server (or the proxy's tunnel) took a connection
  bool handshakeRan = false;   // the session start was tried
  bool session = false;        // a session was opened
  int stateAfterHandshake = 0; // the client state the session start left
};

struct Check {
  const char* name;                 // "group.check"
  int timeoutSeconds;               // the check is given up after this long
  Finding (*run)(Doctor& doctor);
};

// The groups (doctor_<group>.cpp).
Finding CheckPrograms(Doctor& doctor);
Finding CheckDatabase(Doctor& doctor);
Finding CheckRunning(Doctor& doctor);
Finding CheckDiskSpace(Doctor& doctor);

Finding CheckCertificate(Doctor& doctor);
Finding CheckContainer(Doctor& doctor);
Finding CheckExchangeFolder(Doctor& doctor);
Finding CheckProxySettings(Doctor& doctor);

Finding CheckValidity(Doctor& doctor);
Finding CheckRevocationList(Doctor& doctor);

Finding CheckResolve(Doctor& doctor);
Finding CheckConnect(Doctor& doctor);
Finding CheckHandshake(Doctor& doctor);
Finding CheckClock(Doctor& doctor);
Finding CheckServiceStatus(Doctor& doctor);

Finding CheckWebInterface(Doctor& doctor);

// Helpers shared by the groups.
std::string SettingText(const char* name);  // UTF-8, empty when unset
std::string DateText(int64_t fileTime);     // "yyyy-mm-dd" (UTC)

}  // namespace tsr_tool::doctor
