// The in-session requests against the simulator process: list, fetch and
// delete of waiting messages, status with the service code and the
// program digest, e-mail, version digest and download.
#include <gtest/gtest.h>

#include "core/text.h"
#include "link/frame.h"
#include "link/sha512.h"
#include "link/transport.h"
#include "link/xtea128.h"
#include "sim_client.h"

namespace sim_test {
namespace {

class SimExchangeTest : public SimTest {};

TEST_F(SimExchangeTest, ListFetchAndDeleteWorkThroughTheMailbox) {
  Org alpha = PkiOrg("alpha");
  Org beta = PkiOrg("beta");
  Session session = Connect(alpha);
  Reply empty = Call(session, Request(40));
  EXPECT_EQ(empty.kind, 255);
  EXPECT_EQ(empty.code, 101);

  // Two documents put into alpha's mailbox by beta.
  sim_test::AdminAnswer first =
      sim->Post("/messages", {{"from", "beta"}, {"to", "alpha"}, {"content", "<p>первый</p>"},
                              {"number", "190000002000000011202610007"}, {"expiryDays", 5}});
  ASSERT_EQ(first.status, 201) << first.body.dump();
  sim_test::AdminAnswer second = sim->Post("/messages", {{"from", "beta"}, {"to", "alpha"}, {"content", "второй"}});
  ASSERT_EQ(second.status, 201) << second.body.dump();

  Reply list = Call(session, Request(40));
  ASSERT_EQ(list.kind, 173) << SimLog();
  EXPECT_EQ(list.record.type, 32);
  std::vector<uint32_t> ids = ListedIds(list);
  ASSERT_EQ(ids.size(), 2u);
  EXPECT_EQ(ids[0], first.body["idm"].get<uint32_t>());
  EXPECT_EQ(ids[1], second.body["idm"].get<uint32_t>());

  // The fetched message names the sender and carries number and expiry.
  Reply fetched = Call(session, IdRequest(41, ids[0]));
  ASSERT_EQ(fetched.kind, 173);
  ASSERT_TRUE(fetched.parsed);
  const serverlink::ExchangeRecord& message = fetched.record;
  EXPECT_EQ(message.type, 52);
  EXPECT_EQ(message.flags, 0x02 | 0x04 | 0x08 | 0x10 | 0x20 | 0x40);
  EXPECT_EQ(message.unp, beta.unp);
  EXPECT_EQ(message.iks, beta.iks);
  EXPECT_EQ(message.name, "ООО Бета");
  EXPECT_EQ(serverlink::FormatNumber(message.number), "190000002000000011202610007");
  EXPECT_GT(message.expiry, 0u);
  std::string content;
  int signatures = 0;
  EXPECT_TRUE(OpenDocument(alpha, message, &content, &signatures));
  EXPECT_EQ(content, "<p>первый</p>");
  EXPECT_EQ(signatures, 1);

  Reply deleted = Call(session, IdRequest(42, ids[0]));
  EXPECT_EQ(deleted.kind, 174);
  EXPECT_EQ(deleted.code, 0);
  EXPECT_EQ(ListedIds(Call(session, Request(40))), std::vector<uint32_t>{ids[1]});

  // A deleted message, a message of another mailbox and a request without
  // identifier.
  EXPECT_EQ(Call(session, IdRequest(41, ids[0])).code, 8);
  EXPECT_EQ(Call(session, IdRequest(42, ids[0])).code, 8);
  Session betaSession = Connect(beta);
  EXPECT_EQ(Call(betaSession, IdRequest(41, ids[1])).code, 8);
  EXPECT_EQ(Call(session, Request(41)).code, 11);
}

TEST_F(SimExchangeTest, InjectedMessagesAreSignedCompressedAndEnvelopedAsAClientSendsThem) {
  Org alpha = PkiOrg("alpha");
  Session session = Connect(alpha);
  std::string text;
  for (int i = 0; i < 400; ++i) text += "строка " + std::to_string(i) + "; ";
  sim_test::AdminAnswer injected =
      sim->Post("/messages", {{"from", "zero"}, {"to", alpha.iksHex}, {"content", text}, {"confirm", true}});
  ASSERT_EQ(injected.status, 201) << injected.body.dump();
  EXPECT_EQ(injected.body["type"], 162);
  sim_test::AdminAnswer raw = sim->Post(
      "/messages", {{"from", "beta"}, {"to", "190000001"}, {"type", 55}, {"raw", true}, {"contentBase64", ""}});
  ASSERT_EQ(raw.status, 201) << raw.body.dump();

  std::vector<uint32_t> ids = ListedIds(Call(session, Request(40)));
  ASSERT_EQ(ids.size(), 2u);
  Reply longDocument = Call(session, IdRequest(41, ids[0]));
  EXPECT_EQ(longDocument.record.type, 162);
  EXPECT_EQ(longDocument.record.iks, PkiOrg("zero").iks);
  std::string content;
  ASSERT_TRUE(OpenDocument(alpha, longDocument.record, &content));
  EXPECT_EQ(content, text);
  Reply status = Call(session, IdRequest(41, ids[1]));
  EXPECT_EQ(status.record.type, 55);
  EXPECT_TRUE(status.record.payload.empty());

  // Unknown organisations and senders outside the PKI are refused.
  EXPECT_EQ(sim->Post("/messages", {{"from", "beta"}, {"to", "other"}}).status, 404);
  EXPECT_EQ(sim->Post("/messages", {{"from", "nobody"}, {"to", "alpha"}}).status, 404);
  EXPECT_EQ(sim->Post("/messages", {{"from", "beta"}, {"to", "alpha"}, {"number", "12"}}).status, 400);
}

TEST_F(SimExchangeTest, StatusAnswersTheServiceCodeOrAsksForAnUpdate) {
  Org alpha = PkiOrg("alpha");
  Session session = Connect(alpha);
  Reply status = Call(session, Request(3, Bytes(64, 0)));
  EXPECT_EQ(status.kind, 174);
  EXPECT_EQ(status.code, 3);
  ASSERT_EQ(sim->Post("/organisations/" + alpha.iksHex + "/service-code", {{"code", 2}}).status, 200);
  EXPECT_EQ(Call(session, Request(3, Bytes(64, 0))).code, 2);
  EXPECT_EQ(Call(session, Request(3, Bytes(10, 0))).code, 11);

  // A published version: a client with another digest must update, one
  // with the published digest is answered with its service code.
  const std::string program = "new program bytes";
  ASSERT_EQ(sim->Post("/version", {{"contentBase64", core::Base64Encode(Bytes(program.begin(), program.end()))}}).status,
            201);
  Bytes digest(64);
  ASSERT_TRUE(serverlink::Sha512(reinterpret_cast<const uint8_t*>(program.data()), program.size(), digest.data()));
  Bytes other = digest;
  other[63] ^= 1;
  Reply outdated = Call(session, Request(3, other));
  EXPECT_EQ(outdated.kind, 255);
  EXPECT_EQ(outdated.code, 3);
  Reply current = Call(session, Request(3, digest));
  EXPECT_EQ(current.kind, 174);
  EXPECT_EQ(current.code, 2);

  // Published but not required: nobody is refused.
  ASSERT_EQ(sim->Post("/version", {{"contentBase64", core::Base64Encode(Bytes(program.begin(), program.end()))},
                                   {"required", false}}).status,
            201);
  EXPECT_EQ(Call(session, Request(3, other)).kind, 174);
}

TEST_F(SimExchangeTest, VersionDigestAndDownload) {
  Session session = Connect(PkiOrg("beta"));
  EXPECT_EQ(Call(session, Request(8)).code, 8);
  EXPECT_EQ(Call(session, Request(9)).code, 8);

  Bytes program(300000);
  for (size_t i = 0; i < program.size(); ++i) program[i] = static_cast<uint8_t>(i * 7 + i / 1000);
  sim_test::AdminAnswer published = sim->Post("/version", {{"contentBase64", core::Base64Encode(program)}});
  ASSERT_EQ(published.status, 201);
  Bytes digest(64);
  ASSERT_TRUE(serverlink::Sha512(program.data(), program.size(), digest.data()));
  EXPECT_EQ(published.body["digest"], core::HexEncode(digest));

  Reply asked = Call(session, Request(8));
  ASSERT_EQ(asked.kind, 173);
  EXPECT_EQ(asked.record.payload, digest);
  Reply downloaded = Call(session, Request(9));
  ASSERT_EQ(downloaded.kind, 173);
  EXPECT_EQ(downloaded.record.payload, program);
}

TEST_F(SimExchangeTest, EmailIsReadAndRegistered) {
  Org alpha = PkiOrg("alpha");
  Session session = Connect(alpha);
  Reply none = Call(session, Request(14));
  EXPECT_EQ(none.kind, 174);
  EXPECT_EQ(none.record.payload, Bytes{0});

  const std::string address = "buh@alfa.example.by";
  Bytes payload(address.begin(), address.end());
  payload.push_back(0);
  EXPECT_EQ(Call(session, Request(16, payload)).kind, 174);
  Reply read = Call(session, Request(14));
  EXPECT_EQ(read.kind, 174);
  EXPECT_EQ(std::string(read.record.payload.begin(), read.record.payload.end()), address);
  EXPECT_EQ(sim->Get("/organisations/alpha").body["email"], address);
}

TEST_F(SimExchangeTest, FramesThatDoNotParseAndUnknownTypesAreRefusedWithCode11) {
  Session session = Connect(PkiOrg("alpha"));
  // A frame that announces more payload than it holds.
  serverlink::ExchangeRecord request = Request(40, Bytes(8, 1));
  Bytes frame = serverlink::BuildFrame(request);
  frame[2] = 0xF0;
  frame[3] = 0xFF;
  serverlink::ExchangeRecord unused;
  ASSERT_FALSE(serverlink::ParseFrame(frame.data(), frame.size(), &unused));
  Bytes enciphered = frame;
  serverlink::Xtea128Crypt(enciphered.data(), enciphered.size(), session.key.data(), enciphered.data(),
                           serverlink::XteaDirection::Encrypt);
  Bytes answer;
  ASSERT_GT(serverlink::SendMessageToServer(0xAC, enciphered, &answer, session.id.data()), 0);
  ASSERT_EQ(answer[0], 173);
  serverlink::Xtea128Crypt(answer.data() + 9, answer.size() - 9, session.key.data(), answer.data() + 9,
                           serverlink::XteaDirection::Decrypt);
  serverlink::ExchangeRecord refused;
  ASSERT_TRUE(serverlink::ParseFrame(answer.data() + 9, answer.size() - 9, &refused));
  EXPECT_EQ(refused.type, 255);
  EXPECT_EQ(refused.payload, Bytes{11});

  EXPECT_EQ(Call(session, Request(99)).code, 11);
}

}  // namespace
}  // namespace sim_test
