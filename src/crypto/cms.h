// CMS messages the client exchanges with the server and the accounting
// system: signing a content with the user's certificate (first signature,
// or a further one added to a signed message), encrypting for recipient
// certificates or for a public key, decrypting an envelope, reading the
// message digest of a signed message and exporting the user's public key.
//
// Called by the exchange operations, the reply and confirmation code, the
// document view and the exchange-folder handlers, from the main thread,
// the exchange-folder thread and the web threads. Each call opens and
// releases its own store and provider handles; the provider type in force
// and the PIN setting "IDC_PASS" are read as they are at the call.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "crypto/certificates.h"
#include "crypto/data_block.h"

namespace crypto {

// Object identifiers the program names its algorithms by. A test build
// for a provider without the national algorithms (Windows under Wine) is
// configured with TESSARIN_TEST_ALGORITHMS and names SHA-256 and 3DES
// instead (docs/crypto-provider.md); nothing at run time chooses them.
#ifdef TESSARIN_TEST_ALGORITHMS
constexpr char kHashOid[] = "2.16.840.1.101.3.4.2.1";                // SHA-256
constexpr char kContentEncryptionOid[] = "1.2.840.113549.3.7";      // 3DES (DES-EDE3-CBC)
#else
constexpr char kHashOid[] = "1.2.112.0.2.0.34.101.31.81";
constexpr char kContentEncryptionOid[] = "1.2.112.0.2.0.34.101.31.33";
#endif
constexpr char kSigningTimeOid[] = "1.2.840.113549.1.9.5";
constexpr char kMessageDigestOid[] = "1.2.840.113549.1.9.4";

// Signs content with the certificate of "My" named by ownKeyId: a first
// signature when the content is not a signed message, otherwise a further
// signer. With pinFlag the PIN "IDC_PASS" is given to the provider.
// Returns 0, or 1 (refused: already two valid signatures, no certificate,
// no key) or the provider's error code (SCARD_E_NO_SMARTCARD 0x8010000C
// when the key medium is missing). Logs "SM" / "SM - end".
uint32_t SignMessage(const DataBlock& content, const KeyId& ownKeyId, DataBlock* out, bool pinFlag);

// A recipient of CryptMessage: its certificate, and optionally a public key
// that takes the place of the certificate's own (both Base64 texts).
struct Recipient {
  std::string certificate;  // Base64 of the certificate
  std::string publicKey;    // Base64 of a replacement public key, or empty
};

// Encrypts for the recipients that can be read; a recipient whose
// certificate (or replacement key) cannot be read is left out. Logs "CM" /
// "CM - end".
bool CryptMessage(const DataBlock& content, const std::vector<Recipient>& recipients, DataBlock* out);

// Encrypts for a recipient known only by a DER SubjectPublicKeyInfo and a
// key identifier, naming the recipient by that identifier. The output's
// label becomes "pbSing". Logs "CMBPK" / "CMBPK - end".
bool CryptMessageByPublicKey(const DataBlock& content, const KeyId& ownKeyId, const DataBlock& publicKey,
                             const KeyId& recipientKeyId, DataBlock* out);

// Why DecryptMessage failed: a problem of this machine's key, or of the
// envelope itself.
enum class DecryptFailure {
  None,         // it did not fail
  NoKeyMedium,  // the key container is missing or cannot be read
  PinRefused,   // the PIN "IDC_PASS" does not open the key
  Envelope,     // any other failure: not addressed to this key, damaged, ...
};

// Opens an envelope addressed to the certificate named by ownKeyId; when it
// fails and failure is given, says why. Logs "DM" / "DM - end".
bool DecryptMessage(const DataBlock& envelope, const KeyId& ownKeyId, DataBlock* out,
                    DecryptFailure* failure = nullptr);

// The message digest of a message with exactly one signer. Logs "GDFE" /
// "GDFE - end".
bool GetDataFromEncode(const DataBlock& message, DataBlock* out);

// The DER SubjectPublicKeyInfo of the key of the certificate named by
// ownKeyId. Logs "GPKFCBC" / "GPKFCBC - end".
bool GPKFCBC(const KeyId& ownKeyId, DataBlock* out);

}  // namespace crypto
