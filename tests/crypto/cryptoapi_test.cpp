// The cryptography on the CryptoAPI backend, under Wine: the test PKI
// (RSA flavour) in the system stores, the test profile's SHA-256 and 3DES.
// Certificates and revocation lists, the key with its PIN, signing and
// verifying, a further signature, encrypting and decrypting. What Wine
// cannot do is skipped, saying why.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/format.h"
#include "core/text.h"
#include "crypto/cms.h"
#include "crypto/verify.h"
#include "crypto_fixture.h"
#include "storage/settings.h"

namespace crypto_test {
namespace {

namespace provider = crypto::provider;

using CryptoApiTest = CryptoTest;


TEST_F(CryptoApiTest, CertificatesAndRevocationListsComeFromTheSystemStores) {
  ASSERT_EQ(crypto::ListCertificates(), 6);  // alpha, ten, beta, zero, revoked, other
  crypto::DataBlock blob;
  ASSERT_TRUE(crypto::GetCertBlob(Id("beta"), &blob));
  EXPECT_EQ(crypto::BlockBytes(blob), CertDer("beta"));
  crypto::KeyId unknown{};
  EXPECT_FALSE(crypto::GetCertBlob(unknown, &blob));

  EXPECT_EQ(crypto::CheckCertCRL(CertDer("alpha")), crypto::kCrlCurrent);
  EXPECT_EQ(crypto::CheckCertCRL(CertDer("revoked")), crypto::kCrlRevoked);
  EXPECT_EQ(crypto::CheckCertCRL(CertDer("ten")), crypto::kCrlOutOfDate);
  EXPECT_EQ(crypto::CheckCertCRL(CertDer("other")), crypto::kCrlNotFound);
}

TEST_F(CryptoApiTest, TheKeyIsFoundItsContainerNamedAndTheProviderKnown) {
  provider::Context context;
  ASSERT_EQ(provider::AcquireVerifyContext(provider::OwnProviderType(), &context), 0u);
  std::string providerName;
  EXPECT_EQ(provider::GetProviderName(context, &providerName), 0u);
  EXPECT_EQ(providerName, "Microsoft Enhanced RSA and AES Cryptographic Provider");
  uint32_t version = 0;
  EXPECT_EQ(provider::GetProviderVersion(context, &version), 0u);
  EXPECT_GT(version, 0u);

  provider::Store my;
  ASSERT_EQ(provider::OpenStore(provider::StoreName::My, &my), 0u);
  provider::Key key;
  ASSERT_EQ(provider::AcquireCertificateKey(my, CertDer("alpha"), true, &key), 0u);
  std::string name;
  ASSERT_EQ(provider::GetContainerName(key, &name), 0u);
  EXPECT_EQ(name, "tessarin-test-alpha");
  Bytes spki;
  ASSERT_TRUE(provider::ExportPublicKeyInfo(key, &spki).ok());
  EXPECT_EQ(spki, Info("alpha").publicKeyInfo);
  std::string unique;
  ASSERT_EQ(provider::GetUniqueContainerName(key, &unique), 0u);
  provider::Key reopened;
  EXPECT_EQ(provider::OpenContainer(unique, provider::OwnProviderType(), &reopened), 0u);
  EXPECT_EQ(provider::OpenContainer("tessarin-test-none", provider::OwnProviderType(), &reopened),
            provider::kErrorBadKeyset);

  EXPECT_TRUE(crypto::IsContainer(Id("alpha"), crypto::kContainerPresent));
  RemoveKey("beta");
  EXPECT_FALSE(crypto::IsContainer(Id("beta"), crypto::kContainerPresent));
  if (crypto::ProviderTypeInForce() != provider::OwnProviderType()) {
    GTEST_SKIP() << "Wine's providers report type " << crypto::ProviderTypeInForce()
                 << " (PP_PROVTYPE) for a container of Microsoft's AES provider (type 24)";
  }
}

TEST_F(CryptoApiTest, CopiesTakeAnotherKeyIdentifierOrKey) {
  Bytes copy = CertDer("alpha");
  Bytes id(20, 0xAB);
  ASSERT_EQ(provider::SetCertificateKeyId(&copy, id), 0u);
  provider::CertInfo info;
  ASSERT_EQ(provider::ReadCertificate(copy, &info), 0u);
  EXPECT_EQ(info.keyId, id);
  EXPECT_EQ(info.serial, Info("alpha").serial);

  ASSERT_EQ(provider::SetCertificatePublicKey(&copy, Info("beta").publicKeyInfo), 0u);
  ASSERT_EQ(provider::ReadCertificate(copy, &info), 0u);
  EXPECT_EQ(info.publicKeyInfo, Info("beta").publicKeyInfo);

  // Bare bits: the first 64 bytes of the key take their place.
  provider::PublicKeyInfo own;
  ASSERT_TRUE(provider::DecodePublicKeyInfo(Info("alpha").publicKeyInfo, &own).ok());
  Bytes bits(64, 0x5A);
  copy = CertDer("alpha");
  ASSERT_EQ(provider::SetCertificatePublicKey(&copy, bits), 0u);
  ASSERT_EQ(provider::ReadCertificate(copy, &info), 0u);
  provider::PublicKeyInfo changed;
  ASSERT_TRUE(provider::DecodePublicKeyInfo(info.publicKeyInfo, &changed).ok());
  ASSERT_EQ(changed.key.size(), own.key.size());
  EXPECT_EQ(Bytes(changed.key.begin(), changed.key.begin() + 64), bits);
  EXPECT_EQ(Bytes(changed.key.begin() + 64, changed.key.end()), Bytes(own.key.begin() + 64, own.key.end()));
  EXPECT_EQ(provider::SetCertificatePublicKey(&copy, Bytes(10, 1)), provider::kErrorBadData);
}

TEST_F(CryptoApiTest, TheKeyTakesItsPin) {
  provider::Store my;
  ASSERT_EQ(provider::OpenStore(provider::StoreName::My, &my), 0u);
  provider::Key key;
  ASSERT_EQ(provider::AcquireCertificateKey(my, CertDer("alpha"), true, &key), 0u);
  uint32_t pin = provider::SetSignaturePin(&key, "12345678");
  if (pin != 0) {
    GTEST_SKIP() << "Wine's providers take no signature PIN (PP_SIGNATURE_PIN fails with 0x"
                 << core::Format("%08X", pin) << ")";
  }
  EXPECT_TRUE(crypto::IsContainer(Id("alpha"), crypto::kContainerPin));
}

TEST_F(CryptoApiTest, ASignedDocumentVerifiesAndCarriesItsDigest) {
  int none = 0;
  EXPECT_EQ(crypto::VerifyMessageSignature(Block("plain text"), &none, nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(crypto::VerifyMessageSignature(Block(CertDer("alpha")), &none, nullptr, nullptr, nullptr), -1);
  crypto::DataBlock signedMessage;
  ASSERT_EQ(crypto::SignMessage(Block("a document"), Id("alpha"), &signedMessage, true), 0u);
  int count = 0;
  crypto::DataBlock content;
  std::wstring report;
  uint8_t verdict = 0;
  EXPECT_EQ(crypto::VerifyMessageSignature(signedMessage, &count, &content, &report, &verdict), 1);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(verdict, 0);
  EXPECT_EQ(Text(content), "a document");
  EXPECT_NE(report.find(L"ЭЦП верна."), std::wstring::npos);
  EXPECT_NE(report.find(L"криптопровайдером: Microsoft"), std::wstring::npos) << core::ToNarrow(report, core::kCodePageUtf8);
  crypto::DataBlock digest;
  ASSERT_TRUE(crypto::GetDataFromEncode(signedMessage, &digest));
  EXPECT_EQ(digest.count, 32u);  // SHA-256 of the test profile

  // Without the PIN, which Wine's providers do not take (see above).
  crypto::DataBlock twice;
  uint32_t further = crypto::SignMessage(signedMessage, Id("beta"), &twice, false);
  if (further == 0x8009100C) {
    GTEST_SKIP() << "Wine cannot add a signer to a signed message (CMSG_CTRL_ADD_SIGNER fails with 0x8009100C)";
  }
  ASSERT_EQ(further, 0u);
  EXPECT_EQ(crypto::VerifyMessageSignature(twice, &count, &content, &report, &verdict), 1);
  EXPECT_EQ(count, 2);
}

TEST_F(CryptoApiTest, AChangedDocumentFailsItsSignature) {
  crypto::DataBlock signedMessage;
  ASSERT_EQ(crypto::SignMessage(Block("a document"), Id("alpha"), &signedMessage, false), 0u);
  Bytes damaged = crypto::BlockBytes(signedMessage);
  std::string needle = "a document";
  auto at = std::search(damaged.begin(), damaged.end(), needle.begin(), needle.end());
  ASSERT_NE(at, damaged.end());
  *at = 'A';
  int count = 0;
  crypto::DataBlock content;
  std::wstring report;
  uint8_t verdict = 0;
  int result = crypto::VerifyMessageSignature(Block(damaged), &count, &content, &report, &verdict);
  if (result == 1) {
    GTEST_SKIP() << "Wine's CryptVerifyMessageSignature does not compare the content with its signed digest";
  }
  EXPECT_EQ(result, 0);
  EXPECT_EQ(verdict, crypto::kVerdictBadSignature);
}

TEST_F(CryptoApiTest, AnEnvelopeOpensForItsRecipientOnly) {
  crypto::DataBlock envelope;
  ASSERT_TRUE(crypto::CryptMessage(Block("for beta"), {{CertBase64("beta"), ""}, {"not a certificate", ""}},
                                   &envelope));
  crypto::DataBlock plain;
  crypto::DecryptFailure failure = crypto::DecryptFailure::None;
  ASSERT_TRUE(crypto::DecryptMessage(envelope, Id("beta"), &plain, &failure));
  EXPECT_EQ(Text(plain), "for beta");
  EXPECT_FALSE(crypto::DecryptMessage(envelope, Id("alpha"), &plain, &failure));
  EXPECT_EQ(failure, crypto::DecryptFailure::Envelope);
  EXPECT_NE(NormalLog().find("Файл успешно расшифрован"), std::string::npos);

  // Known by its public key and key identifier only.
  crypto::DataBlock byKey;
  ASSERT_TRUE(crypto::CryptMessageByPublicKey(Block("by key"), Id("alpha"), Block(Info("beta").publicKeyInfo),
                                              Id("beta"), &byKey));
  if (!crypto::DecryptMessage(byKey, Id("beta"), &plain, &failure)) {
    GTEST_SKIP() << "Wine's CryptEncryptMessage ignores the key-identifier recipient flag and names the "
                    "recipient by the issuer and serial number of the certificate copy";
  }
  EXPECT_EQ(Text(plain), "by key");
}

}  // namespace
}  // namespace crypto_test
