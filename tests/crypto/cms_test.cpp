// Tests of signing, encryption, decryption, the message digest and the
// public-key export: their results, refusals and log texts.
#include <gtest/gtest.h>

#include <openssl/sha.h>

#include <filesystem>

#include "core/text.h"
#include "crypto/cms.h"
#include "crypto/verify.h"
#include "crypto_fixture.h"
#include "storage/settings.h"

namespace crypto_test {
namespace {

namespace provider = crypto::provider;
using CmsTest = CryptoTest;

provider::DecodedMessage Decode(const crypto::DataBlock& block) {
  provider::DecodedMessage decoded;
  EXPECT_TRUE(provider::DecodeMessage(crypto::BlockBytes(block), &decoded).ok());
  return decoded;
}

std::string Decrypted(const crypto::DataBlock& envelope, const crypto::KeyId& keyId) {
  crypto::DataBlock out;
  if (!crypto::DecryptMessage(envelope, keyId, &out)) return "<failed>";
  return Text(out);
}

TEST_F(CmsTest, FirstSignatureEmbedsTheContentWithSigningTimeOnly) {
  crypto::DataBlock out;
  ASSERT_EQ(crypto::SignMessage(Block("первая"), Id("alpha"), &out, true), 0u);
  provider::DecodedMessage decoded = Decode(out);
  ASSERT_EQ(decoded.kind, provider::ObjectKind::Signed);
  ASSERT_EQ(decoded.signers.size(), 1u);
  ASSERT_EQ(decoded.certificates.size(), 1u);
  EXPECT_EQ(decoded.certificates[0], CertDer("alpha"));
  // Besides the two attributes every signed message must carry (content
  // type, message digest) there is exactly one: the signing time.
  std::vector<std::string> oids;
  for (const provider::SignedAttribute& attribute : decoded.signers[0].attributes) oids.push_back(attribute.oid);
  std::sort(oids.begin(), oids.end());
  EXPECT_EQ(oids, (std::vector<std::string>{"1.2.840.113549.1.9.3", "1.2.840.113549.1.9.4", "1.2.840.113549.1.9.5"}));
  EXPECT_TRUE(decoded.signers[0].hasSigningTime);
  EXPECT_EQ(decoded.signers[0].serial, Info("alpha").serial);

  provider::Context context;
  ASSERT_EQ(provider::AcquireVerifyContext(99, &context), 0u);
  Bytes content;
  ASSERT_TRUE(provider::VerifySigner(context, crypto::BlockBytes(out), 0, &content).ok());
  EXPECT_EQ(std::string(content.begin(), content.end()), "первая");

  std::string log = NormalLog();
  for (const char* line : {" SM \r\n", "Сертификат для подписи найден", "Контейнер найден", "PIN-Ok",
                           "Size of PP_CONTAINER - 6", " alpha \r\n", "Подписываем файл первой подписью",
                           "Файл успешно подписан", " SM - end \r\n"}) {
    EXPECT_NE(log.find(line), std::string::npos) << line;
  }
}

TEST_F(CmsTest, SecondSignatureIsAddedAndAThirdRefused) {
  crypto::DataBlock once;
  ASSERT_EQ(crypto::SignMessage(Block("twice"), Id("alpha"), &once, true), 0u);
  crypto::DataBlock twice;
  ASSERT_EQ(crypto::SignMessage(once, Id("beta"), &twice, true), 0u);
  EXPECT_EQ(Decode(twice).signers.size(), 2u);
  EXPECT_EQ(Decode(twice).certificates.size(), 2u);
  EXPECT_NE(NormalLog().find("Дополнительная подпись добавлена"), std::string::npos);

  crypto::DataBlock thrice;
  EXPECT_EQ(crypto::SignMessage(twice, Id("zero"), &thrice, true), 1u);
  EXPECT_EQ(thrice.count, 0u);
  EXPECT_NE(NormalLog().find("Error = Сообщение уже содержит две подписи"), std::string::npos);
}

TEST_F(CmsTest, TwoSignaturesNotBothValidTakeAThird) {
  crypto::DataBlock once;
  ASSERT_EQ(crypto::SignMessage(Block("doc"), Id("alpha"), &once, true), 0u);
  crypto::DataBlock twice;
  ASSERT_EQ(crypto::SignMessage(once, Id("revoked"), &twice, true), 0u);
  crypto::DataBlock thrice;
  ASSERT_EQ(crypto::SignMessage(twice, Id("beta"), &thrice, true), 0u);
  EXPECT_EQ(Decode(thrice).signers.size(), 3u);
}

TEST_F(CmsTest, SigningOwnSignedMessageAgainKeepsOneCopyOfTheCertificate) {
  crypto::DataBlock once;
  ASSERT_EQ(crypto::SignMessage(Block("doc"), Id("alpha"), &once, true), 0u);
  crypto::DataBlock twice;
  ASSERT_EQ(crypto::SignMessage(once, Id("alpha"), &twice, true), 0u);
  EXPECT_EQ(Decode(twice).signers.size(), 2u);
  EXPECT_EQ(Decode(twice).certificates.size(), 1u);
  int count = 0;
  EXPECT_EQ(crypto::VerifyMessageSignature(twice, &count, nullptr, nullptr, nullptr), 1);
}

TEST_F(CmsTest, SigningFailures) {
  crypto::DataBlock out;
  crypto::KeyId unknown{};
  EXPECT_EQ(crypto::SignMessage(Block("x"), unknown, &out, true), 1u);
  EXPECT_NE(NormalLog().find("Сертификат для подписи не найден"), std::string::npos);

  storage::SetSettingText("IDC_PASS", L"00000000");
  EXPECT_EQ(crypto::SignMessage(Block("x"), Id("beta"), &out, true), provider::kErrorWrongPin);
  EXPECT_NE(NormalLog().find("Error = CryptSetProvParam-PP_SIGNATURE_PIN -2146434965 = 8010006B"), std::string::npos);
  EXPECT_NE(NormalLog().find("Error = Getting signed BLOB size failed"), std::string::npos);
  EXPECT_EQ(out.count, 0u);

  // Beta's key opened with the right PIN earlier in the process does not
  // make good a refused PIN when co-signing either.
  storage::SetSettingText("IDC_PASS", L"12345678");
  crypto::DataBlock once;
  ASSERT_EQ(crypto::SignMessage(Block("x"), Id("alpha"), &once, true), 0u);
  ASSERT_EQ(crypto::SignMessage(once, Id("beta"), &out, true), 0u);
  storage::SetSettingText("IDC_PASS", L"00000000");
  crypto::DataBlock refused;
  EXPECT_EQ(crypto::SignMessage(once, Id("beta"), &refused, true), provider::kErrorWrongPin);
  EXPECT_EQ(refused.count, 0u);

  storage::SetSettingText("IDC_PASS", L"12345678");
  RemoveKey("beta");
  EXPECT_EQ(crypto::SignMessage(Block("x"), Id("beta"), &out, true), provider::kErrorNoSmartCard);
  EXPECT_NE(NormalLog().find("Error = HCRYPTPROV_OR_NCRYPT_KEY_HANDLE -2146435060 = 8010000C"), std::string::npos);

  std::filesystem::remove_all(Store() + "My");
  EXPECT_EQ(crypto::SignMessage(Block("x"), Id("alpha"), &out, true), 2u);
  EXPECT_NE(NormalLog().find("Хранилище сертификатов не открыто"), std::string::npos);
}

TEST_F(CmsTest, SilentFlagFollowsProviderType424) {
  crypto::DataBlock out;
  crypto::SetProviderTypeForTest(crypto::kProviderTypeSilent);
  ASSERT_EQ(crypto::SignMessage(Block("x"), Id("alpha"), &out, true), 0u);
  EXPECT_EQ(provider::LastMessageFlagsForTest(), provider::kMessageFlagSilent);
  ASSERT_TRUE(crypto::CryptMessage(Block("x"), {{CertBase64("alpha"), ""}}, &out));
  EXPECT_EQ(provider::LastMessageFlagsForTest(), provider::kMessageFlagSilent);
  crypto::DataBlock plain;
  ASSERT_TRUE(crypto::DecryptMessage(out, Id("alpha"), &plain));
  EXPECT_EQ(provider::LastMessageFlagsForTest(), provider::kMessageFlagSilent);

  crypto::SetProviderTypeForTest(provider::OwnProviderType());
  ASSERT_TRUE(crypto::CryptMessage(Block("x"), {{CertBase64("alpha"), ""}}, &out));
  EXPECT_EQ(provider::LastMessageFlagsForTest(), 0u);
  ASSERT_EQ(crypto::SignMessage(Block("x"), Id("alpha"), &out, true), 0u);
  EXPECT_EQ(provider::LastMessageFlagsForTest(), 0u);
}

TEST_F(CmsTest, ThreeRecipientsOneNotACertificate) {
  crypto::DataBlock envelope;
  std::vector<crypto::Recipient> recipients = {
      {CertBase64("alpha"), ""}, {core::Base64Encode(Bytes{'n', 'o', 't'}), ""}, {CertBase64("beta"), ""}};
  ASSERT_TRUE(crypto::CryptMessage(Block("для двоих"), recipients, &envelope));
  EXPECT_EQ(Decrypted(envelope, Id("alpha")), "для двоих");
  EXPECT_EQ(Decrypted(envelope, Id("beta")), "для двоих");
  EXPECT_EQ(Decrypted(envelope, Id("zero")), "<failed>");
  std::string log = NormalLog();
  EXPECT_NE(log.find("Error = CryptQueryObject"), std::string::npos);
  EXPECT_NE(log.find("Файл успешно зашифрован"), std::string::npos);
  EXPECT_NE(log.find("Файл успешно расшифрован"), std::string::npos);
  EXPECT_NE(log.find("Error = CryptDecryptMessage -2146885620 = 8009200C"), std::string::npos);
}

TEST_F(CmsTest, NoReadableRecipientFails) {
  crypto::DataBlock envelope;
  EXPECT_FALSE(crypto::CryptMessage(Block("x"), {{"", ""}, {"@@@", ""}}, &envelope));
  EXPECT_NE(NormalLog().find("didn't find any certificates from 2"), std::string::npos);
  // A replacement key that is too short leaves its recipient out.
  EXPECT_FALSE(crypto::CryptMessage(Block("x"), {{CertBase64("alpha"), core::Base64Encode(Bytes(10, 4))}}, &envelope));
  EXPECT_NE(NormalLog().find("didn't find any certificates from 1"), std::string::npos);
  EXPECT_EQ(envelope.count, 0u);
}

TEST_F(CmsTest, ReplacementKeyTakesThePlaceOfTheCertificatesKey) {
  crypto::DataBlock betaKey;
  ASSERT_TRUE(crypto::GPKFCBC(Id("beta"), &betaKey));
  crypto::DataBlock envelope;
  ASSERT_TRUE(crypto::CryptMessage(Block("по ключу"), {{CertBase64("other"), core::Base64Encode(crypto::BlockBytes(betaKey))}},
                                   &envelope));
  // Named as "other", readable with beta's key.
  test_support::WriteBytes(Scratch() + "env.der", crypto::BlockBytes(envelope));
  EXPECT_TRUE(Run("openssl cms -decrypt -binary -inform DER -in " + Scratch() + "env.der -inkey " + KeyFile("beta") +
                  " -passin pass:12345678 -out " + Scratch() + "plain.txt"));
  EXPECT_EQ(test_support::ReadText(Scratch() + "plain.txt"), "по ключу");
  EXPECT_FALSE(Run("openssl cms -decrypt -binary -inform DER -in " + Scratch() + "env.der -inkey " +
                   KeyFile("other") + " -passin pass:12345678 -out " + Scratch() + "plain2.txt"));
}

TEST_F(CmsTest, EncryptionForAPublicKeyNamesTheRecipientByKeyIdentifier) {
  crypto::DataBlock betaKey;
  ASSERT_TRUE(crypto::GPKFCBC(Id("beta"), &betaKey));
  crypto::DataBlock envelope;
  ASSERT_TRUE(crypto::CryptMessageByPublicKey(Block("сертификат"), Id("alpha"), betaKey, Id("beta"), &envelope));
  EXPECT_STREQ(envelope.label, "pbSing");
  EXPECT_EQ(Decrypted(envelope, Id("beta")), "сертификат");
  EXPECT_EQ(Decrypted(envelope, Id("alpha")), "<failed>");
  // The envelope names beta by key identifier, not by issuer and serial.
  Bytes der = crypto::BlockBytes(envelope);
  Bytes betaId = Info("beta").keyId;
  EXPECT_NE(std::search(der.begin(), der.end(), betaId.begin(), betaId.end()), der.end());
  Bytes betaIssuer = Info("beta").issuer;
  EXPECT_EQ(std::search(der.begin(), der.end(), betaIssuer.begin(), betaIssuer.end()), der.end());
  EXPECT_NE(NormalLog().find("Сертификат для шифрования найден"), std::string::npos);

  crypto::DataBlock bad = Block(Bytes{0x30, 0x03, 0x01, 0x01, 0x00});
  EXPECT_FALSE(crypto::CryptMessageByPublicKey(Block("x"), Id("alpha"), bad, Id("beta"), &envelope));
  EXPECT_NE(NormalLog().find("CryptDecodeObjectEx=1="), std::string::npos);
  crypto::KeyId unknown{};
  EXPECT_FALSE(crypto::CryptMessageByPublicKey(Block("x"), unknown, betaKey, Id("beta"), &envelope));
  EXPECT_NE(NormalLog().find("Сертификат для шифрования не найден"), std::string::npos);
}

TEST_F(CmsTest, DecryptionFailures) {
  crypto::DataBlock out;
  EXPECT_FALSE(crypto::DecryptMessage(Block("garbage"), Id("alpha"), &out));
  crypto::DataBlock signedOnly;
  ASSERT_EQ(crypto::SignMessage(Block("x"), Id("alpha"), &signedOnly, true), 0u);
  EXPECT_FALSE(crypto::DecryptMessage(signedOnly, Id("alpha"), &out));
  crypto::KeyId unknown{};
  EXPECT_FALSE(crypto::DecryptMessage(signedOnly, unknown, &out));
  crypto::DataBlock envelope;
  ASSERT_TRUE(crypto::CryptMessage(Block("x"), {{CertBase64("alpha"), ""}}, &envelope));
  RemoveKey("alpha");
  EXPECT_FALSE(crypto::DecryptMessage(envelope, Id("alpha"), &out));
  EXPECT_EQ(out.count, 0u);
  std::string log = NormalLog();
  EXPECT_NE(log.find("CertFindCertificateInStore"), std::string::npos);
  EXPECT_NE(log.find("Error = CryptDecryptMessage -2146435060 = 8010000C"), std::string::npos);
}

TEST_F(CmsTest, MessageDigestOfOneSigner) {
  crypto::DataBlock once;
  ASSERT_EQ(crypto::SignMessage(Block("digest me"), Id("alpha"), &once, true), 0u);
  crypto::DataBlock digest;
  ASSERT_TRUE(crypto::GetDataFromEncode(once, &digest));
  Bytes expected(SHA256_DIGEST_LENGTH);
  SHA256(reinterpret_cast<const unsigned char*>("digest me"), 9, expected.data());
  EXPECT_EQ(crypto::BlockBytes(digest), expected);

  crypto::DataBlock twice;
  ASSERT_EQ(crypto::SignMessage(once, Id("beta"), &twice, true), 0u);
  crypto::DataBlock none;
  EXPECT_FALSE(crypto::GetDataFromEncode(twice, &none));
  EXPECT_NE(NormalLog().find("Error = Количество подписей в сообщении не равно 1"), std::string::npos);
  crypto::DataBlock envelope;
  ASSERT_TRUE(crypto::CryptMessage(Block("x"), {{CertBase64("alpha"), ""}}, &envelope));
  EXPECT_FALSE(crypto::GetDataFromEncode(envelope, &none));
  EXPECT_NE(NormalLog().find("Error = CryptMsgGetParam"), std::string::npos);
  EXPECT_FALSE(crypto::GetDataFromEncode(Block("garbage"), &none));
  EXPECT_NE(NormalLog().find("Error = CryptMsgUpdate"), std::string::npos);
  EXPECT_EQ(none.count, 0u);
}

TEST_F(CmsTest, MessageDigestNeedsTheAttribute) {
  std::string content = Scratch() + "content.txt";
  test_support::WriteText(content, "plain signature");
  ASSERT_TRUE(Run("openssl cms -sign -nodetach -noattr -binary -md sha256 -in " + content + " -signer " +
                  CertFile("beta") + " -inkey " + KeyFile("beta") + " -passin pass:12345678 -outform DER -out " +
                  Scratch() + "noattr.der"));
  crypto::DataBlock none;
  EXPECT_FALSE(crypto::GetDataFromEncode(Block(test_support::ReadBytes(Scratch() + "noattr.der")), &none));
  EXPECT_NE(NormalLog().find("Error = Нет указанных атрибутов"), std::string::npos);
}

TEST_F(CmsTest, PublicKeyExport) {
  crypto::DataBlock out;
  ASSERT_TRUE(crypto::GPKFCBC(Id("zero"), &out));
  EXPECT_EQ(crypto::BlockBytes(out), Info("zero").publicKeyInfo);
  EXPECT_NE(NormalLog().find("Сертификат для экспорта открытого ключа найден"), std::string::npos);
  RemoveKey("zero");
  crypto::DataBlock none;
  EXPECT_FALSE(crypto::GPKFCBC(Id("zero"), &none));
  EXPECT_NE(NormalLog().find("Error = HCRYPTPROV_OR_NCRYPT_KEY_HANDLE -2146435060 = 8010000C"), std::string::npos);
  EXPECT_NE(NormalLog().find(" GPKFCBC - end \r\n"), std::string::npos);
}

}  // namespace
}  // namespace crypto_test
