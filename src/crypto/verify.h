// Verification of signed CMS messages and the Russian signature report that
// the client shows and stores with a message.
//
// Called by SignMessage (to learn whether a content is signed and by how
// many), by the intake of received documents, the document view, delivery
// confirmations and the exchange-folder handlers. Re-entrant; reads the
// provider type in force (certificates.h).
#pragma once

#include <cstdint>
#include <string>

#include "crypto/data_block.h"

namespace crypto {

// Verdict codes, the refusal codes a caller can send back as they come.
constexpr uint8_t kVerdictNone = 0;
constexpr uint8_t kVerdictOutsideValidity = 111;  // signing time outside the certificate's validity
constexpr uint8_t kVerdictRevoked = 112;          // a certificate in the message is revoked
constexpr uint8_t kVerdictNoCertificate = 113;    // a signer's certificate is not in the message
constexpr uint8_t kVerdictBadSignature = 114;     // the cryptographic check failed (or no signing time)

// Returns -1 when the message is not a signed message (or its signers
// cannot be counted), 0 when it is signed but not every signature is valid,
// 1 when every signature is valid. signatureCount gets the number of
// signers (0 until known); content gets the signed content only when the
// result is 1; report is replaced by the report once the message is known
// to be signed; verdict (may be null) gets 0, or the last verdict code
// written. Logs "GDFSM" / "GDFSM - end".
int VerifyMessageSignature(const DataBlock& message, int* signatureCount, DataBlock* content,
                           std::wstring* report, uint8_t* verdict);

}  // namespace crypto
