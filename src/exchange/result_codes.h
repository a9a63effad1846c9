// The server's result codes and the refusal codes, with their texts.
//
// The server refuses a request with a one-byte result code; a recipient
// refuses a document with a one-byte refusal code of its own, which also
// comes back to the sender. The lookups turn a code into its text for the
// answers to the accounting system, the web page and the dialogs; the web
// page also offers the refusal table as its list of reasons. The exchange
// operations themselves act on the codes below and show texts of their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace exchange {

// Codes with a fixed meaning in the client's own logic.
constexpr uint8_t kCodeNotRegistered = 1;    // start the registration
constexpr uint8_t kCodeUpdateRequired = 3;   // update the program
constexpr uint8_t kCodeUnknownSession = 7;   // clear the session and start a new one
constexpr uint8_t kCodeAlreadyPresent = 10;  // a reply the server already holds counts as delivered
constexpr uint8_t kCodeClock = 12;           // the clock differs from the server's
constexpr uint8_t kCodeNothingWaiting = 101; // no messages wait; the link is fine

// Refusal codes the client sends by itself.
constexpr uint8_t kRefusalNotDecrypted = 115;    // the envelope did not open
constexpr uint8_t kRefusalUnknownContent = 191;  // the content is not a signed message

struct CodeText {
  uint8_t code;          // the one-byte code
  const wchar_t* text;   // what it means, as the user reads it
};

// The 16 result codes of the server and the 12 refusal codes, in table
// order.
extern const CodeText kResultCodes[16];
extern const CodeText kRefusalCodes[12];

// The text of the first row with the code; empty for an unknown code.
std::wstring ResultText(uint8_t code);
std::wstring RefusalText(uint8_t code);

}  // namespace exchange
