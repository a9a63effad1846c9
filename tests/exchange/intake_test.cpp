// Intake against the simulator: counting, fetching, checking, confirming,
// storing and deleting waiting messages, the automatic refusals, and the
// message list the window is given.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "core/client_state.h"
#include "core/text.h"
#include "crypto/cms.h"
#include "crypto/verify.h"
#include "exchange/document.h"
#include "exchange/intake.h"
#include "exchange/session.h"
#include "exchange_fixture.h"
#include "link/exchange_record.h"
#include "link/payload.h"
#include "platform/ui.h"
#include "storage/settings.h"

namespace exchange_test {
namespace {

class IntakeTest : public ExchangeTest {
 protected:
  void SetUp() override {
    ExchangeTest::SetUp();
    StartSim();
    // The window's start opens the session first.
    ASSERT_TRUE(exchange::CTS(nullptr));
  }

  json Send(const std::string& content, bool confirm = false, int type = 52) {
    return Inject(json{{"from", "alpha"}, {"to", "beta"}, {"type", type}, {"confirm", confirm}, {"content", content}});
  }

  // A raw payload put into beta's mailbox as it is.
  json SendRaw(int type, const Bytes& payload) {
    return Inject(json{{"from", "alpha"}, {"to", "beta"}, {"type", type}, {"raw", true},
                       {"contentBase64", core::Base64Encode(payload)}});
  }

  Bytes EnvelopeForBeta(const Bytes& content) const {
    crypto::DataBlock envelope;
    std::vector<crypto::Recipient> recipients{{core::Base64Encode(beta.certificate), ""}};
    EXPECT_TRUE(crypto::CryptMessage(crypto::MakeBlock(content), recipients, &envelope));
    return crypto::BlockBytes(envelope);
  }

  // Messages of a type family waiting for an organisation.
  std::vector<json> Waiting(const std::string& org, int family) const {
    std::vector<json> found;
    for (const json& message : Mailbox(org, true)) {
      if (message["family"] == family) found.push_back(message);
    }
    return found;
  }
  std::vector<json> ForAlpha(int family) const { return Waiting("alpha", family); }

  bool Shown(const std::wstring& line) const {
    std::vector<std::wstring> lines = StatusLines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
};

TEST_F(IntakeTest, EmptyListLeavesTheStateAlone) {
  ShowWindow();
  core::SetClientState(core::kStateMessagesWaiting);
  EXPECT_EQ(exchange::ClientGetMessagesFromServer(), 0);
  EXPECT_EQ(core::GetClientState(), core::kStateMessagesWaiting);
  EXPECT_EQ(StatusLines().front(), L"Нет сообщений");
  EXPECT_EQ(RowCount(), 0);
}

TEST_F(IntakeTest, DocumentWantingConfirmationIsStoredAs52AndConfirmedCompressed) {
  ShowWindow();
  json sent = Send("<html>Счёт № 17 на оплату услуг связи</html>", true);
  ASSERT_EQ(sent["type"], 62);
  core::SetClientState(core::kStateMessagesWaiting);
  EXPECT_EQ(exchange::ClientGetMessagesFromServer(), 1);
  EXPECT_EQ(core::GetClientState(), core::kStateReady);

  ASSERT_EQ(RowCount(), 1);
  storage::MessageEntry entry = EntryOfIdm(sent["idm"].get<int32_t>());
  EXPECT_EQ(entry.type, 52);
  EXPECT_EQ(entry.status, 0);
  EXPECT_EQ(entry.senderName, L"ООО Альфа");
  EXPECT_EQ(entry.senderUNP, 190000001);
  EXPECT_TRUE(std::equal(entry.senderIKS.begin(), entry.senderIKS.end(), alpha.iks.begin()));
  storage::StoredMessage row = Row(entry.id);
  int signatures = 0;
  crypto::DataBlock content;
  std::wstring report;
  ASSERT_EQ(crypto::VerifyMessageSignature(crypto::MakeBlock(row.message), &signatures, &content, &report, nullptr), 1);
  const std::string invoice = "<html>Счёт № 17 на оплату услуг связи</html>";
  EXPECT_EQ(crypto::BlockBytes(content), Bytes(invoice.begin(), invoice.end()));
  EXPECT_TRUE(Mailbox("beta").empty()) << "deleted on the server once stored";

  // The confirmation went to alpha compressed (154), names the document
  // and carries the report and the digest.
  std::vector<json> confirmations = ForAlpha(54);
  ASSERT_EQ(confirmations.size(), 1u);
  EXPECT_EQ(confirmations[0]["type"], 154);
  EXPECT_EQ(confirmations[0]["number"], sent["number"]);
  serverlink::ExchangeRecord opened;
  opened.type = 154;
  opened.payload = OpenFor("alpha", Base64Field(confirmations[0]["payload"]));
  ASSERT_TRUE(serverlink::ExpandPayload(&opened));
  EXPECT_EQ(opened.type, 54);
  crypto::DataBlock page;
  std::wstring confirmationReport;
  ASSERT_EQ(crypto::VerifyMessageSignature(crypto::MakeBlock(opened.payload), &signatures, &page,
                                           &confirmationReport, nullptr),
            1);
  EXPECT_EQ(signatures, 1);
  std::vector<uint8_t> pageBytes = crypto::BlockBytes(page);
  std::wstring text = core::ToWide(std::string(pageBytes.begin(), pageBytes.end()), core::kCodePageUtf8);
  EXPECT_NE(text.find(L"ООО Бета подтверждает получение электронного документа №" +
                      core::ToWide(sent["number"].get<std::string>(), core::kCodePageUtf8) + L".<BR>"),
            std::wstring::npos);
  EXPECT_NE(text.find(L"Начало результата  ******************<BR>" +
                      core::ReplaceAll(report, L"\r\n", L"<BR>", false).substr(0, 40)),
            std::wstring::npos);
  crypto::DataBlock digest;
  ASSERT_TRUE(crypto::GetDataFromEncode(crypto::MakeBlock(row.message), &digest));
  EXPECT_NE(text.find(L"документа:<BR>" +
                      core::ToWide(core::HexEncode(crypto::BlockBytes(digest)), core::kCodePageUtf8) + L"<BR></span>"),
            std::wstring::npos);
  std::vector<std::wstring> lines = StatusLines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), L"Сообщение получено"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), L"Обратывается сообщение - 1"), lines.end());
}

TEST_F(IntakeTest, CoSignedReplyWantingConfirmationIsStoredAs53OpenedAndConfirmed) {
  json sent = Send("<html>Акт № 18, подписан обеими сторонами</html>", true, 53);
  ASSERT_EQ(sent["type"], 63);
  EXPECT_EQ(exchange::ClientGetMessagesFromServer(), 1);
  storage::MessageEntry entry = EntryOfIdm(sent["idm"].get<int32_t>());
  EXPECT_EQ(entry.type, 53);
  int signatures = 0;
  crypto::DataBlock content;
  std::wstring report;
  EXPECT_EQ(crypto::VerifyMessageSignature(crypto::MakeBlock(Row(entry.id).message), &signatures, &content, &report,
                                           nullptr),
            1)
      << "stored opened";
  std::vector<json> confirmations = ForAlpha(54);
  ASSERT_EQ(confirmations.size(), 1u);
  EXPECT_EQ(confirmations[0]["number"], sent["number"]);
  EXPECT_TRUE(ForAlpha(56).empty()) << "nothing refused";
  EXPECT_TRUE(Mailbox("beta").empty());
}

TEST_F(IntakeTest, ShortCompressedPayloadKeepsItsTypeAndIsRefusedAsUnknown) {
  Bytes content(80, 'x');
  json sent = SendRaw(152, EnvelopeForBeta(content));
  EXPECT_EQ(exchange::ClientGetMessagesFromServer(), 1);
  storage::MessageEntry entry = EntryOfIdm(sent["idm"].get<int32_t>());
  EXPECT_EQ(entry.type, 152);
  EXPECT_EQ(Row(entry.id).message, content);
  std::vector<json> refusals = ForAlpha(56);
  ASSERT_EQ(refusals.size(), 1u);
  EXPECT_EQ(Base64Field(refusals[0]["payload"]), Bytes{191});
}

TEST_F(IntakeTest, BrokenSignatureIsRefusedWithTheVerdictAndStoredAnyway) {
  crypto::DataBlock signedDocument;
  const std::string text = "<html>Акт выполненных работ</html>";
  const Bytes content(text.begin(), text.end());
  ASSERT_EQ(crypto::SignMessage(crypto::MakeBlock(content), alpha.iks, &signedDocument, true), 0u);
  Bytes damaged = crypto::BlockBytes(signedDocument);
  auto at = std::search(damaged.begin(), damaged.end(), content.begin(), content.end());
  ASSERT_NE(at, damaged.end());
  at[7] ^= 0x01;
  json sent = SendRaw(52, EnvelopeForBeta(damaged));
  EXPECT_EQ(exchange::ClientGetMessagesFromServer(), 1);
  storage::MessageEntry entry = EntryOfIdm(sent["idm"].get<int32_t>());
  EXPECT_EQ(entry.status, 0);
  EXPECT_EQ(Row(entry.id).message, damaged);
  std::vector<json> refusals = ForAlpha(56);
  ASSERT_EQ(refusals.size(), 1u);
  EXPECT_EQ(Base64Field(refusals[0]["payload"]), Bytes{114});
  EXPECT_TRUE(Mailbox("beta").empty());
}

TEST_F(IntakeTest, SignatureCheckWithoutVerdictRefusesNothing) {
  // The issuer of "other" has no revocation list, the list of "ten"'s
  // issuer is out of date: their signatures cannot be checked here, which
  // is no fault of theirs.
  ShowWindow();
  for (const char* org : {"other", "ten"}) ASSERT_EQ(sim->Post("/organisations", json{{"pki", org}}).status, 201);
  json plain = Inject(json{{"from", "other"}, {"to", "beta"}, {"type", 52}, {"content", "<html>Накладная</html>"}});
  json confirm = Inject(
      json{{"from", "ten"}, {"to", "beta"}, {"type", 52}, {"confirm", true}, {"content", "<html>Акт сверки</html>"}});
  EXPECT_EQ(exchange::ClientGetMessagesFromServer(), 2);

  // The plain document is stored unanswered, with its report shown.
  ASSERT_EQ(RowCount(), 1);
  EXPECT_EQ(EntryOfIdm(plain["idm"].get<int32_t>()).status, 0);
  EXPECT_TRUE(Shown(L"ЭЦП не проверена:"));
  EXPECT_TRUE(Shown(L"Ошибка проверки сертификата по СОС.Обновите СОС. ЭЦП не проверена."));
  // The one wanting a confirmation waits on the server until it can be checked.
  json waiting = Mailbox("beta");
  ASSERT_EQ(waiting.size(), 1u);
  EXPECT_EQ(waiting[0]["idm"], confirm["idm"]);
  EXPECT_TRUE(Shown(L"ЭЦП не проверена, сообщение оставлено в АИС до проверки:"));
  for (const char* org : {"other", "ten"}) {
    EXPECT_TRUE(Waiting(org, 56).empty()) << org << ": no refusal";
    EXPECT_TRUE(Waiting(org, 54).empty()) << org << ": no confirmation";
  }
  EXPECT_EQ(exchange::ClientGetMessagesFromServer(), 1);
  EXPECT_EQ(RowCount(), 1) << "fetched again, still not stored";
  EXPECT_EQ(Mailbox("beta").size(), 1u);
}

TEST_F(IntakeTest, MissingKeyMediumLeavesTheDocumentOnTheServerForTheNextRun) {
  ShowWindow();
  // The key medium goes away once the first document is stored; the
  // certificate request after it needs no key, the document after that does.
  json first = Send("<html>Счёт 1</html>");
  json request = Inject(json{{"from", "alpha"}, {"to", "beta"}, {"type", 73}});
  json third = Send("<html>Счёт 3</html>");
  const std::string container = store.path + "My/beta.key";
  const std::string away = store.path + "beta.key";
  bool removed = false;
  exchange::SetMessageListHook([&](const exchange::MessageListUpdate& update) {
    if (!update.whole && !removed) removed = std::rename(container.c_str(), away.c_str()) == 0;
  });
  EXPECT_EQ(exchange::ClientGetMessagesFromServer(), 3);
  ASSERT_TRUE(removed);
  EXPECT_EQ(RowCount(), 2);
  EntryOfIdm(first["idm"].get<int32_t>());
  EntryOfIdm(request["idm"].get<int32_t>());
  json waiting = Mailbox("beta");
  ASSERT_EQ(waiting.size(), 1u);
  EXPECT_EQ(waiting[0]["idm"], third["idm"]);
  EXPECT_TRUE(Shown(L"Не установлен носитель с личным ключом или ошибка при чтении носителя"));

  ASSERT_EQ(std::rename(away.c_str(), container.c_str()), 0);
  EXPECT_EQ(exchange::ClientGetMessagesFromServer(), 1);
  EXPECT_EQ(EntryOfIdm(third["idm"].get<int32_t>()).status, 0);
  EXPECT_TRUE(Mailbox("beta").empty());
  EXPECT_TRUE(ForAlpha(56).empty()) << "nothing refused";
}

TEST_F(IntakeTest, CertificateRequestIsStoredAsItCame) {
  json sent = Inject(json{{"from", "alpha"}, {"to", "beta"}, {"type", 73}});
  EXPECT_EQ(exchange::ClientGetMessagesFromServer(), 1);
  storage::MessageEntry entry = EntryOfIdm(sent["idm"].get<int32_t>());
  EXPECT_EQ(entry.type, 73);
  EXPECT_EQ(storage::MessageColumns(entry)[3], L"Запрос на СОК");
  EXPECT_EQ(Row(entry.id).message.size(), sent["payloadBytes"].get<size_t>());
  EXPECT_TRUE(ForAlpha(56).empty()) << "nothing to refuse";
}

TEST_F(IntakeTest, WaitingMessagesAreCountedAndAnnounced) {
  Send("<html>1</html>");
  Send("<html>2</html>");
  ASSERT_TRUE(exchange::StartCheckIncomeMessage());
  ASSERT_TRUE(WaitFor([] { return !exchange::CheckIncomeRunning(); }));
  EXPECT_EQ(core::GetClientState(), core::kStateMessagesWaiting);
  EXPECT_EQ(platform::ui::Tray().balloonText, L"Ожидают получения 2 сообщений");
  EXPECT_EQ(platform::ui::Tray().icon, 1020);
  EXPECT_EQ(RowCount(), 0) << "counting fetches nothing";

  ShowWindow();
  core::SetClientState(core::kStateReady);
  exchange::CheckIncomeMessage();
  EXPECT_EQ(StatusLines().front(), L"Ожидают получения 2 сообщений");
  EXPECT_EQ(core::GetClientState(), core::kStateReady);
}

TEST_F(IntakeTest, TheWindowsListFollowsEveryStoredMessage) {
  // The view as the window keeps it: its row count, and the rows it was
  // told are new.
  size_t count = 0;
  std::vector<int> added;
  int wholeLoads = 0;
  int insertions = 0;
  exchange::SetMessageListHook([&](const exchange::MessageListUpdate& update) {
    count = update.count;
    if (update.whole) {
      ++wholeLoads;
      return;
    }
    added.insert(added.end(), update.added.begin(), update.added.end());
    insertions += static_cast<int>(update.added.size());
  });  exchange::LoadMessagesFromBase();
  EXPECT_EQ(wholeLoads, 1);
  EXPECT_EQ(count, 0u);
  for (int i = 0; i < 3; ++i) Send("<html>Документ " + std::to_string(i) + "</html>");
  EXPECT_EQ(exchange::ClientGetMessagesFromServer(), 3);
  EXPECT_EQ(insertions, 3);
  EXPECT_EQ(wholeLoads, 1) << "a stored message does not reload the whole table";

  auto ids = [](const std::vector<storage::MessageEntry>& entries) {
    std::vector<int32_t> out;
    for (const storage::MessageEntry& entry : entries) out.push_back(entry.id);
    return out;
  };
  std::vector<storage::MessageEntry> list = storage::MessageListSnapshot();
  EXPECT_EQ(count, 3u);
  for (size_t i = 0; i < added.size(); ++i) EXPECT_LE(added[i], static_cast<int>(i)) << "a row of the list of then";
  exchange::LoadMessagesFromBase();
  EXPECT_EQ(ids(storage::MessageListSnapshot()), ids(list)) << "the same order as a whole load";
  for (size_t i = 0; i < list.size(); ++i) {
    EXPECT_EQ(list[i].row, static_cast<int32_t>(i));
    EXPECT_EQ(storage::MessageColumns(list[i])[1], L"ООО Альфа");
    EXPECT_EQ(storage::MessageColumns(list[i])[4], L"Не подписан");
  }
}

}  // namespace
}  // namespace exchange_test
