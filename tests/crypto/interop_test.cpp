// Interoperability with an independent CMS implementation, the openssl
// command line: what the client signs and encrypts opens there, and what
// it makes opens in the client.
#include <gtest/gtest.h>
#include <openssl/cms.h>

#include "crypto/cms.h"
#include "crypto/provider/openssl/openssl_util.h"
#include "crypto/provider/provider.h"
#include "crypto/verify.h"
#include "crypto_fixture.h"

namespace crypto_test {
namespace {

namespace provider = crypto::provider;

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

// The certificates of a signed message as OpenSSL's own parse lists them.
std::vector<Bytes> CertificatesByOpenssl(const Bytes& message) {
  std::vector<Bytes> found;
  const unsigned char* cursor = message.data();
  CMS_ContentInfo* cms = d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(message.size()));
  if (cms == nullptr) return found;
  STACK_OF(X509)* certificates = CMS_get1_certs(cms);
  for (int i = 0; certificates != nullptr && i < sk_X509_num(certificates); ++i) {
    unsigned char* der = nullptr;
    int size = i2d_X509(sk_X509_value(certificates, i), &der);
    if (size > 0) found.emplace_back(der, der + size);
    OPENSSL_free(der);
  }
  sk_X509_pop_free(certificates, X509_free);
  CMS_ContentInfo_free(cms);
  return found;
}

// Messages are decoded with their certificates parsed apart (most are the
// same few senders'); whatever the shape, the certificates, their order and
// the signature check must come out as from a whole parse.
TEST_F(InteropTest, SignedMessagesOfEveryShapeDecodeWithTheirCertificatesInOrder) {
  std::string document = Scratch() + "document.xml";
  test_support::WriteText(document, kDocument);
  const std::string sign = "openssl cms -sign -nodetach -binary -md sha256 -in " + document + " -signer " +
                           CertFile("beta") + " -inkey " + KeyFile("beta") + " -passin pass:12345678 -outform DER ";
  struct Shape {
    const char* name;       // what the message is like
    std::string options;    // added to the signing command
    size_t certificates;    // certificates it carries
    bool splits;            // its certificates are parsed apart
  };
  const Shape shapes[] = {
      {"signer and issuer", "-certfile " + Store() + "pki/certs/ca1.pem", 2, true},
      {"indefinite lengths", "-stream -certfile " + Store() + "pki/certs/ca1.pem", 2, false},
      {"no certificates", "-nocerts", 0, false},
  };
  provider::Context context;
  ASSERT_EQ(provider::AcquireVerifyContext(provider::OwnProviderType(), &context), 0u);
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.name);
    ASSERT_TRUE(Run(sign + shape.options + " -out " + Scratch() + "shape.der"));
    Bytes message = test_support::ReadBytes(Scratch() + "shape.der");
    Bytes rest;
    std::vector<Bytes> apart;
    ASSERT_EQ(provider::openssl::SplitSignedCertificates(message, &rest, &apart), shape.splits);
    if (shape.splits) {
      EXPECT_EQ(apart, CertificatesByOpenssl(message));
      provider::openssl::CmsPtr parsed = provider::openssl::ParseCms(rest);
      ASSERT_TRUE(parsed) << "the message without its certificates must still parse";
      EXPECT_EQ(sk_CMS_SignerInfo_num(CMS_get0_SignerInfos(parsed.get())), 1);
    }
    provider::DecodedMessage decoded;
    ASSERT_TRUE(provider::DecodeMessage(message, &decoded).ok());
    EXPECT_EQ(decoded.kind, provider::ObjectKind::Signed);
    EXPECT_EQ(decoded.certificates.size(), shape.certificates);
    EXPECT_EQ(decoded.certificates, CertificatesByOpenssl(message));
    ASSERT_EQ(decoded.signers.size(), 1u);
    Bytes content;
    provider::Outcome verified = provider::VerifySigner(context, message, 0, &content);
    if (shape.certificates == 0) {
      EXPECT_EQ(verified.error, provider::kErrorSignerNotFound);
    } else {
      EXPECT_TRUE(verified.ok()) << verified.error;
      EXPECT_EQ(std::string(content.begin(), content.end()), kDocument);
    }
    // One byte changed in the content: the same message taken apart the
    // same way must fail its check.
    if (shape.certificates != 0) {
      std::string text(message.begin(), message.end());
      size_t at = text.find("17</doc>");
      ASSERT_NE(at, std::string::npos);
      message[at] ^= 0x01;
      EXPECT_FALSE(provider::VerifySigner(context, message, 0, &content).ok());
    }
  }
}

}  // namespace
}  // namespace crypto_test
