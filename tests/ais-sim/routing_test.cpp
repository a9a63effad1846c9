// Routing between organisations through the simulator process: documents
// by key identifier and by УНП and branch, replies back to the original
// sender found by number, refusals with codes 5, 9, 10 and 11, the status
// messages "delivered" and "expired", certificate requests and answers.
#include <gtest/gtest.h>

#include <ctime>

#include "core/text.h"
#include "crypto/cms.h"
#include "link/frame.h"
#include "link/payload.h"
#include "sim_client.h"

namespace sim_test {
namespace {

class SimRoutingTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    if (HasFatalFailure()) return;
    alpha = PkiOrg("alpha");
    beta = PkiOrg("beta");
    alphaSession = Connect(alpha);
    betaSession = Connect(beta, 2);
  }

  // A document record from alpha to beta by key identifier.
  serverlink::ExchangeRecord DocumentRecord(uint8_t type, int32_t numberPart, const Bytes& payload) {
    serverlink::ExchangeRecord record = Request(type, payload);
    record.flags = serverlink::FlagBits("00101000");
    record.iks = beta.iks;
    record.number = Number(alpha.unp, numberPart);
    return record;
  }

  // The only waiting message of the session's mailbox.
  serverlink::ExchangeRecord TakeOnly(const Session& session) {
    std::vector<uint32_t> ids = ListedIds(Call(session, Request(40)));
    EXPECT_EQ(ids.size(), 1u) << SimLog();
    if (ids.empty()) return {};
    Reply fetched = Call(session, IdRequest(41, ids[0]));
    EXPECT_EQ(fetched.kind, 173);
    EXPECT_EQ(Call(session, IdRequest(42, ids[0])).kind, 174);
    return fetched.record;
  }

  Org alpha;
  Org beta;
  Session alphaSession;
  Session betaSession;
};

TEST_F(SimRoutingTest, DocumentGoesToTheRecipientAndTheCoSignedReplyComesBack) {
  const std::string text = "<html>Акт сверки №7</html>";
  Reply sent = Call(alphaSession, DocumentRecord(52, 1, Document(alpha, beta, text)));
  ASSERT_EQ(sent.kind, 174) << SimLog();
  EXPECT_NE(SimLog().find("signatures verified"), std::string::npos);

  serverlink::ExchangeRecord received = TakeOnly(betaSession);
  EXPECT_EQ(received.type, 52);
  EXPECT_EQ(received.unp, alpha.unp);
  EXPECT_EQ(received.branch, 0);
  EXPECT_EQ(received.iks, alpha.iks);
  EXPECT_EQ(received.name, "ООО Альфа");
  std::string content;
  ASSERT_TRUE(OpenDocument(beta, received, &content));
  EXPECT_EQ(content, text);

  // beta co-signs and replies as the client does: flags "00101001", the
  // sender's key identifier, the number, encrypted for the sender.
  crypto::DataBlock plain;
  ASSERT_TRUE(crypto::DecryptMessage(crypto::MakeBlock(received.payload), beta.iks, &plain));
  crypto::DataBlock coSigned;
  ASSERT_EQ(crypto::SignMessage(plain, beta.iks, &coSigned, true), 0u);
  crypto::DataBlock envelope;
  ASSERT_TRUE(crypto::CryptMessage(coSigned, {{core::Base64Encode(alpha.certificate), ""}}, &envelope));
  serverlink::ExchangeRecord reply = Request(53, crypto::BlockBytes(envelope));
  reply.flags = serverlink::FlagBits("00101001");
  reply.iks = received.iks;
  reply.number = received.number;
  ASSERT_EQ(Call(betaSession, reply).kind, 174) << SimLog();
  // The same reply again: already there.
  Reply twice = Call(betaSession, reply);
  EXPECT_EQ(twice.kind, 255);
  EXPECT_EQ(twice.code, 10);

  // alpha gets "delivered" for its document (beta deleted it) and the reply
  // with both signatures.
  std::vector<uint32_t> ids = ListedIds(Call(alphaSession, Request(40)));
  ASSERT_EQ(ids.size(), 2u) << SimLog();
  Reply delivered = Call(alphaSession, IdRequest(41, ids[0]));
  EXPECT_EQ(delivered.record.type, 55);
  EXPECT_EQ(delivered.record.number.second, 1);
  EXPECT_EQ(delivered.record.unp, beta.unp);
  EXPECT_EQ(delivered.record.branch, 2);
  Reply coSignedReply = Call(alphaSession, IdRequest(41, ids[1]));
  EXPECT_EQ(coSignedReply.record.type, 53);
  EXPECT_EQ(coSignedReply.record.iks, beta.iks);
  int signatures = 0;
  ASSERT_TRUE(OpenDocument(alpha, coSignedReply.record, &content, &signatures));
  EXPECT_EQ(signatures, 2);
  EXPECT_EQ(content, text);

  // The simulator kept what beta sent, tied to the document it answers.
  sim_test::AdminAnswer fromBeta = sim->Get("/received/beta");
  ASSERT_EQ(fromBeta.body.size(), 1u);
  EXPECT_EQ(fromBeta.body[0]["type"], 53);
  sim_test::AdminAnswer original = sim->Get("/messages/" + std::to_string(fromBeta.body[0]["original"].get<int64_t>()));
  ASSERT_EQ(original.status, 200);
  EXPECT_EQ(original.body["type"], 52);
  EXPECT_EQ(original.body["sender"], alpha.iksHex);
  EXPECT_EQ(original.body["state"], "deleted");
}

TEST_F(SimRoutingTest, RecipientsByUnpAndBranchAndLargeDocumentsCompressed) {
  std::string text(6000, ' ');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 23);
  bool compressed = false;
  Bytes payload = Document(alpha, beta, text, &compressed);
  ASSERT_TRUE(compressed);
  serverlink::ExchangeRecord record = Request(162, payload);
  record.flags = serverlink::FlagBits("00100110");
  record.unp = beta.unp;
  record.branch = 2;
  record.number = Number(alpha.unp, 2);
  ASSERT_EQ(Call(alphaSession, record).kind, 174) << SimLog();

  serverlink::ExchangeRecord received = TakeOnly(betaSession);
  EXPECT_EQ(received.type, 162);
  std::string content;
  ASSERT_TRUE(OpenDocument(beta, received, &content));
  EXPECT_EQ(content, text);

  // The same УНП with another branch is nobody.
  record.branch = 1;
  record.number = Number(alpha.unp, 3);
  Reply nobody = Call(alphaSession, record);
  EXPECT_EQ(nobody.kind, 255);
  EXPECT_EQ(nobody.code, 9);
}

TEST_F(SimRoutingTest, RefusalsOfDocuments) {
  const Bytes document = Document(alpha, beta, "счёт");

  // Unknown recipient.
  serverlink::ExchangeRecord toNobody = DocumentRecord(52, 10, document);
  toNobody.iks = PkiOrg("other").iks;
  EXPECT_EQ(Call(alphaSession, toNobody).code, 9);

  // No number; a payload that is no envelope; an envelope for somebody
  // else; an envelope whose signed content was altered.
  serverlink::ExchangeRecord noNumber = DocumentRecord(52, 11, document);
  noNumber.flags = serverlink::FlagBits("00001000");
  EXPECT_EQ(Call(alphaSession, noNumber).code, 11);
  EXPECT_EQ(Call(alphaSession, DocumentRecord(52, 12, Bytes(200, 0x42))).code, 11);
  EXPECT_EQ(Call(alphaSession, DocumentRecord(52, 13, Document(alpha, alpha, "не тому"))).code, 11);

  crypto::DataBlock signedMessage;
  const std::string text = "сумма 100 рублей";
  ASSERT_EQ(crypto::SignMessage(crypto::MakeBlock(Bytes(text.begin(), text.end())), alpha.iks, &signedMessage, true), 0u);
  Bytes tampered = crypto::BlockBytes(signedMessage);
  std::string bytes(tampered.begin(), tampered.end());
  size_t at = bytes.find(text);
  ASSERT_NE(at, std::string::npos);
  tampered[at + text.size() - 1] ^= 0x01;
  crypto::DataBlock envelope;
  ASSERT_TRUE(crypto::CryptMessage(crypto::MakeBlock(tampered), {{core::Base64Encode(beta.certificate), ""}}, &envelope));
  Reply forged = Call(alphaSession, DocumentRecord(52, 14, crypto::BlockBytes(envelope)));
  EXPECT_EQ(forged.code, 11);
  EXPECT_NE(SimLog().find("does not verify"), std::string::npos);

  // The same document twice to the same recipient.
  ASSERT_EQ(Call(alphaSession, DocumentRecord(52, 15, document)).kind, 174);
  EXPECT_EQ(Call(alphaSession, DocumentRecord(52, 15, document)).code, 10);

  // A service code that forbids sending.
  ASSERT_EQ(sim->Post("/organisations/alpha/service-code", {{"code", 1}}).status, 200);
  EXPECT_EQ(Call(alphaSession, DocumentRecord(52, 16, document)).code, 5);
  EXPECT_EQ(ListedIds(Call(betaSession, Request(40))).size(), 1u) << "only the one accepted document waits";
}

TEST_F(SimRoutingTest, WithoutContentChecksAPayloadThatIsNoEnvelopeIsRouted) {
  StartSim({"--no-content-checks"});
  ASSERT_FALSE(HasFatalFailure());
  alphaSession = Connect(alpha);
  betaSession = Connect(beta, 2);
  EXPECT_EQ(Call(alphaSession, DocumentRecord(52, 12, Bytes(200, 0x42))).kind, 174) << SimLog();
  EXPECT_EQ(TakeOnly(betaSession).payload, Bytes(200, 0x42));
}

TEST_F(SimRoutingTest, ConfirmationsRefusalsAndExpiryReachTheSender) {
  // A document wanting a confirmation, with an expiry.
  serverlink::ExchangeRecord wanted = DocumentRecord(62, 20, Document(alpha, beta, "подтвердите"));
  ASSERT_EQ(Call(alphaSession, wanted).kind, 174);
  serverlink::ExchangeRecord received = TakeOnly(betaSession);
  EXPECT_EQ(received.type, 62);

  // beta's confirmation (type 54, flags "00101000") goes back to alpha.
  const std::string page = "<html>Подтверждение доставки</html>";
  serverlink::ExchangeRecord confirmation = Request(54, Document(beta, alpha, page));
  confirmation.flags = serverlink::FlagBits("00101000");
  confirmation.iks = received.iks;
  confirmation.number = received.number;
  ASSERT_EQ(Call(betaSession, confirmation).kind, 174) << SimLog();
  EXPECT_EQ(Call(betaSession, confirmation).code, 10);

  // A second document, refused by beta with a one-byte code.
  ASSERT_EQ(Call(alphaSession, DocumentRecord(52, 21, Document(alpha, beta, "ещё"))).kind, 174);
  serverlink::ExchangeRecord second = TakeOnly(betaSession);
  serverlink::ExchangeRecord refusal = Request(56, Bytes{121});
  refusal.flags = serverlink::FlagBits("00100000");
  refusal.number = second.number;
  ASSERT_EQ(Call(betaSession, refusal).kind, 174);
  serverlink::ExchangeRecord noCode = refusal;
  noCode.payload.clear();
  EXPECT_EQ(Call(betaSession, noCode).code, 11) << "a refusal without its code";

  // A third document with an expiry that passes before beta looks.
  serverlink::ExchangeRecord expiring = DocumentRecord(52, 22, Document(alpha, beta, "срочно"));
  expiring.flags |= serverlink::FlagBits("01000000");
  expiring.expiry = static_cast<uint32_t>(std::time(nullptr) + 200);
  ASSERT_EQ(Call(alphaSession, expiring).kind, 174);
  ASSERT_EQ(sim->Post("/clock", {{"shift", 250}}).status, 200);
  EXPECT_EQ(Call(betaSession, Request(40)).code, 101);

  // alpha: delivered (20), confirmation (20), delivered (21), refusal (21),
  // expired (22).
  std::vector<std::pair<int, int>> seen;
  for (uint32_t id : ListedIds(Call(alphaSession, Request(40)))) {
    Reply fetched = Call(alphaSession, IdRequest(41, id));
    seen.emplace_back(fetched.record.type, fetched.record.number.second);
    if (fetched.record.type == 56) {
      EXPECT_EQ(fetched.record.payload, Bytes{121});
    }
    if (fetched.record.type == 54) {
      std::string content;
      EXPECT_TRUE(OpenDocument(alpha, fetched.record, &content));
      EXPECT_EQ(content, page);
    }
  }
  std::vector<std::pair<int, int>> expected = {{55, 20}, {54, 20}, {55, 21}, {56, 21}, {58, 22}};
  EXPECT_EQ(seen, expected) << SimLog();
}

TEST_F(SimRoutingTest, CertificateRequestAndAnswer) {
  crypto::DataBlock publicKey;
  ASSERT_TRUE(crypto::GPKFCBC(alpha.iks, &publicKey));
  serverlink::ExchangeRecord request = Request(73, crypto::BlockBytes(publicKey));
  request.flags = serverlink::FlagBits("00101000");
  request.iks = beta.iks;
  request.number = Number(alpha.unp, 30);
  ASSERT_EQ(Call(alphaSession, request).kind, 174) << SimLog();
  serverlink::ExchangeRecord noKey = request;
  noKey.payload = Bytes(40, 1);
  noKey.number = Number(alpha.unp, 31);
  EXPECT_EQ(Call(alphaSession, noKey).code, 11) << "not a public key";

  serverlink::ExchangeRecord asked = TakeOnly(betaSession);
  EXPECT_EQ(asked.type, 73);
  EXPECT_EQ(asked.payload, crypto::BlockBytes(publicKey));

  // The answer: beta's certificate and requisites encrypted for the
  // asker's public key, named by the asker's key identifier.
  Bytes data(4 + beta.certificate.size());
  data[0] = static_cast<uint8_t>(beta.certificate.size());
  data[1] = static_cast<uint8_t>(beta.certificate.size() >> 8);
  std::copy(beta.certificate.begin(), beta.certificate.end(), data.begin() + 4);
  crypto::DataBlock envelope;
  ASSERT_TRUE(crypto::CryptMessageByPublicKey(crypto::MakeBlock(data), beta.iks, publicKey, asked.iks, &envelope));
  serverlink::ExchangeRecord answer = Request(74, crypto::BlockBytes(envelope));
  answer.flags = serverlink::FlagBits("00101001");
  answer.iks = asked.iks;
  answer.number = asked.number;
  ASSERT_EQ(Call(betaSession, answer).kind, 174) << SimLog();

  serverlink::ExchangeRecord back = TakeOnly(alphaSession);
  EXPECT_EQ(back.type, 74);
  crypto::DataBlock opened;
  ASSERT_TRUE(crypto::DecryptMessage(crypto::MakeBlock(back.payload), alpha.iks, &opened));
  EXPECT_EQ(crypto::BlockBytes(opened), data);
}

}  // namespace
}  // namespace sim_test
