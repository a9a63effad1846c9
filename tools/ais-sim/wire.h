// The answer forms the client parses, built from the server's side of the
// transport envelope (link/envelope.h):
//
//   plain      0xFF or 0xAE, a code byte, zero bytes up to the 9 of a
//              header; the client takes it as it comes;
//   enveloped  a 9-byte head (kind, length, time) followed by a body
//              enciphered with the outer key of the request's time T:
//              170 (not registered), 171 (session granted), 173 (a record
//              enciphered first under the session key).
//
// Used by the handshake and the in-session handlers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "link/exchange_record.h"

namespace aissim {

constexpr uint8_t kKindNotRegistered = 170;  // 0xAA: body is a record of type 255 with code 1
constexpr uint8_t kKindSession = 171;        // 0xAB: identifier, key record, proof
constexpr uint8_t kKindRecord = 173;         // 0xAD: a record under the session key

// Record types of answers.
constexpr uint8_t kTypeRefused = 255;   // payload: one result code
constexpr uint8_t kTypeAccepted = 174;  // payload: one acknowledgement byte
constexpr uint8_t kTypeList = 32;       // payload: 4-byte message identifiers

// Result codes the simulator answers with.
constexpr uint8_t kCodeNotRegistered = 1;
constexpr uint8_t kCodeUpdateRequired = 3;
constexpr uint8_t kCodeKeyInactive = 4;
constexpr uint8_t kCodeNoRights = 5;
constexpr uint8_t kCodeServerError = 6;
constexpr uint8_t kCodeUnknownSession = 7;
constexpr uint8_t kCodeNoRecord = 8;
constexpr uint8_t kCodeUnknownRecipient = 9;
constexpr uint8_t kCodeAlreadyPresent = 10;
constexpr uint8_t kCodeBadFormat = 11;
constexpr uint8_t kCodeClock = 12;
constexpr uint8_t kCodeNothingWaiting = 101;

// 0xFF or 0xAE, the code, seven zero bytes.
std::vector<uint8_t> PlainAnswer(uint8_t kind, uint8_t code);

// The 9-byte head (kind, body length, time in the request header's byte
// order) and the body enciphered with the outer key of `time`. The body's
// length must be a multiple of 16. Empty when the key could not be made.
std::vector<uint8_t> EnvelopedAnswer(uint8_t kind, uint32_t time, const std::vector<uint8_t>& body);

// A 173 answer carrying the record, enciphered under the session key and
// then under the outer key.
std::vector<uint8_t> RecordAnswer(uint32_t time, const uint8_t sessionKey[64],
                                  const serverlink::ExchangeRecord& record);

// Records of type 255 with one result code, of type 174 with one
// acknowledgement byte.
serverlink::ExchangeRecord RefusalRecord(uint8_t code);
serverlink::ExchangeRecord AcceptedRecord(uint8_t acknowledgement);

}  // namespace aissim
