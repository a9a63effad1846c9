// The session start (operation 0xB1): the body is the session-start block
// of the client (registration mark, the organisation's certificate, the
// client version and the branch). Unknown organisations are told they are
// not registered (170 with a record of type 255, code 1) unless the block
// carries the registration mark; known ones get a session (171): the new
// session identifier, a record whose payload is the session key enveloped
// for the certificate, and the SHA-512 proof over that record and the key.
// Called by handler.cpp.
#pragma once

#include <cstdint>
#include <vector>

#include "handler.h"

namespace aissim {

// The parts of a session-start block.
struct SessionStartBlock {
  bool registration = false;           // byte 0 was the registration mark 0xB2
  std::vector<uint8_t> certificate;    // DER of the organisation's certificate
  uint8_t version[4] = {};             // client version, lowest part first
  uint16_t branch = 0;                 // branch number
};

constexpr uint8_t kRegistrationMark = 0xB2;

// Reads a deciphered session-start block; false when it does not parse
// (another first byte, a certificate length that runs past the block).
bool ParseSessionStart(const std::vector<uint8_t>& block, SessionStartBlock* parsed);

// The answer to a deciphered session-start block.
std::vector<uint8_t> AnswerSessionStart(const std::vector<uint8_t>& block, Exchange* exchange);

}  // namespace aissim
