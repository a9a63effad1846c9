// The organisation's e-mail address: kept in the setting "IDC_EMAIL" and
// registered with the server. Each time CTS finds a working link, the
// address the server holds is read and, when it differs from the setting,
// the setting's address is sent. Only the log records this exchange.
//
// Runs on the thread of CTS; everything here needs the connected flag.
#pragma once

#include <cstdint>
#include <string>

namespace exchange {

constexpr uint8_t kTypeReadEmail = 14;      // answer: 174 with the address bytes
constexpr uint8_t kTypeRegisterEmail = 16;  // payload: the address bytes and one zero byte

// Compares the setting with the server's address and sends the setting's
// address when they differ. Nothing happens for an empty or missing
// setting. Characters above one byte are cut to their low byte on the way
// out; an address altered so is sent altered and logged. Logs "Check
// Email" / "Check Email - end".
void CheckEmail();

// The address the server holds, up to its first zero byte; empty when the
// link flag is clear or the server did not accept the request. Logs
// "GetEmail" / "GetEmail - end".
std::string GetEmail();

// Registers the address with the server while the link flag is set;
// the answer is not examined. Always true. Logs "SendEmail" / "SendEmail -
// end".
bool SendEmail(const std::string& address);

}  // namespace exchange
