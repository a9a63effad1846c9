// The steps every request within a session shares: the record's frame
// enciphered under the session key, sent with operation 0xAC behind the
// session identifier, and the answer record read back under the same key.
// SendMessageAndGetAnswer, the list request and the status request (which
// read their answers each in its own way) are built on them.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "crypto/certificates.h"
#include "link/exchange_record.h"

namespace exchange {

// The session a request was sent under, copied from the selected entry.
struct SessionKeys {
  crypto::KeyId keyId{};             // the selected certificate
  std::array<uint8_t, 64> id{};      // session identifier
  std::array<uint8_t, 64> key{};     // session key
};

// Sends the request under the selected entry's session and fills *answer.
// Returns SendMessageToServer's result: the answer length, 0 when nothing
// came back, a negative value when nothing could be sent (also -1 without a
// selected certificate).
int SendInSession(const serverlink::ExchangeRecord& request, std::vector<uint8_t>* answer, SessionKeys* keys);

// Reads the record of a 173 answer: deciphers the bytes behind the 9-byte
// head under the session key and parses them. False when the answer holds
// no whole block behind its head or the record is cut short; nothing is
// read outside the answer.
bool ReadSessionAnswer(std::vector<uint8_t>* answer, const SessionKeys& keys, serverlink::ExchangeRecord* record);

// The session start's answers, read within their length. A session
// grant (kind 171) holds the session identifier at bytes 9-72, a record
// whose payload is the session key enveloped for the certificate, and the
// 64-byte proof at its end.
struct SessionGrant {
  std::array<uint8_t, 64> id{};       // session identifier
  serverlink::ExchangeRecord record;  // the record with the enveloped key
  size_t provenBytes = 0;             // bytes from offset 73 that the proof covers
};

constexpr size_t kSessionRecordOffset = 9 + 64;  // where the grant's record starts
constexpr size_t kProofBytes = 64;               // the proof closes a grant

// False when the answer is shorter than its fixed fields or its record is
// cut short.
bool ParseSessionGrant(const std::vector<uint8_t>& answer, SessionGrant* grant);

// True when a not-registered answer (kind 170) holds a refusal record with
// code 1.
bool SaysNotRegistered(const std::vector<uint8_t>& answer);

}  // namespace exchange
