// Replies against the simulator: co-signing, the certificate answer with
// its requisites, refusals, the compression boundary, the saved reply and
// the row an operation works on.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include "core/text.h"
#include "crypto/cms.h"
#include "crypto/verify.h"
#include "exchange/intake.h"
#include "exchange/reply.h"
#include "exchange/session.h"
#include "exchange_fixture.h"
#include "link/payload.h"
#include "platform/clock.h"
#include "storage/database.h"
#include "storage/settings.h"

namespace exchange_test {
namespace {

class ReplyTest : public ExchangeTest {
 protected:
  void SetUp() override {
    ExchangeTest::SetUp();
    StartSim();
    ASSERT_TRUE(exchange::CTS(nullptr));
    exchange::LoadMessagesFromBase();
  }

  // A message from alpha, fetched and stored; its list entry.
  storage::MessageEntry Receive(const json& message) {
    json body = message;
    body["from"] = "alpha";
    body["to"] = "beta";
    json sent = Inject(body);
    EXPECT_EQ(exchange::ClientGetMessagesFromServer(), 1);
    return EntryOfIdm(sent["idm"].get<int32_t>());
  }

  storage::MessageEntry ReceiveDocument(const std::string& content) {
    return Receive(json{{"type", 52}, {"content", content}});
  }

  // What alpha got of a type family.
  std::vector<json> ForAlpha(int family) const {
    std::vector<json> found;
    for (const json& message : Mailbox("alpha", true)) {
      if (message["family"] == family) found.push_back(message);
    }
    return found;
  }

  // The table refuses to set a row to this status, as a full disk would.
  static void RefuseStatus(int status) {
    const std::string trigger = "CREATE TRIGGER refuse_" + std::to_string(status) +
                                " BEFORE UPDATE ON Messages WHEN NEW.status = " + std::to_string(status) +
                                " BEGIN SELECT RAISE(ABORT, 'disk full'); END";
    ASSERT_EQ(sqlite3_exec(storage::Database(), trigger.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  }

  static std::wstring Lines(std::initializer_list<const wchar_t*> lines) {
    std::wstring text;
    for (const wchar_t* line : lines) text += std::wstring(line) + L"<BR>";
    return text;
  }
};

TEST_F(ReplyTest, SignedRowIsNotAnsweredAgain) {
  storage::MessageEntry entry = ReceiveDocument("<html>Договор</html>");
  EXPECT_EQ(exchange::AnswerMessage(entry, false, 0), Lines({L"Сообщение отправлено Отправителю"}));
  EXPECT_EQ(Row(entry.id).status, 2);
  EXPECT_EQ(storage::MessageAt(entry.row)->status, 2) << "the list shows it before any reload";
  const int64_t requests = Counter("requests");
  storage::MessageEntry signedEntry = *storage::MessageAt(entry.row);
  for (uint8_t code : {0, 121}) {
    EXPECT_EQ(exchange::AnswerMessage(signedEntry, true, code), Lines({L"Сообщение уже подписано !!!"}));
  }
  EXPECT_EQ(Counter("requests"), requests) << "nothing sent";
}

TEST_F(ReplyTest, ShortRequisiteStopsTheCertificateAnswer) {
  storage::MessageEntry entry = Receive(json{{"type", 73}});
  SetRequisites();
  storage::SetSettingText("IDC_POST", L"Д");
  EXPECT_EQ(exchange::AnswerMessage(entry, false, 0),
            Lines({L"Не заполнен реквизит <Должность>", L"Ошибка при подготовке сообщения для Отправителя"}));
  EXPECT_EQ(Counter("requests.74"), 0);
  EXPECT_EQ(Row(entry.id).status, 0);
}

TEST_F(ReplyTest, MissingFirstRequisiteShowsAllFour) {
  storage::MessageEntry entry = Receive(json{{"type", 73}});
  SetRequisites();
  storage::ClearSettings();
  storage::SetSettingText("IDC_PASS", L"12345678");
  storage::SetSettingText("IDC_CERT", core::ToWide(beta.iksHex, core::kCodePageUtf8));
  storage::SetSettingText("IDC_BASE", L"Устава предприятия");
  storage::SetSettingText("IDC_POST", L"Директор");
  storage::SetSettingText("IDC_NAME", L"Иванов И. И.");
  EXPECT_EQ(exchange::AnswerMessage(entry, false, 0),
            Lines({L"Не заполнен реквизит <В лице>", L"Не заполнен реквизит <действующего на основании>",
                   L"Не заполнен реквизит <Должность>", L"Не заполнен реквизит <ФИО руководителя>",
                   L"Ошибка при подготовке сообщения для Отправителя"}));
  EXPECT_EQ(Counter("requests.74"), 0);
}

TEST_F(ReplyTest, CertificateAnswerCarriesTheCertificateAndRequisites) {
  storage::MessageEntry entry = Receive(json{{"type", 73}});
  const Bytes request = Row(entry.id).message;
  SetRequisites();
  EXPECT_EQ(exchange::AnswerMessage(entry, false, 0), Lines({L"Сообщение отправлено Отправителю"}));
  storage::StoredMessage row = Row(entry.id);
  EXPECT_EQ(row.status, 2);
  EXPECT_EQ(row.message, request) << "a certificate answer keeps the request";
  EXPECT_TRUE(row.tempSD.empty());
  EXPECT_TRUE(row.tempDFS.empty());

  std::vector<json> answers = ForAlpha(74);
  ASSERT_EQ(answers.size(), 1u);
  Bytes data = OpenFor("alpha", Base64Field(answers[0]["payload"]));
  ASSERT_GE(data.size(), 4u);
  size_t length = data[0] | data[1] << 8 | data[2] << 16 | static_cast<size_t>(data[3]) << 24;
  ASSERT_GE(data.size(), 4 + length);
  EXPECT_EQ(Bytes(data.begin() + 4, data.begin() + 4 + static_cast<long>(length)), beta.certificate);
  size_t at = 4 + length;
  std::vector<std::string> fields;
  while (at + 2 <= data.size()) {
    size_t n = data[at] | data[at + 1] << 8;
    fields.emplace_back(data.begin() + static_cast<long>(at + 2), data.begin() + static_cast<long>(at + 2 + n));
    at += 2 + n;
  }
  EXPECT_EQ(at, data.size());
  EXPECT_EQ(fields, (std::vector<std::string>{"Иванова Ивана Ивановича", "Устава", "Директор", "Иванов И. И."}));
}

TEST_F(ReplyTest, SavedReplyGoesAgainWithTheTypeItFirstHad) {
  // A co-signed document always carries two certificates and is longer
  // than 1000 bytes, so it always goes compressed; the saved reply of a row
  // in status 1 is what shows the boundary. Signed documents of exactly
  // 1000 and 1001 bytes are saved as a reply that was sent once and whose
  // answer was lost; the list load sends each again with the type it had.
  for (size_t wanted : {size_t{1000}, size_t{1001}}) {
    storage::MessageEntry entry = ReceiveDocument("<html>Оригинал " + std::to_string(wanted) + "</html>");
    Bytes signedDocument;
    size_t content = 200;
    for (int attempt = 0; attempt < 40 && signedDocument.size() != wanted; ++attempt) {
      crypto::DataBlock made;
      ASSERT_EQ(crypto::SignMessage(crypto::MakeBlock(Bytes(content, 'b')), beta.iks, &made, true), 0u);
      signedDocument = crypto::BlockBytes(made);
      content = static_cast<size_t>(static_cast<long>(content) + static_cast<long>(wanted) -
                                    static_cast<long>(signedDocument.size()));
    }
    ASSERT_EQ(signedDocument.size(), wanted);
    serverlink::ExchangeRecord packed;
    packed.type = 53;
    packed.payload = signedDocument;
    serverlink::CompressRecordPayload(&packed);
    crypto::DataBlock envelope;
    std::vector<crypto::Recipient> recipients{{core::Base64Encode(alpha.certificate), ""}};
    ASSERT_TRUE(crypto::CryptMessage(crypto::MakeBlock(packed.payload), recipients, &envelope));
    ASSERT_TRUE(storage::MarkSending(entry.id, 1700000000, signedDocument, crypto::BlockBytes(envelope)));

    const int64_t plain = Counter("requests.53");
    const int64_t compressed = Counter("requests.153");
    exchange::LoadMessagesFromBase();
    EXPECT_EQ(Row(entry.id).status, 2) << wanted;
    EXPECT_EQ(Row(entry.id).message, signedDocument);
    EXPECT_EQ(Counter("requests.53"), plain + (wanted == 1000 ? 1 : 0)) << wanted;
    EXPECT_EQ(Counter("requests.153"), compressed + (wanted == 1001 ? 1 : 0)) << wanted;
  }
  EXPECT_EQ(ForAlpha(53).size(), 2u) << "both accepted as co-signed documents";
}

TEST_F(ReplyTest, RefusingASendingRowReplacesThePendingSignature) {
  storage::MessageEntry entry = ReceiveDocument("<html>Счёт</html>");
  ArmFault(json{{"action", "truncate"}, {"type", 153}});
  EXPECT_EQ(exchange::AnswerMessage(entry, false, 0), Lines({L"Ошибка отправки сообщения"}));
  ASSERT_EQ(Row(entry.id).status, 1);
  entry = *storage::MessageAt(storage::FindMessageByIdm(entry.idm));
  EXPECT_EQ(entry.status, 1);

  EXPECT_EQ(exchange::AnswerMessage(entry, false, 122), Lines({L"Сообщение отправлено Отправителю"}));
  storage::StoredMessage row = Row(entry.id);
  EXPECT_EQ(row.status, 122);
  EXPECT_TRUE(row.tempSD.empty());
  EXPECT_TRUE(row.tempDFS.empty());
  std::vector<json> refusals = ForAlpha(56);
  ASSERT_EQ(refusals.size(), 1u);
  EXPECT_EQ(Base64Field(refusals[0]["payload"]), Bytes{122});
  EXPECT_EQ(storage::MessageColumns(*storage::MessageAt(entry.row))[4], L"Отклонен");
}

TEST_F(ReplyTest, ReplyThatCannotBeSavedIsNotSent) {
  storage::MessageEntry entry = ReceiveDocument("<html>Счёт</html>");
  RefuseStatus(1);
  EXPECT_EQ(exchange::AnswerMessage(entry, true, 0), Lines({L"Ошибка при подготовке сообщения для Отправителя"}));
  EXPECT_EQ(Counter("requests.53") + Counter("requests.153"), 0);
  EXPECT_EQ(Row(entry.id).status, 0);
  EXPECT_TRUE(ForAlpha(53).empty());
}

TEST_F(ReplyTest, AcceptedReplyThatCannotBeRecordedIsSentAgain) {
  storage::MessageEntry entry = ReceiveDocument("<html>Счёт</html>");
  RefuseStatus(2);
  EXPECT_EQ(exchange::AnswerMessage(entry, false, 0),
            Lines({L"Ответ принят АИС, но не записан в базу. Он будет отправлен повторно."}));
  EXPECT_NE(ErrorLog().find("Ошибка записи отправленного ответа"), std::string::npos);
  EXPECT_EQ(Row(entry.id).status, 1);
  EXPECT_EQ(storage::MessageAt(storage::FindMessageByIdm(entry.idm))->status, 1);

  // Once the row can be written, the resend (answered with code 10) ends it.
  ASSERT_EQ(sqlite3_exec(storage::Database(), "DROP TRIGGER refuse_2", nullptr, nullptr, nullptr), SQLITE_OK);
  exchange::ResendSavedReplies();
  EXPECT_EQ(Row(entry.id).status, 2);
  EXPECT_EQ(ForAlpha(53).size(), 1u) << "sent once, found there once";
}

TEST_F(ReplyTest, AnOperationWorksOnItsRowWhereverTheListMovedIt) {
  storage::MessageEntry first = ReceiveDocument("<html>Первый</html>");
  ASSERT_EQ(first.row, 0);
  // Two more arrive later; the list shows them above, and position 0 now
  // holds another document.
  platform::SetClockShiftForTest(20);
  for (int i = 0; i < 2; ++i) ReceiveDocument("<html>Ещё " + std::to_string(i) + "</html>");
  ASSERT_NE(storage::MessageAt(0)->id, first.id);
  EXPECT_EQ(exchange::AnswerMessage(first, false, 0), Lines({L"Сообщение отправлено Отправителю"}));
  EXPECT_EQ(Row(first.id).status, 2);
  EXPECT_EQ(Row(storage::MessageAt(0)->id).status, 0);
  EXPECT_EQ(storage::MessageAt(storage::FindMessageByIdm(first.idm))->status, 2);
  EXPECT_EQ(storage::MessageAt(0)->status, 0);
}

TEST_F(ReplyTest, PositionOutsideTheListDoesNothing) {
  const int64_t requests = Counter("requests");
  EXPECT_EQ(exchange::ClientSingAndSendMessage(5, true, 0), L"");
  EXPECT_EQ(Counter("requests"), requests);
}

}  // namespace
}  // namespace exchange_test
