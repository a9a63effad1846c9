// What the simulator does with certificates and keys: reads an
// organisation's certificate (key identifier, УНП, name, validity), makes
// the enveloped session key, and, when a test PKI made by
// scripts/make-test-pki is given (option --pki), signs and encrypts
// documents as one of its organisations and opens documents addressed to
// them, so that their signatures can be checked.
//
// Uses the provider layer of src/crypto/ directly: the simulator holds no
// settings and no selected certificate. Called by the handshake, the
// document checks and the admin API, from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace aissim {

using Bytes = std::vector<uint8_t>;

// What the server reads from an organisation's certificate.
struct CertificateFacts {
  std::string iks;                 // key identifier, 40 upper-case hex digits
  std::array<uint8_t, 20> iksBytes{};  // the same as bytes
  bool hasUnp = false;             // the УНП extension was there with nine characters
  int32_t unp = 0;                 // the УНП read as a decimal number
  std::string name;                // subject display name, UTF-8
  int64_t notBefore = 0;           // validity start, seconds since 1970
  int64_t notAfter = 0;            // validity end, seconds since 1970
};

// Reads a DER certificate; false when it does not parse or has no 20-byte
// key identifier.
bool ReadCertificateFacts(const Bytes& der, CertificateFacts* facts);

// What the simulator signs and encrypts with (the session key of a
// handshake, the documents of POST /messages): the national algorithms, or
// with `test` SHA-256 and 3DES, as a client built with the test profile
// (TESSARIN_TEST_ALGORITHMS, the Windows build) does. Set once at start.
void UseTestAlgorithms(bool test);

// An envelope of `content` for the certificate, as the client's provider
// opens it. False when the certificate cannot be used.
bool EncryptFor(const Bytes& certificateDer, const Bytes& content, Bytes* envelope);

// The test PKI ---------------------------------------------------------------------

// One organisation of the test PKI (a line of pki/manifest.txt).
struct PkiOrganisation {
  std::string name;        // short name, e.g. "alpha"
  std::string iks;         // key identifier, 40 upper-case hex digits
  Bytes certificate;       // DER
  std::string pin;         // PIN in code page 1251, as the key container wants it
};

// Loads the PKI of a store folder made by make-test-pki (My/, CA/, pki/)
// and makes it the certificate store of this process. False (with the
// reason) when the manifest or a certificate cannot be read.
bool LoadPki(const std::string& folder, std::string* error);
bool PkiLoaded();
std::vector<PkiOrganisation> PkiOrganisations();
// Nothing found: false.
bool FindPkiByName(const std::string& name, PkiOrganisation* found);
bool FindPkiByIks(const std::string& iks, PkiOrganisation* found);

// A signed message of `content` by the organisation, with its certificate
// and the signing time `signingTime` (seconds since 1970).
bool SignAs(const PkiOrganisation& organisation, const Bytes& content, int64_t signingTime, Bytes* signedMessage,
            std::string* error);

// Opens an envelope addressed to the organisation.
bool DecryptAs(const PkiOrganisation& organisation, const Bytes& envelope, Bytes* content);

}  // namespace aissim
