// The fixture of the cryptography tests: a copy of the test PKI made at
// build time by scripts/make-test-pki as the certificate store (on
// Windows: put into the system stores for the test, made with --rsa), the log in
// a folder of its own, the PIN setting, and helpers to name the PKI's
// certificates, read the log and run the openssl command line.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/certificates.h"
#include "crypto/data_block.h"
#include "crypto/provider/provider.h"
#include "test_support.h"

namespace crypto_test {

using crypto::provider::Bytes;

class CryptoTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Paths inside the store copy; on Windows the PKI is read where it was
  // made (Pki()), and the store folder is not used.
  std::string Store() const { return store.path; }
  std::string Pki() const;
  std::string CertFile(const std::string& name) const;   // pki/certs/<name>.pem
  std::string KeyFile(const std::string& name) const;    // My/<name>.key
  std::string PinFile(const std::string& name) const;    // pki/<name>.pin

  // A certificate of the PKI: DER, what the provider reads of it, its IKS.
  Bytes CertDer(const std::string& name) const;
  crypto::provider::CertInfo Info(const std::string& name) const;
  crypto::KeyId Id(const std::string& name) const;
  // Base64 of its DER, as a recipient of CryptMessage.
  std::string CertBase64(const std::string& name) const;

  // Takes the key medium of a certificate away (on Windows: the
  // certificate of "My").
  void RemoveKey(const std::string& name) const;

  // A message signed by the certificate at a chosen signing time, made
  // through the provider layer directly.
  Bytes SignAt(const std::string& name, int64_t signingTime, const Bytes& content) const;

  // A current revocation list (this update an hour ago, next update in
  // 2041) listing the certificates `revoked`, signed with the key of the
  // PKI's issuer `signer` ("ca1", "ca2", ...). Its issuer name is the
  // subject of `issuer`'s certificate as encoded there, or, when
  // `printableName` is given ("/CN=.../O=.../C=..."), that name with every
  // value a PrintableString.
#ifndef _WIN32
  Bytes MakeCrl(const std::string& signer, const std::string& issuer, const std::vector<std::string>& revoked,
                const std::string& printableName = "") const;
#endif

  // Everything written to the Normal log so far.
  std::string NormalLog() const;

  // Runs a shell command line; true when it exited with 0. Its output goes
  // to files of the scratch folder.
  bool Run(const std::string& command) const;
  std::string Scratch() const { return scratch.path; }

  test_support::ScopedLogFolder logs;  // the log of the test
  test_support::TempFolder store;      // the certificate store
  test_support::TempFolder scratch;    // files for the openssl command line
};

crypto::DataBlock Block(const std::string& text);
crypto::DataBlock Block(const Bytes& bytes);
std::string Text(const crypto::DataBlock& block);

// Lines of a report split at "\r\n".
std::vector<std::wstring> ReportLines(const std::wstring& report);

}  // namespace crypto_test
