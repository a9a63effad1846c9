// Viewing and saving stored documents, and the e-mail binding.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/folders.h"
#include "core/text.h"
#include "crypto/cms.h"
#include "crypto/verify.h"
#include "exchange/document.h"
#include "exchange/email.h"
#include "exchange/intake.h"
#include "exchange/session.h"
#include "exchange_fixture.h"
#include "link/frame.h"
#include "storage/settings.h"

namespace fs = std::filesystem;

namespace exchange_test {
namespace {

TEST(SavedDocumentName, IsTheNumbersTwentySevenDigits) {
  core::SetProgramFolder("/folder/");
  storage::MessageNumber number{};
  number[0] = 123;
  EXPECT_EQ(exchange::SavedDocumentPath(number), "/folder/documents/000000123" + std::string(18, '0') + ".html.sgn");
  serverlink::NumberRecord fields{190000002, 45, 6, 7, 8};
  serverlink::WriteNumber(fields, number.data());
  EXPECT_EQ(exchange::SavedDocumentPath(number), "/folder/documents/190000002000000045000670008.html.sgn");
}

class DocumentTest : public ExchangeTest {
 protected:
  void SetUp() override {
    ExchangeTest::SetUp();
    StartSim();
    ASSERT_TRUE(exchange::CTS(nullptr));
    exchange::LoadMessagesFromBase();
  }

  storage::MessageEntry Receive(const json& message) {
    json body = message;
    body["from"] = "alpha";
    body["to"] = "beta";
    json sent = Inject(body);
    EXPECT_EQ(exchange::ClientGetMessagesFromServer(), 1);
    number = sent["number"].get<std::string>();
    return EntryOfIdm(sent["idm"].get<int32_t>());
  }

  std::string number;  // of the last message received
};

TEST_F(DocumentTest, PageIsTheContentAndTheReportWithLineBreaksAsBR) {
  const std::string content = "<html><b>Счёт</b> № 5</html>";
  storage::MessageEntry entry = Receive(json{{"type", 52}, {"content", content}});
  bool ok = false;
  uint8_t verdict = 99;
  std::string page;
  std::wstring report = exchange::ShowDocument(entry.row, false, &ok, &verdict, &page);
  EXPECT_TRUE(ok);
  EXPECT_EQ(verdict, 0);
  EXPECT_EQ(report.find(L"\r\n"), std::wstring::npos);
  EXPECT_EQ(report.rfind(L"Количество подписей в электронном документе - 1<BR>", 0), 0u);
  EXPECT_EQ(page, content + "<BR>" + core::ToNarrow(report, core::kCodePageUtf8));

  // Shown: the same page in temp.html, overwritten on every show.
  test_support::WriteText(program.path + "temp.html", std::string(5000, 'x'));
  exchange::ShowDocument(entry.row, true, &ok, &verdict, nullptr);
  EXPECT_EQ(test_support::ReadText(program.path + "temp.html"), page);

  // Neither shown nor asked for: the report only.
  std::wstring again = exchange::ShowDocument(entry.row, false, &ok, &verdict, nullptr);
  EXPECT_TRUE(ok);
  EXPECT_EQ(again.rfind(L"Количество подписей в электронном документе - 1<BR>", 0), 0u);
}

TEST_F(DocumentTest, UnreadableRowIsReportedAndWritesNothing) {
  ShowWindow();
  storage::MessageEntry entry = Receive(json{{"type", 73}});
  bool ok = true;
  uint8_t verdict = 0;
  std::string page = "untouched";
  exchange::ShowDocument(entry.row, true, &ok, &verdict, &page);
  EXPECT_FALSE(ok);
  EXPECT_EQ(page, "untouched");
  EXPECT_FALSE(fs::exists(program.path + "temp.html"));
  EXPECT_EQ(StatusLines().front(), L"Ошибка при получении данных из сообщения");
}

TEST_F(DocumentTest, SaveWritesTheSignedDocumentUnderItsNumber) {
  ShowWindow();
  storage::MessageEntry entry = Receive(json{{"type", 52}, {"content", "<html>Договор</html>"}});
  const std::string path = program.path + "documents/" + number + ".html.sgn";
  const std::wstring expected = L"Электронный документ сохранен " + core::ToWide(path, core::kCodePageUtf8);
  EXPECT_EQ(exchange::SaveDocument(entry.row), expected);
  EXPECT_EQ(test_support::ReadBytes(path), Row(entry.id).message);
  EXPECT_EQ(StatusLines().front(), expected);
  // Again: the same file, replaced.
  test_support::WriteText(path, std::string(20000, 'x'));
  EXPECT_EQ(exchange::SaveDocument(entry.row), expected);
  EXPECT_EQ(test_support::ReadBytes(path), Row(entry.id).message);

  fs::remove_all(program.path + "documents");
  EXPECT_EQ(exchange::SaveDocument(entry.row),
            core::ToWide(path, core::kCodePageUtf8) + L" - указанный каталог не доступен.");
  core::SetProgramFolder(program.path + "missing/");
  bool ok = false;
  uint8_t verdict = 0;
  exchange::ShowDocument(entry.row, true, &ok, &verdict, nullptr);
  EXPECT_EQ(StatusLines().front(),
            core::ToWide(program.path + "missing/temp.html", core::kCodePageUtf8) + L" - указанный каталог не доступен.");
}

class EmailTest : public ExchangeTest {
 protected:
  void SetUp() override {
    ExchangeTest::SetUp();
    StartSim();
    ASSERT_TRUE(exchange::CTS(nullptr));
    ASSERT_EQ(sim->Post("/counters/reset").status, 200);
  }

  std::string HeldAddress() const { return sim->Get("/organisations/beta").body["email"].get<std::string>(); }
};

TEST_F(EmailTest, DifferingAddressIsSentEqualOrEmptyIsNot) {
  storage::SetSettingText("IDC_EMAIL", L"buh@beta.by");
  exchange::CheckEmail();
  EXPECT_EQ(Counter("requests.14"), 1);
  EXPECT_EQ(Counter("requests.16"), 1);
  EXPECT_EQ(HeldAddress(), "buh@beta.by");
  EXPECT_EQ(exchange::GetEmail(), "buh@beta.by");

  exchange::CheckEmail();
  EXPECT_EQ(Counter("requests.16"), 1) << "equal: nothing sent";

  const int64_t asked = Counter("requests.14");
  storage::SetSettingText("IDC_EMAIL", L"");
  exchange::CheckEmail();
  EXPECT_EQ(Counter("requests.14"), asked) << "empty: not even asked";
  EXPECT_EQ(Counter("requests.16"), 1);
  EXPECT_EQ(HeldAddress(), "buh@beta.by");
}

TEST_F(EmailTest, NothingIsExchangedWithoutTheLink) {
  storage::SetSettingText("IDC_EMAIL", L"buh@beta.by");
  exchange::SetConnected(false);
  EXPECT_EQ(exchange::GetEmail(), "");
  EXPECT_TRUE(exchange::SendEmail("x@y.by"));
  exchange::CheckEmail();
  EXPECT_EQ(Counter("requests"), 0);
}

TEST_F(EmailTest, AddressOutsideSingleByteTextIsSentNarrowedAndLogged) {
  storage::SetSettingText("IDC_EMAIL", L"бух@beta.by");
  exchange::CheckEmail();
  // Each character's low byte: б 0x431 -> 0x31, у 0x443 -> 0x43, х 0x445 -> 0x45.
  EXPECT_EQ(HeldAddress(), "1CE@beta.by");
  EXPECT_NE(NormalLog().find("отправлен измененным: бух@beta.by"), std::string::npos);
}

TEST_F(EmailTest, CheckRunsWithEveryWorkingLink) {
  storage::SetSettingText("IDC_EMAIL", L"info@beta.by");
  ASSERT_TRUE(exchange::CTS(nullptr));
  EXPECT_EQ(HeldAddress(), "info@beta.by");
}

}  // namespace
}  // namespace exchange_test
