// Tests of the provider layer's OpenSSL backend: the stores and what is read
// from certificates and lists, key containers with their PIN, the copies
// with another key, and the exchange-file algorithms.
#include <gtest/gtest.h>

#include <algorithm>

#include <filesystem>
#include <type_traits>

#include "core/text.h"
#include "crypto_fixture.h"
#include "platform/clock.h"

namespace crypto_test {
namespace {

namespace provider = crypto::provider;

using ProviderTest = CryptoTest;

TEST_F(ProviderTest, StoresHoldCertificatesListsAndContainersOfBothFormats) {
  provider::Store my;
  ASSERT_EQ(provider::OpenStore(provider::StoreName::My, &my), 0u);
  EXPECT_EQ(my.certificates.size(), 9u);  // including the DER file of "nounp"
  EXPECT_EQ(my.containers.size(), 9u);
  EXPECT_TRUE(my.crls.empty());
  Bytes der;
  EXPECT_EQ(provider::FindCertificateByKeyId(my, Id("nounp").data(), 20, &der), 0u);
  EXPECT_EQ(der, CertDer("nounp"));

  provider::Store ca;
  ASSERT_EQ(provider::OpenStore(provider::StoreName::CA, &ca), 0u);
  EXPECT_EQ(ca.certificates.size(), 3u);
  ASSERT_EQ(ca.crls.size(), 3u);  // two PEM lists and one DER list, in file-name order
  provider::CrlInfo first;
  ASSERT_EQ(provider::ReadCrl(ca.crls[0], &first), 0u);
  EXPECT_EQ(first.issuerName, L"Tessarin Test CA 10");
  EXPECT_TRUE(ca.containers.empty());
}

// Stores are kept between openings; any change to their folder's files
// must show at the next opening.
TEST_F(ProviderTest, StoresAreReadAgainAfterTheirFilesChange) {
  const std::string folder = Store() + "CA/";
  provider::Store ca;
  ASSERT_EQ(provider::OpenStore(provider::StoreName::CA, &ca), 0u);
  ASSERT_EQ(ca.crls.size(), 3u);
  provider::CrlInfo info;
  ASSERT_EQ(provider::ReadCrl(ca.crls[0], &info), 0u);
  EXPECT_EQ(info.issuerName, L"Tessarin Test CA 10");

  // A list added under a new name.
  std::filesystem::copy_file(folder + "crl-c-ca1.crl", folder + "crl-d-copy.crl");
  ASSERT_EQ(provider::OpenStore(provider::StoreName::CA, &ca), 0u);
  EXPECT_EQ(ca.crls.size(), 4u);

  // The first file rewritten in place with another issuer's list.
  Bytes other = test_support::ReadBytes(folder + "crl-b-ca1-old.pem");
  test_support::WriteBytes(folder + "crl-a-ca10.pem", other);
  ASSERT_EQ(provider::OpenStore(provider::StoreName::CA, &ca), 0u);
  ASSERT_EQ(provider::ReadCrl(ca.crls[0], &info), 0u);
  EXPECT_EQ(info.issuerName, L"Tessarin Test CA 1");

  // Removed again.
  std::filesystem::remove(folder + "crl-d-copy.crl");
  ASSERT_EQ(provider::OpenStore(provider::StoreName::CA, &ca), 0u);
  EXPECT_EQ(ca.crls.size(), 3u);

  // Another store root is another folder.
  std::filesystem::create_directories(Scratch() + "other/CA");
  setenv("TESSARIN_CERTSTORE", (Scratch() + "other").c_str(), 1);
  ASSERT_EQ(provider::OpenStore(provider::StoreName::CA, &ca), 0u);
  EXPECT_TRUE(ca.crls.empty());
}

TEST_F(ProviderTest, MissingStoreFolderFailsWithTheSystemCode) {
  setenv("TESSARIN_CERTSTORE", (Store() + "nowhere").c_str(), 1);
  provider::Store my;
  EXPECT_EQ(provider::OpenStore(provider::StoreName::My, &my), 2u);  // ENOENT
  EXPECT_EQ(provider::StoreRoot(), Store() + "nowhere/");
}

TEST_F(ProviderTest, CertificateFieldsAreReadAsTheProgramNeedsThem) {
  provider::CertInfo info = Info("zero");
  EXPECT_EQ(info.subjectName, L"ЗАО Ноль");
  EXPECT_EQ(info.issuerName, L"Tessarin Test CA 1");
  EXPECT_EQ(info.surname, L"Нулев");
  EXPECT_EQ(info.givenName, L"Олег");
  EXPECT_EQ(info.serial, (Bytes{0x10, 0x03}));
  EXPECT_EQ(info.keyId.size(), 20u);
  EXPECT_LT(info.notBefore, info.notAfter);
  bool unp = false;
  for (const provider::Extension& extension : info.extensions) {
    if (extension.oid != crypto::kUnpExtensionOid) continue;
    unp = true;
    // A DER BMPString of nine characters.
    ASSERT_EQ(extension.value.size(), 20u);
    EXPECT_EQ(extension.value[0], 0x1E);
    EXPECT_EQ(extension.value[3], '0');
  }
  EXPECT_TRUE(unp);
  // Certificates issued first by two issuers share the serial number.
  EXPECT_EQ(Info("alpha").serial, Info("ten").serial);
  EXPECT_NE(Info("alpha").issuer, Info("ten").issuer);
}

TEST_F(ProviderTest, BadBytesAreNoCertificate) {
  provider::CertInfo info;
  Bytes garbage = {0x30, 0x82, 0xFF, 0xFF, 0x01};
  EXPECT_EQ(provider::ReadCertificate(garbage, &info), provider::kErrorBadData);
  Bytes der = CertDer("alpha");
  der.resize(der.size() / 2);
  EXPECT_EQ(provider::ReadCertificate(der, &info), provider::kErrorBadData);
  Bytes out;
  EXPECT_EQ(provider::QueryCertificate(Bytes{'n', 'o'}, &out), provider::kErrorBadData);
  // PEM is accepted and handed out as DER.
  EXPECT_EQ(provider::QueryCertificate(test_support::ReadBytes(CertFile("beta")), &out), 0u);
  EXPECT_EQ(out, CertDer("beta"));
}

TEST_F(ProviderTest, ContainerOpensWithItsPinOnlyAndIsGoneWithItsFile) {
  provider::Store my;
  ASSERT_EQ(provider::OpenStore(provider::StoreName::My, &my), 0u);
  provider::Key key;
  ASSERT_EQ(provider::AcquireCertificateKey(my, CertDer("zero"), true, &key), 0u);
  EXPECT_EQ(key.containerName, "zero");
  EXPECT_EQ(key.uniqueName, KeyFile("zero"));
  EXPECT_EQ(provider::SetSignaturePin(&key, "12345678"), provider::kErrorWrongPin);
  EXPECT_FALSE(key.privateKey);
  // Its PIN is Cyrillic, given in code page 1251.
  std::string pin = core::ToNarrow(L"ключ2024", core::kCodePage1251);
  ASSERT_EQ(pin.size(), 8u);
  EXPECT_EQ(provider::SetSignaturePin(&key, pin), 0u);
  EXPECT_TRUE(key.privateKey);
  // Keys, like stores and contexts, are owners that move and give their
  // handles back when they go; the one moved from holds nothing.
  static_assert(!std::is_copy_constructible_v<provider::Key> && std::is_nothrow_move_constructible_v<provider::Key>);
  static_assert(!std::is_copy_assignable_v<provider::Store> && !std::is_copy_assignable_v<provider::Context>);
  provider::Key moved = std::move(key);
  EXPECT_FALSE(key.privateKey);
  EXPECT_TRUE(moved.privateKey);
  key = std::move(moved);
  EXPECT_TRUE(key.privateKey);
  int type = 0;
  EXPECT_EQ(provider::GetKeyProviderType(key, &type), 0u);
  EXPECT_EQ(type, provider::OwnProviderType());
  Bytes spki;
  ASSERT_TRUE(provider::ExportPublicKeyInfo(key, &spki).ok());
  EXPECT_EQ(spki, Info("zero").publicKeyInfo);

  RemoveKey("zero");
  EXPECT_EQ(provider::SetSignaturePin(&key, pin), provider::kErrorNoSmartCard);
  ASSERT_EQ(provider::OpenStore(provider::StoreName::My, &my), 0u);
  EXPECT_EQ(provider::AcquireCertificateKey(my, CertDer("zero"), true, &key), provider::kErrorNoSmartCard);
  EXPECT_EQ(provider::OpenContainer(KeyFile("zero"), 99, &key), provider::kErrorNoSmartCard);
}

// Opened keys are remembered by the contents of their file: a container
// rewritten in place under another PIN must be read again, even by a key
// acquired before the change.
TEST_F(ProviderTest, ContainerRewrittenUnderAnotherPinIsReadAgain) {
  const std::string oldPin = core::ToNarrow(L"ключ2024", core::kCodePage1251);
  provider::Store my;
  ASSERT_EQ(provider::OpenStore(provider::StoreName::My, &my), 0u);
  provider::Key key;
  ASSERT_EQ(provider::AcquireCertificateKey(my, CertDer("zero"), true, &key), 0u);
  ASSERT_EQ(provider::SetSignaturePin(&key, oldPin), 0u);

  // The same key under the PIN "87654321", its public key kept beside it.
  ASSERT_TRUE(Run("openssl pkcs8 -topk8 -v2 aes-256-cbc -in " + KeyFile("zero") + " -passin file:" +
                  PinFile("zero") + " -passout pass:87654321 -out " + Scratch() + "rewrapped.pem"));
  ASSERT_TRUE(Run("openssl pkey -in " + KeyFile("zero") + " -passin file:" + PinFile("zero") +
                  " -pubout -out " + Scratch() + "public.pem"));
  Bytes container = test_support::ReadBytes(Scratch() + "rewrapped.pem");
  Bytes publicKey = test_support::ReadBytes(Scratch() + "public.pem");
  container.insert(container.end(), publicKey.begin(), publicKey.end());
  test_support::WriteBytes(KeyFile("zero"), container);

  EXPECT_EQ(provider::SetSignaturePin(&key, oldPin), provider::kErrorWrongPin);
  EXPECT_EQ(provider::SetSignaturePin(&key, "87654321"), 0u);
  ASSERT_EQ(provider::OpenStore(provider::StoreName::My, &my), 0u);
  provider::Key again;
  ASSERT_EQ(provider::AcquireCertificateKey(my, CertDer("zero"), true, &again), 0u);
  EXPECT_TRUE(again.privateKey);  // opened by the new PIN just now
  EXPECT_EQ(provider::SetSignaturePin(&again, oldPin), provider::kErrorWrongPin);
}

TEST_F(ProviderTest, CopiesTakeAnotherKeyIdentifierOrKeyAndRejectKeysThatDoNotFit) {
  Bytes copy = CertDer("alpha");
  Bytes wanted(20, 0xAB);
  ASSERT_EQ(provider::SetCertificateKeyId(&copy, wanted), 0u);
  provider::CertInfo info;
  ASSERT_EQ(provider::ReadCertificate(copy, &info), 0u);
  EXPECT_EQ(info.keyId, wanted);
  EXPECT_EQ(info.subjectName, L"ООО Альфа");

  // Beta's key as a SubjectPublicKeyInfo, as a bare point, as coordinates.
  Bytes spki = Info("beta").publicKeyInfo;
  provider::PublicKeyInfo decoded;
  ASSERT_TRUE(provider::DecodePublicKeyInfo(spki, &decoded).ok());
  EXPECT_EQ(decoded.algorithm, "1.2.840.10045.2.1");
  ASSERT_EQ(decoded.key.size(), 65u);
  for (const Bytes& form : {spki, decoded.key, Bytes(decoded.key.begin() + 1, decoded.key.end())}) {
    copy = CertDer("alpha");
    ASSERT_EQ(provider::SetCertificatePublicKey(&copy, form), 0u) << form.size();
    ASSERT_EQ(provider::ReadCertificate(copy, &info), 0u);
    EXPECT_EQ(info.publicKeyInfo, spki);
  }
  copy = CertDer("alpha");
  Bytes offCurve = decoded.key;
  offCurve[40] ^= 0x01;
  EXPECT_EQ(provider::SetCertificatePublicKey(&copy, offCurve), provider::kErrorBadData);
  EXPECT_EQ(provider::SetCertificatePublicKey(&copy, Bytes(10, 0x04)), provider::kErrorBadData);
  EXPECT_EQ(provider::SetCertificatePublicKey(&copy, Bytes()), provider::kErrorBadData);
  EXPECT_EQ(copy, CertDer("alpha"));
  EXPECT_EQ(provider::DecodePublicKeyInfo(Bytes(spki.begin(), spki.end() - 3), &decoded).step,
            provider::Step::Size);
}

TEST_F(ProviderTest, RevocationListLookupKnowsTheIssuer) {
  provider::Store ca;
  ASSERT_EQ(provider::OpenStore(provider::StoreName::CA, &ca), 0u);
  const Bytes& current = ca.crls[2];
  bool listed = false;
  ASSERT_EQ(provider::FindCertificateInCrl(current, CertDer("revoked"), &listed), 0u);
  EXPECT_TRUE(listed);
  ASSERT_EQ(provider::FindCertificateInCrl(current, CertDer("alpha"), &listed), 0u);
  EXPECT_FALSE(listed);
  EXPECT_EQ(provider::FindCertificateInCrl(Bytes{1, 2, 3}, CertDer("alpha"), &listed), provider::kErrorBadData);
  provider::CrlInfo info;
  ASSERT_EQ(provider::ReadCrl(ca.crls[0], &info), 0u);
  EXPECT_LT(info.nextUpdate, platform::FileTimeFromUnix(1609459201));  // 2021-01-01
}

TEST_F(ProviderTest, VerifyContextNeedsAKnownProviderType) {
  provider::Context context;
  EXPECT_EQ(provider::AcquireVerifyContext(0, &context), provider::kErrorBadProviderType);
  ASSERT_EQ(provider::AcquireVerifyContext(424, &context), 0u);
  std::string name;
  uint32_t version = 0;
  EXPECT_EQ(provider::GetProviderName(context, &name), 0u);
  EXPECT_EQ(name, "Tessarin OpenSSL Provider");
  EXPECT_EQ(provider::GetProviderVersion(context, &version), 0u);
  EXPECT_EQ(version >> 8, 3u);
}

TEST_F(ProviderTest, UnknownAlgorithmIdentifiersAreRefused) {
  provider::Store my;
  ASSERT_EQ(provider::OpenStore(provider::StoreName::My, &my), 0u);
  provider::Key key;
  ASSERT_EQ(provider::AcquireCertificateKey(my, CertDer("alpha"), true, &key), 0u);
  ASSERT_EQ(provider::SetSignaturePin(&key, "12345678"), 0u);
  provider::SignParams params;
  params.hashOid = "1.2.3.4";
  params.signingTimeOid = "1.2.840.113549.1.9.5";
  Bytes out;
  EXPECT_EQ(provider::SignMessage(key, CertDer("alpha"), params, Bytes{1}, &out).error, provider::kErrorBadAlgorithm);
  provider::Context context;
  ASSERT_EQ(provider::AcquireVerifyContext(99, &context), 0u);
  provider::EncryptParams encrypt;
  encrypt.contentOid = "1.2.3.4";
  EXPECT_EQ(provider::EncryptMessage(context, {CertDer("beta")}, encrypt, Bytes{1}, &out).error,
            provider::kErrorBadAlgorithm);
}

// What the test profile names (SHA-256 and 3DES): the server simulator
// signs and encrypts with them for the Windows client, so this backend
// makes and opens such messages too.
TEST_F(ProviderTest, TheTestProfilesHashAndCipherAreKnown) {
  provider::Store my;
  ASSERT_EQ(provider::OpenStore(provider::StoreName::My, &my), 0u);
  provider::Key key;
  ASSERT_EQ(provider::AcquireCertificateKey(my, CertDer("beta"), true, &key), 0u);
  ASSERT_EQ(provider::SetSignaturePin(&key, "12345678"), 0u);
  provider::SignParams sign;
  sign.hashOid = "2.16.840.1.101.3.4.2.1";
  sign.signingTimeOid = "1.2.840.113549.1.9.5";
  Bytes signedMessage;
  EXPECT_TRUE(provider::SignMessage(key, CertDer("beta"), sign, Bytes{1, 2, 3}, &signedMessage).ok());

  provider::Context context;
  ASSERT_EQ(provider::AcquireVerifyContext(provider::OwnProviderType(), &context), 0u);
  provider::EncryptParams encrypt;
  encrypt.contentOid = "1.2.840.113549.3.7";
  Bytes envelope;
  ASSERT_TRUE(provider::EncryptMessage(context, {CertDer("beta")}, encrypt, Bytes{7, 8, 9}, &envelope).ok());
  provider::ReleaseContext(&context);
  // The envelope names des-ede3-cbc.
  const Bytes tripleDes = {0x06, 0x08, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x03, 0x07};
  EXPECT_NE(std::search(envelope.begin(), envelope.end(), tripleDes.begin(), tripleDes.end()), envelope.end());
  Bytes content;
  ASSERT_TRUE(provider::DecryptMessage(key, CertDer("beta"), envelope, 0, &content).ok());
  EXPECT_EQ(content, (Bytes{7, 8, 9}));
}

TEST(BaseAlgorithmsTest, Md5AndFortyBitRc4MatchPublishedValues) {
  std::array<uint8_t, 16> digest{};
  ASSERT_TRUE(provider::Md5(reinterpret_cast<const uint8_t*>("abc"), 3, &digest).ok());
  EXPECT_EQ(core::HexEncode(digest.data(), digest.size()), "900150983CD24FB0D6963F7D28E17F72");
  // RC4 with the 40-bit key 0102030405: the first 16 bytes of its key stream.
  const std::array<uint8_t, 16> key = {1, 2, 3, 4, 5};
  Bytes data(16, 0);
  ASSERT_TRUE(provider::Rc4(key, 5, data.data(), data.size()).ok());
  EXPECT_EQ(core::HexEncode(data), "B2396305F03DC027CCC3524A0A1118A8");
  EXPECT_EQ(provider::Rc4(key, 0, data.data(), data.size()).step, provider::Step::Open);
}

}  // namespace
}  // namespace crypto_test
