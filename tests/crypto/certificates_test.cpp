// Tests of the certificate list, the УНП, the encoded certificates, the
// key-container checks and the revocation checks.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/text.h"
#include "crypto/cms.h"
#include "crypto_fixture.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "storage/settings.h"

namespace crypto_test {
namespace {

using CertificatesTest = CryptoTest;

TEST_F(CertificatesTest, ListHoldsValidCertificatesWithUnpOnly) {
  ASSERT_EQ(crypto::ListCertificates(), 6);  // alpha, ten, beta, zero, revoked, other
  std::vector<std::wstring> names;
  crypto::CertificateEntry entry;
  for (int i = 0; crypto::GetCertificateEntry(i, &entry); ++i) names.push_back(entry.subjectName);
  for (const wchar_t* left : {L"Без УНП", L"Короткий УНП", L"ООО Прошлая"}) {
    EXPECT_EQ(std::count(names.begin(), names.end(), left), 0) << core::ToNarrow(left, 65001);
  }
  EXPECT_EQ(crypto::SelectedCertificate(), -1);
  EXPECT_FALSE(crypto::GetCertificateEntry(6, &entry));
}

TEST_F(CertificatesTest, EntryOfALeadingZeroUnp) {
  ASSERT_GT(crypto::ListCertificates(), 0);
  crypto::CertificateEntry entry;
  bool found = false;
  for (int i = 0; crypto::GetCertificateEntry(i, &entry); ++i) {
    if (entry.keyId != Id("zero")) continue;
    found = true;
    EXPECT_EQ(entry.subjectName, L"ЗАО Ноль");
    EXPECT_EQ(entry.unpText, L"012345678");
    EXPECT_EQ(entry.unpNumber, 12345678);
    EXPECT_EQ(entry.keyIdText, core::ToWide(core::HexEncode(entry.keyId.data(), 20), 65001));
    EXPECT_EQ(entry.issuerName, L"Tessarin Test CA 1");
    EXPECT_EQ(entry.validToText, L"2040.12.31");
    EXPECT_EQ(entry.validFromText, core::FormatCertDate(entry.validFrom));
    EXPECT_EQ(entry.sessionId, (std::array<uint8_t, 64>{}));
    EXPECT_TRUE(entry.identityDigest.empty());
  }
  EXPECT_TRUE(found);
  EXPECT_NE(NormalLog().find("Size - 20 "), std::string::npos);
}

TEST_F(CertificatesTest, SelectionAndEntryUpdatesAreShared) {
  ASSERT_GT(crypto::ListCertificates(), 1);
  crypto::SelectCertificate(1);
  EXPECT_TRUE(crypto::UpdateCertificateEntry(1, [](crypto::CertificateEntry& e) { e.sessionId[0] = 7; }));
  crypto::CertificateEntry entry;
  ASSERT_TRUE(crypto::GetSelectedEntry(&entry));
  EXPECT_EQ(entry.sessionId[0], 7);
  crypto::SelectCertificate(-1);
  EXPECT_FALSE(crypto::GetSelectedEntry(&entry));
}

TEST_F(CertificatesTest, ListFailsWithoutStore) {
  setenv("TESSARIN_CERTSTORE", (Store() + "missing").c_str(), 1);
  EXPECT_EQ(crypto::ListCertificates(), -1);
  EXPECT_NE(NormalLog().find("Хранилище сертификатов не открыто"), std::string::npos);
}

TEST_F(CertificatesTest, UnpIsNineCharactersOrNothing) {
  EXPECT_EQ(crypto::GetUNP(CertDer("alpha")), L"190000001");
  EXPECT_EQ(crypto::GetUNP(CertDer("zero")), L"012345678");
  EXPECT_EQ(crypto::GetUNP(CertDer("nounp")), L"");
  EXPECT_EQ(crypto::GetUNP(CertDer("shortunp")), L"");  // five characters only
  crypto::provider::CertInfo info = Info("alpha");
  for (crypto::provider::Extension& extension : info.extensions) {
    if (extension.oid == crypto::kUnpExtensionOid) extension.value.resize(19);
  }
  EXPECT_EQ(crypto::GetUNP(info), L"");
}

TEST_F(CertificatesTest, CertBlobByKeyIdentifier) {
  crypto::DataBlock out;
  ASSERT_TRUE(crypto::GetCertBlob(Id("beta"), &out));
  EXPECT_EQ(crypto::BlockBytes(out), CertDer("beta"));
  crypto::KeyId unknown{};
  crypto::DataBlock none;
  EXPECT_FALSE(crypto::GetCertBlob(unknown, &none));
  EXPECT_EQ(none.count, 0u);
  std::string log = NormalLog();
  EXPECT_NE(log.find(" GCB \r\n"), std::string::npos);
  EXPECT_NE(log.find(" GCB - end \r\n"), std::string::npos);
  EXPECT_NE(log.find("Error = Сертификат не найден -2146885628 = 80092004"), std::string::npos);
}

TEST_F(CertificatesTest, CertificateFromSignedMessageByKeyIdentifier) {
  crypto::DataBlock signedOnce;
  ASSERT_EQ(crypto::SignMessage(Block("text"), Id("alpha"), &signedOnce, true), 0u);
  crypto::DataBlock signedTwice;
  ASSERT_EQ(crypto::SignMessage(signedOnce, Id("beta"), &signedTwice, true), 0u);
  crypto::DataBlock out;
  ASSERT_TRUE(crypto::GetCertFromSignedMessage(signedTwice, Id("beta"), &out));
  EXPECT_EQ(crypto::BlockBytes(out), CertDer("beta"));
  EXPECT_FALSE(crypto::GetCertFromSignedMessage(signedTwice, Id("zero"), &out));
  EXPECT_FALSE(crypto::GetCertFromSignedMessage(Block("not a message"), Id("beta"), &out));
  std::string log = NormalLog();
  EXPECT_NE(log.find("Количество сертификатов в сообщении - 2"), std::string::npos);
  EXPECT_NE(log.find("Can't CryptQueryObject"), std::string::npos);
}

TEST_F(CertificatesTest, PresentContainerTeachesTheProviderType) {
  crypto::SetProviderTypeForTest(0);
  EXPECT_EQ(crypto::ProviderTypeInForce(), 0);
  EXPECT_TRUE(crypto::IsContainer(Id("alpha"), crypto::kContainerPresent));
  EXPECT_EQ(crypto::ProviderTypeInForce(), crypto::provider::OwnProviderType());
  EXPECT_NE(NormalLog().find("Selected CP - 99"), std::string::npos);
  crypto::KeyId unknown{};
  EXPECT_FALSE(crypto::IsContainer(unknown, crypto::kContainerPresent));
}

TEST_F(CertificatesTest, PinCheckNeedsEightCharactersAndTheRightPin) {
  storage::SetSettingText("IDC_PASS", L"1234567");
  EXPECT_FALSE(crypto::IsContainer(Id("alpha"), crypto::kContainerPin));
  EXPECT_EQ(NormalLog().find("PP_SIGNATURE_PIN"), std::string::npos);  // the provider was not asked
  storage::SetSettingText("IDC_PASS", L"87654321");
  EXPECT_FALSE(crypto::IsContainer(Id("alpha"), crypto::kContainerPin));
  EXPECT_NE(NormalLog().find("Error = PP_SIGNATURE_PIN -2146434965 = 8010006B"), std::string::npos);
  storage::SetSettingText("IDC_PASS", L"12345678");
  EXPECT_TRUE(crypto::IsContainer(Id("alpha"), crypto::kContainerPin));
  storage::SetSettingText("IDC_PASS", L"ключ2024");
  EXPECT_TRUE(crypto::IsContainer(Id("zero"), crypto::kContainerPin));
}

TEST_F(CertificatesTest, MissingKeyMediumIsNoContainer) {
  RemoveKey("alpha");
  EXPECT_FALSE(crypto::IsContainer(Id("alpha"), crypto::kContainerPresent));
  EXPECT_NE(NormalLog().find("IsContainer - CryptAcquireCertificatePrivateKey -2146435060 = 8010000C"),
            std::string::npos);
}

TEST_F(CertificatesTest, OpeningTestAsksToWaitWhenTheMediumAnswersAtOnce) {
  testing::internal::CaptureStdout();
  bool usable = crypto::IsContainer(Id("alpha"), crypto::kContainerOpening);
  std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(usable);
  EXPECT_NE(printed.find("Подождите для открытия ~20 секунд"), std::string::npos);
}

TEST_F(CertificatesTest, PresenceWorkerReportsTheSelectedContainer) {
  ASSERT_GT(crypto::ListCertificates(), 0);
  crypto::SetContainerPresence(crypto::kPresenceUnknown);
  platform::ThreadJoin(crypto::StartContainerPresenceWorker());
  EXPECT_EQ(crypto::ContainerPresence(), crypto::kPresenceAbsent);  // nothing selected

  crypto::CertificateEntry entry;
  int alpha = -1;
  for (int i = 0; crypto::GetCertificateEntry(i, &entry); ++i) {
    if (entry.keyId == Id("alpha")) alpha = i;
  }
  ASSERT_GE(alpha, 0);
  crypto::SelectCertificate(alpha);
  platform::ThreadJoin(crypto::StartContainerPresenceWorker());
  EXPECT_EQ(crypto::ContainerPresence(), crypto::kPresencePresent);
  RemoveKey("alpha");
  platform::ThreadJoin(crypto::StartContainerPresenceWorker());
  EXPECT_EQ(crypto::ContainerPresence(), crypto::kPresenceAbsent);
}

TEST_F(CertificatesTest, ListSelectionAndFlagsStandConcurrentUse) {
  ASSERT_EQ(crypto::ListCertificates(), 6);
  crypto::SelectCertificate(0);
  std::vector<platform::ThreadHandle> threads;
  threads.push_back(platform::ThreadStart([] {
    for (int i = 0; i < 20; ++i) crypto::ListCertificates();
  }));
  threads.push_back(platform::ThreadStart([] {
    for (int i = 0; i < 200; ++i) {
      crypto::SelectCertificate(i % 6);
      crypto::UpdateCertificateEntry(i % 6, [](crypto::CertificateEntry& e) { e.sessionKey[1] = 1; });
    }
  }));
  for (int i = 0; i < 3; ++i) threads.push_back(crypto::StartContainerPresenceWorker());
  crypto::CertificateEntry entry;
  for (int i = 0; i < 200; ++i) {
    if (crypto::GetSelectedEntry(&entry)) {
      EXPECT_EQ(entry.keyIdText.size(), 40u);
    }
  }
  for (const platform::ThreadHandle& thread : threads) platform::ThreadJoin(thread);
  EXPECT_EQ(crypto::CertificateCount(), 6);
  EXPECT_EQ(crypto::ContainerPresence(), crypto::kPresencePresent);
}

TEST_F(CertificatesTest, RevocationResults) {
  // "CA 10"'s out-of-date list comes first and its name contains "CA 1";
  // only the exact issuer counts.
  EXPECT_EQ(crypto::CheckCertCRL(CertDer("alpha")), crypto::kCrlCurrent);
  // Of the two lists of "CA 1", the newer one lists the revocation.
  EXPECT_EQ(crypto::CheckCertCRL(CertDer("revoked")), crypto::kCrlRevoked);
  EXPECT_EQ(crypto::CheckCertCRL(CertDer("ten")), crypto::kCrlOutOfDate);
  EXPECT_EQ(crypto::CheckCertCRL(CertDer("other")), crypto::kCrlNotFound);
  EXPECT_EQ(crypto::CheckCertCRL(Bytes{0x30, 0x03, 0x02, 0x01, 0x01}), crypto::kCrlCopyFailed);
  std::string log = NormalLog();
  EXPECT_NE(log.find("CRL not found"), std::string::npos);
  EXPECT_NE(log.find("Not after: 2021.01.01-"), std::string::npos);
  EXPECT_NE(log.find("CertCreateCertificateContext"), std::string::npos);
}

TEST_F(CertificatesTest, ListsAreMatchedByIssuerNameAndUsedOnlyWhenTheirIssuerVerifiesThem) {
  // The newest list of "CA 1", its issuer written in capitals and as
  // PrintableString: the same name, so it is the one that counts.
  const std::string folder = Store() + "CA/";
  test_support::WriteBytes(folder + "crl-d-ca1.crl",
                           MakeCrl("ca1", "ca1", {"alpha"}, "/CN=TESSARIN TEST CA 1/O=Tessarin Test/C=BY"));
  EXPECT_EQ(crypto::CheckCertCRL(CertDer("alpha")), crypto::kCrlRevoked);

  // Under the name of "CA 1" but signed by "CA 2": not used, the list
  // before it counts.
  test_support::WriteBytes(folder + "crl-d-ca1.crl", MakeCrl("ca2", "ca1", {"alpha"}));
  EXPECT_EQ(crypto::CheckCertCRL(CertDer("alpha")), crypto::kCrlCurrent);

  // "CA 2" had no list: a list it signed counts; the same list with its
  // signature broken, or one signed by "CA 1" under its name, is not used.
  Bytes own = MakeCrl("ca2", "ca2", {"other"});
  test_support::WriteBytes(folder + "crl-e-ca2.crl", own);
  EXPECT_EQ(crypto::CheckCertCRL(CertDer("other")), crypto::kCrlRevoked);
  own.back() ^= 0x01;
  test_support::WriteBytes(folder + "crl-e-ca2.crl", own);
  EXPECT_EQ(crypto::CheckCertCRL(CertDer("other")), crypto::kCrlNotFound);
  test_support::WriteBytes(folder + "crl-e-ca2.crl", MakeCrl("ca1", "ca2", {}));
  EXPECT_EQ(crypto::CheckCertCRL(CertDer("other")), crypto::kCrlNotFound);
  EXPECT_NE(NormalLog().find("Error = CryptVerifyCertificateSignatureEx -2146893818"), std::string::npos);
}

TEST_F(CertificatesTest, ListExpiresWhenTheClockPassesNextUpdate) {
  // 2041: the current list of "CA 1" is out of date too.
  platform::SetClockShiftForTest(2240611200LL - platform::UnixNow());  // 2041-01-01
  EXPECT_EQ(crypto::CheckCertCRL(CertDer("alpha")), crypto::kCrlOutOfDate);
}

TEST_F(CertificatesTest, RevocationByKeyIdentifier) {
  EXPECT_EQ(crypto::CheckCertInCRLByID(Id("revoked")), crypto::kCrlRevoked);
  crypto::KeyId unknown{};
  EXPECT_EQ(crypto::CheckCertInCRLByID(unknown), -2);
  std::string log = NormalLog();
  EXPECT_NE(log.find(" CCICBI - end \r\n"), std::string::npos);
  EXPECT_NE(log.find("CertFindCertificateInStore"), std::string::npos);
  std::filesystem::remove_all(Store() + "CA");
  EXPECT_EQ(crypto::CheckCertInCRLByID(Id("alpha")), crypto::kCrlStoreFailed);
}

}  // namespace
}  // namespace crypto_test
