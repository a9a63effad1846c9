// Faults armed through the admin API, each as the client meets it: a
// dropped connection, a result code (enciphered or plain), a delay, a
// garbage answer and a truncated one; faults for one type or any, counted
// down and cleared.
#include <gtest/gtest.h>

#include <chrono>

#include "link/transport.h"
#include "sim_client.h"

namespace sim_test {
namespace {

class SimFaultsTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    if (HasFatalFailure()) return;
    alpha = PkiOrg("alpha");
    session = Connect(alpha);
  }

  void Arm(const nlohmann::json& fault) {
    sim_test::AdminAnswer armed = sim->Post("/faults", fault);
    ASSERT_EQ(armed.status, 201) << armed.body.dump();
  }

  Org alpha;
  Session session;
};

TEST_F(SimFaultsTest, DropClosesWithoutAnswerForTheNextRequestsOfTheType) {
  Arm({{"action", "drop"}, {"type", 40}, {"count", 2}});
  EXPECT_EQ(Call(session, Request(3, Bytes(64, 0))).kind, 174) << "another type is not touched";
  EXPECT_EQ(Call(session, Request(40)).sent, 0);
  EXPECT_EQ(sim->Get("/faults").body[0]["count"], 1);
  EXPECT_EQ(Call(session, Request(40)).sent, 0);
  EXPECT_EQ(Call(session, Request(40)).code, 101);
  EXPECT_EQ(sim->Get("/faults").body.size(), 0u);
  EXPECT_EQ(sim->Counter("faults.drop"), 2);
  EXPECT_EQ(sim->Counter("answers.dropped"), 2);
}

TEST_F(SimFaultsTest, CodeAnswersARefusalRecordOrAPlainAnswer) {
  Arm({{"action", "code"}, {"type", 3}, {"code", 14}});
  Reply refused = Call(session, Request(3, Bytes(64, 0)));
  EXPECT_EQ(refused.answer[0], 173);
  EXPECT_EQ(refused.kind, 255);
  EXPECT_EQ(refused.code, 14);

  Arm({{"action", "code"}, {"code", 6}, {"plain", true}});
  Reply plain = Call(session, Request(40));
  EXPECT_EQ(plain.answer.size(), 9u);
  EXPECT_EQ(plain.answer[0], 255);
  EXPECT_EQ(plain.answer[1], 6);
  EXPECT_EQ(plain.kind, 255);
  EXPECT_EQ(plain.code, 7) << "a plain answer within a session is a lost session to the client";

  // Accepted instead of refused, as a record and plain.
  Arm({{"action", "code"}, {"type", 42}, {"code", 0}, {"kind", 174}});
  Reply accepted = Call(session, IdRequest(42, 12345));
  EXPECT_EQ(accepted.kind, 174);
  EXPECT_EQ(accepted.code, 0);
  Arm({{"action", "code"}, {"type", 42}, {"code", 9}, {"kind", 174}, {"plain", true}});
  Reply plainAccepted = Call(session, IdRequest(42, 12345));
  EXPECT_EQ(plainAccepted.answer, (Bytes{0xAE, 9, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Call(session, IdRequest(42, 12345)).code, 8);
  EXPECT_EQ(Call(session, Request(40)).code, 101);
}

TEST_F(SimFaultsTest, DelayHoldsTheAnswerBack) {
  Arm({{"action", "delay"}, {"type", 40}, {"ms", 1500}});
  serverlink::SetTransportLimits({5000, 500, serverlink::kDefaultTransportLimits.maxAnswerBytes});
  EXPECT_EQ(Call(session, Request(40)).sent, 0) << "the client gave up before the answer";

  serverlink::SetTransportLimits({5000, 20000, serverlink::kDefaultTransportLimits.maxAnswerBytes});
  Arm({{"action", "delay"}, {"type", 40}, {"seconds", 0.6}});
  auto start = std::chrono::steady_clock::now();
  Reply late = Call(session, Request(40));
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(late.code, 101);
  EXPECT_GE(waited, std::chrono::milliseconds(600));
  EXPECT_EQ(sim->Counter("faults.delay"), 2);
}

TEST_F(SimFaultsTest, GarbageAndTruncatedAnswersDoNotParse) {
  Arm({{"action", "garbage"}, {"type", 40}});
  Reply garbage = Call(session, Request(40));
  ASSERT_EQ(garbage.answer.size(), 57u);
  EXPECT_EQ(garbage.answer[0], 173);
  EXPECT_FALSE(garbage.parsed);

  Arm({{"action", "truncate"}, {"type", 40}});
  Reply cut = Call(session, Request(40));
  EXPECT_EQ(cut.answer[0], 173);
  EXPECT_FALSE(cut.parsed);
  EXPECT_EQ(Call(session, Request(40)).code, 101);
}

TEST_F(SimFaultsTest, FaultsOfTheSessionStart) {
  Arm({{"action", "truncate"}, {"type", 177}});
  Handshake cut = StartSession(alpha, false);
  EXPECT_EQ(cut.kind, 171);
  EXPECT_FALSE(cut.proofOk);

  Arm({{"action", "code"}, {"type", 177}, {"code", 1}});
  Handshake notRegistered = StartSession(alpha, false);
  EXPECT_EQ(notRegistered.kind, 170);
  EXPECT_EQ(notRegistered.code, 1);

  Arm({{"action", "drop"}, {"count", 1}});
  EXPECT_EQ(StartSession(alpha, false).sent, 0);
  EXPECT_EQ(StartSession(alpha, false).kind, 171);
}

TEST_F(SimFaultsTest, ArmedFaultsAreListedAndCleared) {
  Arm({{"action", "drop"}, {"type", 40}, {"count", 3}});
  Arm({{"action", "delay"}, {"seconds", 2}});
  sim_test::AdminAnswer listed = sim->Get("/faults");
  ASSERT_EQ(listed.body.size(), 2u);
  EXPECT_EQ(listed.body[0]["action"], "drop");
  EXPECT_EQ(listed.body[0]["count"], 3);
  EXPECT_EQ(listed.body[1]["ms"], 2000);
  EXPECT_EQ(sim->Post("/faults", {{"action", "explode"}}).status, 400);
  EXPECT_EQ(sim->Post("/faults", {{"action", "drop"}, {"count", 0}}).status, 400);
  EXPECT_EQ(sim->Delete("/faults").status, 200);
  EXPECT_EQ(Call(session, Request(40)).code, 101);
}

}  // namespace
}  // namespace sim_test
