// Test support of the Windows backend: puts a test PKI made by
// scripts/make-test-pki --rsa into the stores "My" and "CA" of the current
// user, and takes it out again. Called by the fixture of the cryptography
// tests under Wine only; the Linux tests point TESSARIN_CERTSTORE at a copy
// of the folder instead.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace crypto::provider {

// Empties both stores and the test key containers, then adds, from
// `folder` (the one make-test-pki filled): each organisation's certificate
// to "My" with its key in a container of its own ("tessarin-test-NAME",
// Microsoft's AES provider, key exchange key) named by the certificate's
// key-provider property; the issuers' certificates and revocation lists of
// CA/ to "CA". Both stores are committed. 0, or the code of the call that
// failed.
uint32_t InstallTestPki(const std::string& folder);

// Empties both stores and removes the test key containers of `folder`.
uint32_t RemoveTestPki(const std::string& folder);

// Removes the certificate of "My" with this encoding (a key medium taken
// away keeps its container; a certificate gone is not found).
uint32_t RemoveTestCertificate(const std::vector<uint8_t>& der);

}  // namespace crypto::provider
