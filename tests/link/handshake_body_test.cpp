// MHFS and MakeID against the test PKI (scripts/make-test-pki) used as the
// certificate store, and against a certificate of exactly 1000 bytes made
// here.
#include "link/handshake_body.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/sha.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdlib>
#include <filesystem>

#include "core/text.h"
#include "crypto/certificates.h"
#include "crypto/provider/provider.h"
#include "storage/settings.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

class HandshakeBody : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::copy(TESSARIN_TEST_PKI, store.path, fs::copy_options::recursive);
    setenv("TESSARIN_CERTSTORE", store.path.c_str(), 1);
    crypto::ResetCertificateStateForTest();
    crypto::SetProviderTypeForTest(crypto::provider::OwnProviderType());
    storage::ClearSettings();
    storage::SetSettingText("IDC_PASS", L"12345678");
  }

  void TearDown() override {
    storage::ClearSettings();
    crypto::ResetCertificateStateForTest();
    unsetenv("TESSARIN_CERTSTORE");
  }

  // The DER of a certificate of the PKI.
  std::vector<uint8_t> Der(const std::string& name) const {
    std::vector<uint8_t> der;
    EXPECT_EQ(crypto::provider::QueryCertificate(test_support::ReadBytes(store.path + "pki/certs/" + name + ".pem"), &der),
              0u);
    return der;
  }

  // Lists the store and selects the certificate with that DER; its index.
  int Select(const std::vector<uint8_t>& der) {
    EXPECT_GT(crypto::ListCertificates(), 0);
    crypto::provider::CertInfo info;
    EXPECT_EQ(crypto::provider::ReadCertificate(der, &info), 0u);
    for (int i = 0; i < crypto::CertificateCount(); ++i) {
      crypto::CertificateEntry entry;
      crypto::GetCertificateEntry(i, &entry);
      if (std::equal(entry.keyId.begin(), entry.keyId.end(), info.keyId.begin(), info.keyId.end())) {
        crypto::SelectCertificate(i);
        return i;
      }
    }
    ADD_FAILURE() << "certificate not listed";
    return -1;
  }

  crypto::CertificateEntry Selected() const {
    crypto::CertificateEntry entry;
    EXPECT_TRUE(crypto::GetSelectedEntry(&entry));
    return entry;
  }

  std::string LogText() const {
    std::string all;
    for (const std::string& file : test_support::ListTree(log.folder.path)) {
      if (file.size() > 4 && file.compare(file.size() - 4, 4, ".txt") == 0) {
        all += test_support::ReadText(log.folder.path + file);
      }
    }
    return all;
  }

  test_support::ScopedLogFolder log;
  test_support::TempFolder store;
};

void ExpectBody(const std::vector<uint8_t>& body, uint8_t mark, const std::vector<uint8_t>& der,
                uint16_t branch) {
  const size_t n = der.size();
  ASSERT_EQ(body.size(), (n + 11 + 15) / 16 * 16);
  EXPECT_EQ(body[0], mark);
  EXPECT_EQ(body[1] | body[2] << 8 | body[3] << 16 | static_cast<uint32_t>(body[4]) << 24, n);
  EXPECT_TRUE(std::equal(der.begin(), der.end(), body.begin() + 5));
  const std::vector<uint8_t> tail(body.begin() + 5 + static_cast<ptrdiff_t>(n), body.begin() + 5 + static_cast<ptrdiff_t>(n) + 6);
  const std::vector<uint8_t> expectedTail = {0x01, 0x09, 0x0E, 0x03, static_cast<uint8_t>(branch),
                                             static_cast<uint8_t>(branch >> 8)};
  EXPECT_EQ(tail, expectedTail);
  for (size_t i = n + 11; i < body.size(); ++i) EXPECT_EQ(body[i], 0) << i;
}

TEST_F(HandshakeBody, WithoutASelectedCertificateNothingIsMade) {
  crypto::DataBlock out;
  EXPECT_FALSE(serverlink::MHFS(&out, false));
  EXPECT_EQ(out.count, 0u);
  EXPECT_FALSE(serverlink::MakeID());
  std::string logged = LogText();
  EXPECT_NE(logged.find("Сертификат не выбран"), std::string::npos);
  EXPECT_NE(logged.find("MHFS - end"), std::string::npos);
}

TEST_F(HandshakeBody, FirstBodyMakesTheClientIdentifier) {
  const std::vector<uint8_t> der = Der("alpha");
  Select(der);
  crypto::CertificateEntry before = Selected();
  ASSERT_EQ(before.clientId, (std::array<uint8_t, 64>{}));

  crypto::DataBlock out;
  ASSERT_TRUE(serverlink::MHFS(&out, false));
  // A missing branch setting is created as an empty text: branch 0.
  ExpectBody(crypto::BlockBytes(out), 0x00, der, 0);
  EXPECT_GE(storage::FindSetting("IDC_BRANCH"), 0);
  EXPECT_EQ(storage::GetSettingText("IDC_BRANCH"), std::optional<std::wstring>(L""));

  // The identity digest is the digest of the signed block (certificate,
  // UNP, key identifier); the client identifier is SHA-512 of UNP, key
  // identifier and that digest.
  crypto::CertificateEntry after = Selected();
  std::vector<uint8_t> unp = {0x81, 0x2B, 0x53, 0x0B};  // 190000001
  ASSERT_EQ(after.unpNumber, 190000001);
  std::vector<uint8_t> signedBlock = der;
  signedBlock.insert(signedBlock.end(), unp.begin(), unp.end());
  signedBlock.insert(signedBlock.end(), after.keyId.begin(), after.keyId.end());
  std::vector<uint8_t> expectedDigest(SHA256_DIGEST_LENGTH);
  SHA256(signedBlock.data(), signedBlock.size(), expectedDigest.data());
  EXPECT_EQ(after.identityDigest, expectedDigest);

  std::vector<uint8_t> identity = unp;
  identity.insert(identity.end(), after.keyId.begin(), after.keyId.end());
  identity.insert(identity.end(), expectedDigest.begin(), expectedDigest.end());
  std::array<uint8_t, 64> expectedId{};
  SHA512(identity.data(), identity.size(), expectedId.data());
  EXPECT_EQ(after.clientId, expectedId);
  std::string logged = LogText();
  EXPECT_NE(logged.find("Make - end"), std::string::npos);
}

TEST_F(HandshakeBody, RegistrationMarkAndBranch) {
  const std::vector<uint8_t> der = Der("beta");
  int index = Select(der);
  crypto::UpdateCertificateEntry(index, [](crypto::CertificateEntry& entry) { entry.clientId[63] = 1; });
  storage::SetSettingText("IDC_BRANCH", L"0123");
  crypto::DataBlock out;
  ASSERT_TRUE(serverlink::MHFS(&out, true));
  ExpectBody(crypto::BlockBytes(out), 0xB2, der, 123);
}

TEST_F(HandshakeBody, AnIdentifierWhoseBytesAddUpToZeroIsStillMade) {
  // 0x01 and 0xFF add up to zero as signed bytes; the identifier is there
  // all the same and must not be made again.
  int index = Select(Der("alpha"));
  crypto::UpdateCertificateEntry(index, [](crypto::CertificateEntry& entry) {
    entry.clientId[0] = 0x01;
    entry.clientId[1] = 0xFF;
  });
  crypto::DataBlock out;
  ASSERT_TRUE(serverlink::MHFS(&out, false));
  crypto::CertificateEntry after = Selected();
  EXPECT_EQ(after.clientId[0], 0x01);
  EXPECT_EQ(after.clientId[1], 0xFF);
  EXPECT_TRUE(after.identityDigest.empty());
}

TEST_F(HandshakeBody, WithoutTheKeyMediumTheIdentifierAndTheBodyFail) {
  Select(Der("alpha"));
  fs::remove(store.path + "My/alpha.key");
  crypto::DataBlock out;
  EXPECT_FALSE(serverlink::MHFS(&out, false));
  EXPECT_EQ(out.count, 0u);
  EXPECT_EQ(Selected().clientId, (std::array<uint8_t, 64>{}));
}

// A self-signed certificate with a УНП and a key identifier whose DER is
// exactly `size` bytes long (a padding extension grows it; the signature's
// length varies by a byte or two, so sizes are tried until one fits).
std::vector<uint8_t> CertificateOfSize(size_t size) {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  std::vector<uint8_t> result;
  for (int padding = 0; padding < 900 && result.empty(); ++padding) {
    for (int attempt = 0; attempt < 4 && result.empty(); ++attempt) {
      X509* cert = X509_new();
      X509_set_version(cert, 2);
      ASN1_INTEGER_set(X509_get_serialNumber(cert), 4242);
      X509_gmtime_adj(X509_getm_notBefore(cert), -86400);
      X509_gmtime_adj(X509_getm_notAfter(cert), 365L * 86400);
      X509_NAME* name = X509_get_subject_name(cert);
      X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Large Org"), -1, -1, 0);
      X509_set_issuer_name(cert, name);
      X509_set_pubkey(cert, key);
      X509V3_CTX context;
      X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
      X509_EXTENSION* ski = X509V3_EXT_conf_nid(nullptr, &context, NID_subject_key_identifier, "hash");
      X509_add_ext(cert, ski, -1);
      X509_EXTENSION_free(ski);
      // The УНП as a BMPString, and the padding as an OCTET STRING.
      ASN1_OBJECT* unpOid = OBJ_txt2obj("1.2.112.1.2.1.1.1.1.2", 1);
      const unsigned char unpValue[] = {0x1E, 18, 0, '1', 0, '9', 0, '0', 0, '0', 0, '0', 0, '0', 0, '0', 0, '0', 0, '7'};
      ASN1_OCTET_STRING* unp = ASN1_OCTET_STRING_new();
      ASN1_OCTET_STRING_set(unp, unpValue, sizeof(unpValue));
      X509_EXTENSION* unpExtension = X509_EXTENSION_create_by_OBJ(nullptr, unpOid, 0, unp);
      X509_add_ext(cert, unpExtension, -1);
      std::vector<unsigned char> fill(static_cast<size_t>(padding) + 1, 'p');
      ASN1_OBJECT* padOid = OBJ_txt2obj("1.3.6.1.4.1.99999.1", 1);
      ASN1_OCTET_STRING* pad = ASN1_OCTET_STRING_new();
      ASN1_OCTET_STRING_set(pad, fill.data(), static_cast<int>(fill.size()));
      X509_EXTENSION* padExtension = X509_EXTENSION_create_by_OBJ(nullptr, padOid, 0, pad);
      X509_add_ext(cert, padExtension, -1);
      X509_sign(cert, key, EVP_sha256());
      int length = i2d_X509(cert, nullptr);
      if (length == static_cast<int>(size)) {
        result.resize(static_cast<size_t>(length));
        unsigned char* cursor = result.data();
        i2d_X509(cert, &cursor);
      }
      X509_EXTENSION_free(padExtension);
      ASN1_OCTET_STRING_free(pad);
      ASN1_OBJECT_free(padOid);
      X509_EXTENSION_free(unpExtension);
      ASN1_OCTET_STRING_free(unp);
      ASN1_OBJECT_free(unpOid);
      X509_free(cert);
      if (length > static_cast<int>(size) + 4) padding = 900;
    }
  }
  EVP_PKEY_free(key);
  return result;
}

TEST_F(HandshakeBody, ThousandByteCertificateGives1024Bytes) {
  std::vector<uint8_t> der = CertificateOfSize(1000);
  ASSERT_EQ(der.size(), 1000u);
  test_support::WriteBytes(store.path + "My/large.cer", der);
  int index = Select(der);
  ASSERT_GE(index, 0);
  crypto::UpdateCertificateEntry(index, [](crypto::CertificateEntry& entry) { entry.clientId.fill(7); });
  storage::SetSettingText("IDC_BRANCH", L"7");
  crypto::DataBlock out;
  ASSERT_TRUE(serverlink::MHFS(&out, false));
  std::vector<uint8_t> body = crypto::BlockBytes(out);
  ASSERT_EQ(body.size(), 1024u);  // 1011 used, 13 zero
  ExpectBody(body, 0x00, der, 7);
}

}  // namespace
