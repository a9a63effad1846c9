// Tests of the signature check and its report: the report line by line,
// the verdicts 111-114, revoked and unchecked signers, exclusive validity
// bounds, and input that is no signed message.
#include <gtest/gtest.h>

#include <openssl/sha.h>

#include <regex>

#include "core/format.h"
#include "core/text.h"
#include "crypto/cms.h"
#include "crypto/verify.h"
#include "crypto_fixture.h"
#include "platform/clock.h"

namespace crypto_test {
namespace {

using VerifyTest = CryptoTest;

std::wstring W(const std::string& text) {
  return core::ToWide(text, core::kCodePageUtf8);
}

std::wstring LocalLine(const char* label, int64_t fileTime) {
  platform::CalendarTime t = platform::LocalFromUnix(platform::UnixFromFileTime(fileTime));
  return W(core::Format("%s: %d.%02d.%02d-%02d:%02d:%02d", label, t.year, t.month, t.day, t.hour, t.minute, t.second));
}

struct Verification {
  int result = -2;
  int count = -1;
  crypto::DataBlock content;
  std::wstring report = L"untouched";
  uint8_t verdict = 0xFF;
};

Verification Verify(const Bytes& message) {
  Verification v;
  v.result = crypto::VerifyMessageSignature(Block(message), &v.count, &v.content, &v.report, &v.verdict);
  return v;
}

// The signer section of a report that holds `marker`: from its heading to
// the next heading or the end; empty when no section holds it.
std::wstring Section(const std::wstring& report, const std::wstring& marker) {
  size_t at = report.find(marker);
  if (at == std::wstring::npos) return {};
  size_t start = report.rfind(L"--------| ЭЦП ", at);
  size_t end = report.find(L"\r\n--------| ЭЦП ", at);
  return report.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
}

Bytes Sha256(const std::string& text) {
  Bytes digest(SHA256_DIGEST_LENGTH);
  SHA256(reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest.data());
  return digest;
}

TEST_F(VerifyTest, ReportOfOneValidSignatureLineByLine) {
  const std::string content = "Документ для проверки";
  int64_t signedAt = Info("alpha").notBefore + 3600LL * 10000000;
  Verification v = Verify(SignAt("alpha", signedAt, Bytes(content.begin(), content.end())));
  ASSERT_EQ(v.result, 1) << core::ToNarrow(v.report, 65001);
  EXPECT_EQ(v.count, 1);
  EXPECT_EQ(v.verdict, 0);
  EXPECT_EQ(Text(v.content), content);

  std::vector<std::wstring> lines = ReportLines(v.report);
  ASSERT_EQ(lines.size(), 11u) << core::ToNarrow(v.report, 65001);
  EXPECT_EQ(lines[0], L"Количество подписей в электронном документе - 1");
  EXPECT_EQ(lines[1], L"--------| ЭЦП 1 |--------");
  EXPECT_TRUE(std::regex_match(core::ToNarrow(lines[2], 65001),
                               std::regex("Дата проверки подписи: \\d{4}\\.\\d\\d\\.\\d\\d-\\d\\d:\\d\\d:\\d\\d")));
  EXPECT_EQ(lines[3], L"Издатель сертификата: Tessarin Test CA 1");
  EXPECT_EQ(lines[4], L"Субъект: ООО Альфа");
  EXPECT_EQ(lines[5], L"УНП:190000001 Иванов Иван");
  EXPECT_EQ(lines[6], L"Идентификатор ключа субъекта: " + W(core::HexEncode(Info("alpha").keyId)));
  EXPECT_EQ(lines[7], LocalLine("Дата подписи", signedAt));
  EXPECT_EQ(lines[8], L"Хэш-значение (1.2.840.113549.1.9.4): " + W(core::HexEncode(Sha256(content))));
  EXPECT_EQ(lines[9], L"ЭЦП верна.");
  EXPECT_EQ(lines[10], L"Проверка подписи произведена криптопровайдером: Tessarin OpenSSL Provider версия - 3.0");

  std::string log = NormalLog();
  const std::string length = "ЭЦП верна. Длина сообщения - " + std::to_string(content.size());
  for (const std::string& line : {std::string(" GDFSM \r\n"), std::string("Количество подписей в сообщении - 1"),
                                  std::string("Проверка подписи - 1"),
                                  std::string("Субъект (владелец открытого ключа): ООО Альфа УНП: 190000001"), length,
                                  std::string(" GDFSM - end \r\n")}) {
    EXPECT_NE(log.find(line), std::string::npos) << line;
  }
}

TEST_F(VerifyTest, ValidityBoundsAreExclusive) {
  const crypto::provider::CertInfo alpha = Info("alpha");
  const int64_t second = 10000000;
  Verification atStart = Verify(SignAt("alpha", alpha.notBefore, Bytes{1}));
  EXPECT_EQ(atStart.result, 0);
  EXPECT_EQ(atStart.verdict, crypto::kVerdictOutsideValidity);
  EXPECT_NE(atStart.report.find(L"ВНИМАНИЕ: ------ЭЦП НЕВЕРНА--------"), std::wstring::npos);
  EXPECT_EQ(atStart.content.count, 0u);
  EXPECT_EQ(Verify(SignAt("alpha", alpha.notBefore + second, Bytes{1})).result, 1);
  EXPECT_EQ(Verify(SignAt("alpha", alpha.notBefore - second, Bytes{1})).verdict, crypto::kVerdictOutsideValidity);
  EXPECT_EQ(Verify(SignAt("alpha", alpha.notAfter, Bytes{1})).verdict, crypto::kVerdictOutsideValidity);
  EXPECT_EQ(Verify(SignAt("alpha", alpha.notAfter - second, Bytes{1})).result, 1);
}

TEST_F(VerifyTest, SignatureAfterValidityEnd) {
  crypto::DataBlock signedByExpired;
  ASSERT_EQ(crypto::SignMessage(Block("late"), Id("expired"), &signedByExpired, true), 0u);
  Verification v = Verify(crypto::BlockBytes(signedByExpired));
  EXPECT_EQ(v.result, 0);
  EXPECT_EQ(v.verdict, crypto::kVerdictOutsideValidity);
  std::vector<std::wstring> lines = ReportLines(v.report);
  ASSERT_GE(lines.size(), 11u);
  EXPECT_EQ(lines[9], L"ВНИМАНИЕ: ------ЭЦП НЕВЕРНА--------");
  EXPECT_EQ(lines[10].rfind(L"Проверка подписи произведена криптопровайдером: ", 0), 0u);
}

TEST_F(VerifyTest, RevokedCoSignerIsReportedAndNotChecked) {
  crypto::DataBlock once;
  ASSERT_EQ(crypto::SignMessage(Block("doc"), Id("alpha"), &once, true), 0u);
  crypto::DataBlock twice;
  ASSERT_EQ(crypto::SignMessage(once, Id("revoked"), &twice, true), 0u);
  Verification v = Verify(crypto::BlockBytes(twice));
  EXPECT_EQ(v.result, 0);
  EXPECT_EQ(v.count, 2);
  EXPECT_EQ(v.verdict, crypto::kVerdictRevoked);
  EXPECT_EQ(v.content.count, 0u);
  // The revoked signer's section ends with an empty line and the text.
  std::wstring revoked = Section(v.report, L"Субъект: ООО Отозванная");
  const std::wstring tail = L"\r\n\r\nСертификат отозван.ЭЦП не проверена.";
  ASSERT_GE(revoked.size(), tail.size());
  EXPECT_EQ(revoked.substr(revoked.size() - tail.size()), tail);
  EXPECT_NE(Section(v.report, L"Субъект: ООО Альфа").find(L"\r\nЭЦП верна."), std::wstring::npos);
}

TEST_F(VerifyTest, SignersWithTheSameSerialAreToldApartByIssuer) {
  crypto::DataBlock once;
  ASSERT_EQ(crypto::SignMessage(Block("doc"), Id("alpha"), &once, true), 0u);
  crypto::DataBlock twice;
  ASSERT_EQ(crypto::SignMessage(once, Id("ten"), &twice, true), 0u);
  Verification v = Verify(crypto::BlockBytes(twice));
  EXPECT_EQ(v.result, 0);
  // Signers are kept in the order of their encodings; find each by name.
  std::wstring first = Section(v.report, L"Субъект: ООО Альфа");
  std::wstring last = Section(v.report, L"Субъект: ООО Десятка");
  EXPECT_NE(first.find(L"Субъект: ООО Альфа"), std::wstring::npos);
  EXPECT_NE(first.find(L"ЭЦП верна."), std::wstring::npos);
  EXPECT_NE(last.find(L"Субъект: ООО Десятка"), std::wstring::npos);
  // "CA 10"'s list is out of date.
  EXPECT_NE(last.find(L"\r\n\r\nОшибка проверки сертификата по СОС.Обновите СОС. ЭЦП не проверена."),
            std::wstring::npos);
  EXPECT_NE(NormalLog().find("Error = Ошибка проверки сертификата по СОС. ЭЦП не проверена."), std::string::npos);
}

TEST_F(VerifyTest, TwoValidSignatures) {
  crypto::DataBlock once;
  ASSERT_EQ(crypto::SignMessage(Block("both"), Id("alpha"), &once, true), 0u);
  crypto::DataBlock twice;
  ASSERT_EQ(crypto::SignMessage(once, Id("beta"), &twice, true), 0u);
  Verification v = Verify(crypto::BlockBytes(twice));
  EXPECT_EQ(v.result, 1);
  EXPECT_EQ(v.count, 2);
  EXPECT_EQ(Text(v.content), "both");
  EXPECT_EQ(ReportLines(v.report).size(), 21u);
}

TEST_F(VerifyTest, AlteredContentFailsTheCryptographicCheck) {
  Bytes message = SignAt("alpha", Info("alpha").notBefore + 10000000, Bytes{'a', 'b', 'c', 'x', 'y', 'z'});
  const Bytes needle = {'a', 'b', 'c', 'x', 'y', 'z'};
  auto at = std::search(message.begin(), message.end(), needle.begin(), needle.end());
  ASSERT_NE(at, message.end());
  *at = 'A';
  Verification v = Verify(message);
  EXPECT_EQ(v.result, 0);
  EXPECT_EQ(v.verdict, crypto::kVerdictBadSignature);
  EXPECT_EQ(v.content.count, 0u);
  EXPECT_EQ(v.report.find(L"ЭЦП верна."), std::wstring::npos);
  EXPECT_NE(NormalLog().find("VerifyMessageSignature- Stage-1"), std::string::npos);
}

TEST_F(VerifyTest, SignerCertificateMissingFromTheMessage) {
  std::string content = Scratch() + "content.txt";
  test_support::WriteText(content, "no certificates");
  ASSERT_TRUE(Run("openssl cms -sign -nodetach -nocerts -binary -md sha256 -in " + content + " -signer " +
                  CertFile("beta") + " -inkey " + KeyFile("beta") + " -passin pass:12345678 -outform DER -out " +
                  Scratch() + "nocerts.der"));
  Verification v = Verify(test_support::ReadBytes(Scratch() + "nocerts.der"));
  EXPECT_EQ(v.result, 0);
  EXPECT_EQ(v.verdict, crypto::kVerdictNoCertificate);
  std::vector<std::wstring> lines = ReportLines(v.report);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[2].find(L"Не найден сертифкат в списке. ЭЦП не проверена."), std::wstring::npos);
  EXPECT_EQ(lines[2].rfind(L"Дата проверки подписи: ", 0), 0u);  // no line break before the text
}

TEST_F(VerifyTest, SignerWithoutSigningTimeIsInvalid) {
  std::string content = Scratch() + "content.txt";
  test_support::WriteText(content, "no attributes");
  ASSERT_TRUE(Run("openssl cms -sign -nodetach -noattr -binary -md sha256 -in " + content + " -signer " +
                  CertFile("beta") + " -inkey " + KeyFile("beta") + " -passin pass:12345678 -outform DER -out " +
                  Scratch() + "noattr.der"));
  Verification v = Verify(test_support::ReadBytes(Scratch() + "noattr.der"));
  EXPECT_EQ(v.result, 0);
  EXPECT_EQ(v.verdict, crypto::kVerdictBadSignature);
  EXPECT_NE(v.report.find(L"ВНИМАНИЕ: ------ЭЦП НЕВЕРНА--------"), std::wstring::npos);
  EXPECT_EQ(v.report.find(L"Дата подписи:"), std::wstring::npos);
}

TEST_F(VerifyTest, InputThatIsNoSignedMessage) {
  Bytes random(300);
  for (size_t i = 0; i < random.size(); ++i) random[i] = static_cast<uint8_t>(i * 131 + 7);
  crypto::DataBlock sealed;
  ASSERT_TRUE(crypto::CryptMessage(Block("x"), {{CertBase64("beta"), ""}}, &sealed));
  Bytes truncated = SignAt("alpha", Info("alpha").notBefore + 10000000, Bytes{1, 2, 3});
  truncated.resize(truncated.size() - 40);
  for (const Bytes& input : {random, CertDer("alpha"), crypto::BlockBytes(sealed), truncated, Bytes()}) {
    Verification v = Verify(input);
    EXPECT_EQ(v.result, -1);
    EXPECT_EQ(v.count, 0);
    EXPECT_EQ(v.report, L"untouched");
    EXPECT_EQ(v.content.count, 0u);
  }
  EXPECT_NE(NormalLog().find("CMSG_SIGNER_COUNT_PARAM"), std::string::npos);  // the envelope
}

TEST_F(VerifyTest, UnknownProviderTypeStopsAfterTheCounts) {
  crypto::SetProviderTypeForTest(0);
  Verification v = Verify(SignAt("alpha", Info("alpha").notBefore + 10000000, Bytes{1}));
  EXPECT_EQ(v.result, 0);
  EXPECT_EQ(v.report, L"Количество подписей в электронном документе - 1");
}

}  // namespace
}  // namespace crypto_test
