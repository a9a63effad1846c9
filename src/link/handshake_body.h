// The session-start body (MHFS) and the client identifier (MakeID) of the
// selected certificate. The session start and the registration of the
// exchange subsystem send MHFS's block with operation 0xB1. Layout in
// docs/transport.md ("The session-start body").
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/data_block.h"

namespace serverlink {

// First byte of a session-start body that asks for the registration of the
// organisation.
constexpr uint8_t kRegistrationMark = 0xB2;

// The client's version 3.14.9.1 as it goes into the session-start body.
inline constexpr uint8_t kClientVersionBytes[4] = {0x01, 0x09, 0x0E, 0x03};

// Fixed bytes around the certificate: mark, length, version, branch.
constexpr size_t kHandshakeOverhead = 1 + 4 + 4 + 2;

// The session-start body of the selected certificate: the registration
// mark (0xB2) or 0, the certificate's length n (4 bytes, little-endian),
// its DER encoding, the version bytes 01 09 0E 03, the branch (the setting
// "IDC_BRANCH" read as a decimal number, 2 bytes little-endian), zero bytes
// up to a multiple of 16. A missing "IDC_BRANCH" is created empty. Makes
// the client identifier first when it is still all zero. False (after
// logging) without a selected certificate, when the certificate cannot be
// read or the identifier cannot be made. Logs "MHFS" / "MHFS - end".
bool MHFS(crypto::DataBlock* out, bool registration);

// Makes the client identifier of the selected certificate: the certificate
// with its UNP (4 bytes) and key identifier appended is signed (the PIN
// given), the signed message's digest becomes the entry's identity digest,
// and SHA-512 of UNP, key identifier and identity digest its client
// identifier. False (after logging) when any step fails; the entry is then
// left as it was. Logs "Make" / "Make - end".
bool MakeID();

}  // namespace serverlink
