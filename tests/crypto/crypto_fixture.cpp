// The fixture of the cryptography tests (see crypto_fixture.h).
#include "crypto_fixture.h"

#ifndef _WIN32
#include <openssl/pem.h>
#include <openssl/x509.h>
#endif

#include <cstdlib>
#include <filesystem>

#include "core/text.h"
#include "crypto/cms.h"
#include "platform/clock.h"
#include "storage/settings.h"
#ifdef _WIN32
#include "crypto/provider/test_stores.h"
#endif

namespace fs = std::filesystem;

namespace crypto_test {

void CryptoTest::SetUp() {
#ifdef _WIN32
  // The stores are the system's: the PKI goes into them for this test,
  // read where it was made.
  ASSERT_EQ(crypto::provider::InstallTestPki(Pki()), 0u);
#else
  fs::copy(TESSARIN_TEST_PKI, store.path, fs::copy_options::recursive);
  setenv("TESSARIN_CERTSTORE", store.path.c_str(), 1);
#endif
  crypto::ResetCertificateStateForTest();
  crypto::SetProviderTypeForTest(crypto::provider::OwnProviderType());
  storage::ClearSettings();
  storage::SetSettingText("IDC_PASS", L"12345678");
  platform::SetClockShiftForTest(0);
}

void CryptoTest::TearDown() {
  platform::SetClockShiftForTest(0);
  storage::ClearSettings();
  crypto::ResetCertificateStateForTest();
#ifdef _WIN32
  EXPECT_EQ(crypto::provider::RemoveTestPki(Pki()), 0u);
#else
  unsetenv("TESSARIN_CERTSTORE");
#endif
}

std::string CryptoTest::Pki() const {
#ifdef _WIN32
  return TESSARIN_TEST_PKI "/";
#else
  return store.path;
#endif
}

std::string CryptoTest::CertFile(const std::string& name) const {
  return Pki() + "pki/certs/" + name + ".pem";
}

std::string CryptoTest::KeyFile(const std::string& name) const {
  return store.path + "My/" + name + ".key";
}

std::string CryptoTest::PinFile(const std::string& name) const {
  return Pki() + "pki/" + name + ".pin";
}

Bytes CryptoTest::CertDer(const std::string& name) const {
  Bytes der;
  EXPECT_EQ(crypto::provider::QueryCertificate(test_support::ReadBytes(CertFile(name)), &der), 0u) << name;
  return der;
}

crypto::provider::CertInfo CryptoTest::Info(const std::string& name) const {
  crypto::provider::CertInfo info;
  EXPECT_EQ(crypto::provider::ReadCertificate(CertDer(name), &info), 0u) << name;
  return info;
}

crypto::KeyId CryptoTest::Id(const std::string& name) const {
  crypto::KeyId id{};
  Bytes keyId = Info(name).keyId;
  EXPECT_EQ(keyId.size(), id.size()) << name;
  std::copy_n(keyId.begin(), std::min(keyId.size(), id.size()), id.begin());
  return id;
}

std::string CryptoTest::CertBase64(const std::string& name) const {
  return core::Base64Encode(CertDer(name));
}

void CryptoTest::RemoveKey(const std::string& name) const {
#ifdef _WIN32
  ASSERT_EQ(crypto::provider::RemoveTestCertificate(CertDer(name)), 0u) << name;
#else
  ASSERT_TRUE(fs::remove(KeyFile(name))) << name;
#endif
}

Bytes CryptoTest::SignAt(const std::string& name, int64_t signingTime, const Bytes& content) const {
  crypto::provider::Store my;
  EXPECT_EQ(crypto::provider::OpenStore(crypto::provider::StoreName::My, &my), 0u);
  crypto::provider::Key key;
  EXPECT_EQ(crypto::provider::AcquireCertificateKey(my, CertDer(name), true, &key), 0u);
  EXPECT_EQ(crypto::provider::SetSignaturePin(&key, "12345678"), 0u);
  crypto::provider::SignParams params;
  params.hashOid = crypto::kHashOid;
  params.signingTimeOid = crypto::kSigningTimeOid;
  params.signingTime = signingTime;
  Bytes message;
  EXPECT_TRUE(crypto::provider::SignMessage(key, CertDer(name), params, content, &message).ok());
  return message;
}

#ifndef _WIN32
Bytes CryptoTest::MakeCrl(const std::string& signer, const std::string& issuer,
                          const std::vector<std::string>& revoked, const std::string& printableName) const {
  std::string keyPem = test_support::ReadText(store.path + "pki/" + signer + "/ca.key");
  BIO* bio = BIO_new_mem_buf(keyPem.data(), static_cast<int>(keyPem.size()));
  EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  Bytes issuerDer = CertDer(issuer);
  const unsigned char* cursor = issuerDer.data();
  X509* issuerCertificate = d2i_X509(nullptr, &cursor, static_cast<long>(issuerDer.size()));
  X509_NAME* name = X509_NAME_dup(X509_get_subject_name(issuerCertificate));
  if (!printableName.empty()) {
    X509_NAME_free(name);
    name = X509_NAME_new();
    size_t start = 1;
    while (start < printableName.size()) {
      size_t end = std::min(printableName.find('/', start), printableName.size());
      std::string part = printableName.substr(start, end - start);
      size_t equals = part.find('=');
      std::string value = part.substr(equals + 1);
      X509_NAME_add_entry_by_txt(name, part.substr(0, equals).c_str(), V_ASN1_PRINTABLESTRING,
                                 reinterpret_cast<const unsigned char*>(value.data()),
                                 static_cast<int>(value.size()), -1, 0);
      start = end + 1;
    }
  }
  X509_CRL* crl = X509_CRL_new();
  X509_CRL_set_version(crl, 1);
  X509_CRL_set_issuer_name(crl, name);
  ASN1_TIME* thisUpdate = ASN1_TIME_set(nullptr, platform::UnixNow() - 3600);
  ASN1_TIME* nextUpdate = ASN1_TIME_set(nullptr, 2240611200LL);  // 2041-01-01
  X509_CRL_set1_lastUpdate(crl, thisUpdate);
  X509_CRL_set1_nextUpdate(crl, nextUpdate);
  for (const std::string& holder : revoked) {
    Bytes der = CertDer(holder);
    cursor = der.data();
    X509* certificate = d2i_X509(nullptr, &cursor, static_cast<long>(der.size()));
    X509_REVOKED* entry = X509_REVOKED_new();
    X509_REVOKED_set_serialNumber(entry, X509_get_serialNumber(certificate));
    X509_REVOKED_set_revocationDate(entry, thisUpdate);
    X509_CRL_add0_revoked(crl, entry);
    X509_free(certificate);
  }
  X509_CRL_sort(crl);
  EXPECT_GT(X509_CRL_sign(crl, key, EVP_sha256()), 0) << signer;
  unsigned char* out = nullptr;
  int size = i2d_X509_CRL(crl, &out);
  Bytes encoded(out, out + std::max(size, 0));
  OPENSSL_free(out);
  ASN1_TIME_free(thisUpdate);
  ASN1_TIME_free(nextUpdate);
  X509_CRL_free(crl);
  X509_NAME_free(name);
  X509_free(issuerCertificate);
  EVP_PKEY_free(key);
  return encoded;
}
#endif

std::string CryptoTest::NormalLog() const {
  std::string text;
  fs::path folder = fs::path(logs.folder.path) / "Tessarin" / "Normal";
  std::error_code ignored;
  std::vector<fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder, ignored)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) text += test_support::ReadText(file.string());
  return text;
}

bool CryptoTest::Run(const std::string& command) const {
  std::string line = command + " >>" + scratch.path + "command.out 2>>" + scratch.path + "command.err";
  return std::system(line.c_str()) == 0;
}

crypto::DataBlock Block(const std::string& text) {
  return crypto::MakeBlock(Bytes(text.begin(), text.end()));
}

crypto::DataBlock Block(const Bytes& bytes) {
  return crypto::MakeBlock(bytes);
}

std::string Text(const crypto::DataBlock& block) {
  Bytes bytes = crypto::BlockBytes(block);
  return std::string(bytes.begin(), bytes.end());
}

std::vector<std::wstring> ReportLines(const std::wstring& report) {
  std::vector<std::wstring> lines;
  size_t start = 0;
  for (;;) {
    size_t end = report.find(L"\r\n", start);
    lines.push_back(report.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
    if (end == std::wstring::npos) break;
    start = end + 2;
  }
  return lines;
}

}  // namespace crypto_test
