// The road of one document, end to end: organisation alpha sends documents
// and a certificate request through the simulator; beta's client counts
// them, fetches, decrypts, verifies, confirms what is asked, stores, deletes
// them on the server and lists them; it co-signs one document (which goes
// back to alpha), refuses another with a chosen code and answers the
// certificate request. Every row's status, the texts shown and the bytes
// the server received are checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "core/text.h"
#include "crypto/cms.h"
#include "crypto/verify.h"
#include "exchange/document.h"
#include "exchange/intake.h"
#include "exchange/reply.h"
#include "exchange/session.h"
#include "exchange_fixture.h"
#include "link/payload.h"
#include "platform/ui.h"
#include "storage/settings.h"

namespace exchange_test {
namespace {

using RoadTest = ExchangeTest;

std::map<int, std::vector<json>> ByFamily(const json& messages) {
  std::map<int, std::vector<json>> families;
  for (const json& message : messages) families[message["family"].get<int>()].push_back(message);
  return families;
}

TEST_F(RoadTest, DocumentsFromAlphaAreReceivedAnsweredAndReachAlpha) {
  StartSim();
  ShowWindow();
  SetRequisites();
  // The window's start.
  ASSERT_TRUE(exchange::CTS(nullptr));
  exchange::LoadMessagesFromBase();

  const std::string invoice = "<html><h1>Счёт № 1</h1>Услуги связи, 100 руб.</html>";
  const std::string act = "<html><h1>Акт № 2</h1></html>";
  json d1 = Inject(json{{"from", "alpha"}, {"to", "beta"}, {"type", 52}, {"confirm", true}, {"content", invoice}});
  json d2 = Inject(json{{"from", "alpha"}, {"to", "beta"}, {"type", 52}, {"content", act}});
  json c = Inject(json{{"from", "alpha"}, {"to", "beta"}, {"type", 73}});

  // Counted, then fetched.
  exchange::CheckIncomeMessage();
  EXPECT_EQ(StatusLines().front(), L"Ожидают получения 3 сообщений");
  EXPECT_EQ(exchange::ClientGetMessagesFromServer(), 3);
  EXPECT_EQ(RowCount(), 3);
  EXPECT_TRUE(Mailbox("beta").empty());
  EXPECT_EQ(storage::MessageCount(), 3u);

  storage::MessageEntry invoiceEntry = EntryOfIdm(d1["idm"].get<int32_t>());
  storage::MessageEntry actEntry = EntryOfIdm(d2["idm"].get<int32_t>());
  storage::MessageEntry requestEntry = EntryOfIdm(c["idm"].get<int32_t>());
  for (const storage::MessageEntry& entry : {invoiceEntry, actEntry, requestEntry}) {
    EXPECT_EQ(entry.status, 0);
    EXPECT_EQ(storage::MessageColumns(entry)[4], L"Не подписан");
  }
  EXPECT_EQ(invoiceEntry.type, 52);
  EXPECT_EQ(storage::MessageColumns(invoiceEntry)[3], L"Электронный документ");
  EXPECT_EQ(storage::MessageColumns(requestEntry)[3], L"Запрос на СОК");

  // Alpha heard of the delivery: one confirmation (asked for) and the
  // server's "delivered" for both documents.
  auto alphaGot = ByFamily(Mailbox("alpha", true));
  EXPECT_EQ(alphaGot[54].size(), 1u);
  EXPECT_EQ(alphaGot[55].size(), 2u);

  // The invoice is shown, then co-signed.
  bool ok = false;
  uint8_t verdict = 99;
  std::string page;
  exchange::ShowDocument(invoiceEntry.row, false, &ok, &verdict, &page);
  EXPECT_TRUE(ok);
  EXPECT_EQ(page.substr(0, invoice.size() + 4), invoice + "<BR>");
  EXPECT_EQ(exchange::ClientSingAndSendMessage(invoiceEntry.row, true, 0), L"Сообщение отправлено Отправителю<BR>");
  storage::StoredMessage invoiceRow = Row(invoiceEntry.id);
  EXPECT_EQ(invoiceRow.status, 2);

  // The act is refused with a chosen code; the request is answered.
  actEntry = EntryOfIdm(d2["idm"].get<int32_t>());
  EXPECT_EQ(exchange::ClientSingAndSendMessage(actEntry.row, true, 121), L"Сообщение отправлено Отправителю<BR>");
  EXPECT_EQ(Row(actEntry.id).status, 121);
  requestEntry = EntryOfIdm(c["idm"].get<int32_t>());
  EXPECT_EQ(exchange::ClientSingAndSendMessage(requestEntry.row, true, 0), L"Сообщение отправлено Отправителю<BR>");
  EXPECT_EQ(Row(requestEntry.id).status, 2);

  // The list shows the outcome.
  EXPECT_EQ(storage::MessageColumns(EntryOfIdm(d1["idm"].get<int32_t>()))[4], L"Подписан");
  EXPECT_EQ(storage::MessageColumns(EntryOfIdm(d2["idm"].get<int32_t>()))[4], L"Отклонен");
  EXPECT_EQ(storage::MessageColumns(EntryOfIdm(c["idm"].get<int32_t>()))[4], L"Подписан");

  // What the server received from beta, and what alpha reads of it.
  auto sent = ByFamily(Received("beta", true));
  ASSERT_EQ(sent[54].size(), 1u);
  ASSERT_EQ(sent[53].size(), 1u);
  ASSERT_EQ(sent[56].size(), 1u);
  ASSERT_EQ(sent[74].size(), 1u);
  EXPECT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent[53][0]["number"], d1["number"]);
  EXPECT_EQ(sent[56][0]["number"], d2["number"]);
  EXPECT_EQ(sent[74][0]["number"], c["number"]);
  EXPECT_EQ(Base64Field(sent[56][0]["payload"]), Bytes{121});

  alphaGot = ByFamily(Mailbox("alpha", true));
  ASSERT_EQ(alphaGot[53].size(), 1u);
  EXPECT_EQ(alphaGot[53][0]["type"], 153) << "two certificates make it longer than 1000 bytes";
  serverlink::ExchangeRecord reply;
  reply.type = 153;
  reply.payload = OpenFor("alpha", Base64Field(alphaGot[53][0]["payload"]));
  ASSERT_TRUE(serverlink::ExpandPayload(&reply));
  EXPECT_EQ(reply.payload, invoiceRow.message) << "the row keeps the co-signed document it sent";
  int signatures = 0;
  crypto::DataBlock content;
  std::wstring report;
  ASSERT_EQ(crypto::VerifyMessageSignature(crypto::MakeBlock(reply.payload), &signatures, &content, &report, nullptr),
            1);
  EXPECT_EQ(signatures, 2);
  EXPECT_EQ(crypto::BlockBytes(content), Bytes(invoice.begin(), invoice.end()));
  ASSERT_EQ(alphaGot[56].size(), 1u);
  EXPECT_EQ(alphaGot[56][0]["senderUnp"], 190000002);
  ASSERT_EQ(alphaGot[74].size(), 1u);

  // The co-signed invoice now shows two signatures and is saved.
  report = exchange::ShowDocument(EntryOfIdm(d1["idm"].get<int32_t>()).row, false, &ok, &verdict, &page);
  EXPECT_TRUE(ok);
  EXPECT_EQ(report.rfind(L"Количество подписей в электронном документе - 2<BR>", 0), 0u);
  std::wstring saved = exchange::SaveDocument(EntryOfIdm(d1["idm"].get<int32_t>()).row);
  EXPECT_EQ(test_support::ReadBytes(program.path + "documents/" + d1["number"].get<std::string>() + ".html.sgn"),
            invoiceRow.message);
  EXPECT_EQ(saved.substr(0, 30), L"Электронный документ сохранен ");
}

}  // namespace
}  // namespace exchange_test
