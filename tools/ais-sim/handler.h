// One request, from the bytes that arrived to the bytes that go back: the
// transport envelope is taken off, faults armed through the admin API are
// applied, the session start or the in-session request is handled, and a
// line for the traffic log is made. Works on bytes only, so the tests and
// the fuzz target drive it without a network; the connection threads of
// server.cpp call it for every request.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/envelope.h"

namespace aissim {

// Settings of the request handling, from the command line and the admin
// API.
struct HandlerSettings {
  int64_t clockTolerance = 300;     // seconds a request's time may differ from the simulator's clock
  bool registrationAllowed = true;  // a session start with the registration mark registers
  uint8_t registrationRefusal = 5;  // code of the plain answer when registration is refused
  bool contentChecks = true;        // routed documents are opened and their signatures verified
};

void SetHandlerSettings(const HandlerSettings& settings);
HandlerSettings GetHandlerSettings();

// What one request is, as far as the traffic log and the faults care.
struct Exchange {
  uint8_t operation = 0;      // operation byte of the header
  uint32_t time = 0;          // T of the header
  int type = -1;              // request type (177 for a session start), -1 until known
  std::string organisation;   // "УНП/branch" once known
  std::string result;         // the answer: kind, then type/code
  std::string note;           // why, when refused
};

// What the connection does with the answer.
struct Reply {
  std::vector<uint8_t> answer;  // the bytes to send
  bool drop = false;            // close without sending anything
  int delayMs = 0;              // wait this long before sending
  std::string logLine;          // one line: request and answer
};

// Header-level limits: a body longer than this is refused unread.
constexpr uint32_t kDefaultMaxBody = 32u << 20;

// Checks a header before its body is read: the operation byte is known and
// the body length is a nonzero multiple of 16 within maxBody (and holds a
// session identifier for in-session requests). Empty when acceptable,
// otherwise the reason.
std::string CheckHeader(const serverlink::RequestHeader& header, uint32_t maxBody);

// The reply to a header that CheckHeader refused: a plain refusal with code
// 11, logged.
Reply RefuseHeader(const serverlink::RequestHeader& header, const std::string& reason);

// Handles a request whose header CheckHeader accepted; body holds the L
// bytes that followed the header, still enciphered.
Reply HandleRequest(const serverlink::RequestHeader& header, std::vector<uint8_t> body);

// The whole request as it came off the wire (header and body); refuses
// what CheckHeader refuses or a body of another length.
Reply HandleRequestBytes(const uint8_t* data, size_t size, uint32_t maxBody);

}  // namespace aissim
