// Interoperability with an independent CMS implementation, the openssl
// command line: what the client signs and encrypts opens there, and what
// it makes opens in the client.
#include <gtest/gtest.h>

#include "crypto/cms.h"
#include "crypto/verify.h"
#include "crypto_fixture.h"

namespace crypto_test {
namespace {

using InteropTest = CryptoTest;

const std::string kDocument = "<doc>Счёт-фактура № 17</doc>\r\n";

TEST_F(InteropTest, ClientSignaturesVerifyWithOpenssl) {
  crypto::DataBlock once;
  ASSERT_EQ(crypto::SignMessage(Block(kDocument), Id("alpha"), &once, true), 0u);
  crypto::DataBlock twice;
  ASSERT_EQ(crypto::SignMessage(once, Id("beta"), &twice, true), 0u);
  std::string chain = Store() + "pki/certs/ca1.pem";
  for (const auto& [name, block] : {std::pair<std::string, const crypto::DataBlock*>{"once", &once},
                                    std::pair<std::string, const crypto::DataBlock*>{"twice", &twice}}) {
    std::string in = Scratch() + name + ".p7s";
    std::string out = Scratch() + name + ".txt";
    test_support::WriteBytes(in, crypto::BlockBytes(*block));
    EXPECT_TRUE(Run("openssl cms -verify -binary -inform DER -in " + in + " -CAfile " + chain + " -out " + out)) << name;
    EXPECT_EQ(test_support::ReadText(out), kDocument) << name;
  }
  // openssl counts both signers.
  ASSERT_TRUE(Run("openssl cms -cmsout -print -inform DER -in " + Scratch() + "twice.p7s -out " + Scratch() + "print.txt"));
  std::string printed = test_support::ReadText(Scratch() + "print.txt");
  size_t signers = 0;
  for (size_t at = printed.find("signatureAlgorithm:"); at != std::string::npos;
       at = printed.find("signatureAlgorithm:", at + 1)) {
    ++signers;
  }
  EXPECT_EQ(signers, 2u);
}

TEST_F(InteropTest, ClientEnvelopesDecryptWithOpenssl) {
  crypto::DataBlock envelope;
  ASSERT_TRUE(crypto::CryptMessage(Block(kDocument), {{CertBase64("alpha"), ""}, {CertBase64("zero"), ""}}, &envelope));
  std::string in = Scratch() + "envelope.p7m";
  test_support::WriteBytes(in, crypto::BlockBytes(envelope));
  EXPECT_TRUE(Run("openssl cms -decrypt -binary -inform DER -in " + in + " -recip " + CertFile("alpha") + " -inkey " +
                  KeyFile("alpha") + " -passin pass:12345678 -out " + Scratch() + "a.txt"));
  EXPECT_EQ(test_support::ReadText(Scratch() + "a.txt"), kDocument);
  EXPECT_TRUE(Run("openssl cms -decrypt -binary -inform DER -in " + in + " -recip " + CertFile("zero") + " -inkey " +
                  KeyFile("zero") + " -passin file:" + PinFile("zero") + " -out " + Scratch() + "z.txt"));
  EXPECT_EQ(test_support::ReadText(Scratch() + "z.txt"), kDocument);
  ASSERT_TRUE(Run("openssl cms -cmsout -print -inform DER -in " + in + " -out " + Scratch() + "print.txt"));
  EXPECT_NE(test_support::ReadText(Scratch() + "print.txt").find("aes-256-cbc"), std::string::npos);

  crypto::DataBlock byKey;
  crypto::DataBlock betaKey;
  ASSERT_TRUE(crypto::GPKFCBC(Id("beta"), &betaKey));
  ASSERT_TRUE(crypto::CryptMessageByPublicKey(Block(kDocument), Id("alpha"), betaKey, Id("beta"), &byKey));
  test_support::WriteBytes(Scratch() + "bykey.p7m", crypto::BlockBytes(byKey));
  EXPECT_TRUE(Run("openssl cms -decrypt -binary -inform DER -in " + Scratch() + "bykey.p7m -recip " + CertFile("beta") +
                  " -inkey " + KeyFile("beta") + " -passin pass:12345678 -out " + Scratch() + "b.txt"));
  EXPECT_EQ(test_support::ReadText(Scratch() + "b.txt"), kDocument);
}

TEST_F(InteropTest, OpensslMessagesOpenInTheClient) {
  std::string document = Scratch() + "document.xml";
  test_support::WriteText(document, kDocument);
  // Signed by beta, then co-signed by the client.
  ASSERT_TRUE(Run("openssl cms -sign -nodetach -binary -md sha256 -in " + document + " -signer " + CertFile("beta") +
                  " -inkey " + KeyFile("beta") + " -passin pass:12345678 -outform DER -out " + Scratch() + "signed.der"));
  crypto::DataBlock signedByOpenssl = Block(test_support::ReadBytes(Scratch() + "signed.der"));
  int count = 0;
  crypto::DataBlock content;
  std::wstring report;
  uint8_t verdict = 0xFF;
  EXPECT_EQ(crypto::VerifyMessageSignature(signedByOpenssl, &count, &content, &report, &verdict), 1);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(verdict, 0);
  EXPECT_EQ(Text(content), kDocument);
  EXPECT_NE(report.find(L"Субъект: ООО Бета"), std::wstring::npos);

  crypto::DataBlock coSigned;
  ASSERT_EQ(crypto::SignMessage(signedByOpenssl, Id("alpha"), &coSigned, true), 0u);
  EXPECT_EQ(crypto::VerifyMessageSignature(coSigned, &count, &content, &report, &verdict), 1);
  EXPECT_EQ(count, 2);
  test_support::WriteBytes(Scratch() + "cosigned.der", crypto::BlockBytes(coSigned));
  EXPECT_TRUE(Run("openssl cms -verify -binary -inform DER -in " + Scratch() + "cosigned.der -CAfile " + Store() +
                  "pki/certs/ca1.pem -out " + Scratch() + "cosigned.txt"));

  // Enveloped for alpha, by issuer and serial and by key identifier.
  for (const char* naming : {"", "-keyid"}) {
    ASSERT_TRUE(Run(std::string("openssl cms -encrypt -binary -aes256 ") + naming + " -in " + document +
                    " -outform DER -out " + Scratch() + "envelope.der " + CertFile("alpha")));
    crypto::DataBlock plain;
    ASSERT_TRUE(crypto::DecryptMessage(Block(test_support::ReadBytes(Scratch() + "envelope.der")), Id("alpha"), &plain))
        << naming;
    EXPECT_EQ(Text(plain), kDocument);
  }
}

}  // namespace
}  // namespace crypto_test
