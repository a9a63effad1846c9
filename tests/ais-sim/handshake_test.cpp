// Session start and registration against the simulator process: the
// answers the client's session start reads (170, 171 with key and proof,
// plain refusals), the clock tolerance and unknown sessions.
#include <gtest/gtest.h>

#include <cstring>

#include "crypto/cms.h"
#include "link/frame.h"
#include "link/sha512.h"
#include "sim_client.h"

namespace sim_test {
namespace {

class SimHandshakeTest : public SimTest {};

TEST_F(SimHandshakeTest, UnknownOrganisationIsToldToRegisterThenRegistersAndGetsAProvenSession) {
  Org alpha = PkiOrg("alpha");
  // The client's own session-start block, as the client sends it.
  Bytes block = ClientSessionStart(alpha, false, 3);
  ASSERT_FALSE(block.empty());
  EXPECT_EQ(block, SessionStartBlock(alpha.certificate, false, 3));
  Handshake first = StartSession(alpha, false, 3);
  ASSERT_GT(first.sent, 0) << SimLog();
  EXPECT_EQ(first.kind, 170);
  EXPECT_EQ(first.code, 1);

  Handshake registered = StartSession(alpha, true, 3);
  ASSERT_EQ(registered.kind, 171) << SimLog();
  EXPECT_TRUE(registered.keyOpened);
  EXPECT_TRUE(registered.proofOk);

  sim_test::AdminAnswer organisations = sim->Get("/organisations");
  ASSERT_EQ(organisations.status, 200);
  ASSERT_EQ(organisations.body.size(), 1u);
  EXPECT_EQ(organisations.body[0]["iks"], alpha.iksHex);
  EXPECT_EQ(organisations.body[0]["unp"], 190000001);
  EXPECT_EQ(organisations.body[0]["branch"], 3);
  EXPECT_EQ(organisations.body[0]["name"], "ООО Альфа");

  // Known now: a session without the mark, with a fresh identifier and key
  // each time.
  Handshake again = StartSession(alpha, false, 3);
  ASSERT_EQ(again.kind, 171);
  EXPECT_TRUE(again.proofOk);
  EXPECT_NE(again.session.id, registered.session.id);
  EXPECT_NE(again.session.key, registered.session.key);
  EXPECT_EQ(sim->Counter("sessions.granted"), 2);
}

TEST_F(SimHandshakeTest, ProofCoversTheKeyRecordAndTheKey) {
  Org beta = PkiOrg("beta");
  Handshake granted = StartSession(beta, true);
  ASSERT_EQ(granted.kind, 171) << SimLog();
  ASSERT_TRUE(granted.proofOk);
  // The client compares the digest with the last 64 bytes: with one bit of
  // the key record changed the proof no longer matches.
  Bytes changed = granted.answer;
  changed[80] ^= 0x01;
  Bytes proven(changed.begin() + 73, changed.end() - 64);
  proven.insert(proven.end(), granted.session.key.begin(), granted.session.key.end());
  uint8_t digest[64];
  ASSERT_TRUE(serverlink::Sha512(proven.data(), proven.size(), digest));
  EXPECT_NE(0, std::memcmp(digest, changed.data() + changed.size() - 64, 64));
}

TEST_F(SimHandshakeTest, SessionKeyIsEnvelopedForTheCertificateAlone) {
  Org alpha = PkiOrg("alpha");
  Handshake granted = StartSession(alpha, true);
  ASSERT_EQ(granted.kind, 171) << SimLog();
  serverlink::ExchangeRecord record;
  ASSERT_TRUE(serverlink::ParseFrame(granted.answer.data() + 73, granted.answer.size() - 73 - 64, &record));
  crypto::DataBlock plain;
  EXPECT_FALSE(crypto::DecryptMessage(crypto::MakeBlock(record.payload), PkiOrg("beta").iks, &plain));
}

TEST_F(SimHandshakeTest, RefusalsOfTheSessionStart) {
  // Registration switched off: a plain refusal with code 5.
  ASSERT_EQ(sim->Post("/settings", {{"registration", false}}).status, 200);
  Handshake refused = StartSession(PkiOrg("alpha"), true);
  EXPECT_EQ(refused.kind, 255);
  EXPECT_EQ(refused.code, 5);
  EXPECT_EQ(refused.answer.size(), 9u);

  // A certificate past its validity: code 4; one without УНП: code 11.
  EXPECT_EQ(StartSession(PkiOrg("expired"), true).code, 4);
  Handshake noUnp = StartSession(PkiOrg("nounp"), true);
  EXPECT_EQ(noUnp.kind, 255);
  EXPECT_EQ(noUnp.code, 11);

  // A block whose certificate length runs past its end, and one whose
  // certificate is not one.
  Bytes block = SessionStartBlock(PkiOrg("alpha").certificate, true, 0);
  block[4] = 0x7F;
  EXPECT_EQ(SendSessionStart(block, PkiOrg("alpha")).code, 11);
  Bytes junk = SessionStartBlock(Bytes(200, 0x30), true, 0);
  EXPECT_EQ(SendSessionStart(junk, PkiOrg("alpha")).code, 11);
  EXPECT_EQ(sim->Get("/organisations").body.size(), 0u) << SimLog();
}

TEST_F(SimHandshakeTest, ClockOutsideTheToleranceIsRefusedWithCode12) {
  Org alpha = PkiOrg("alpha");
  Session session = Connect(alpha);
  ASSERT_EQ(sim->Post("/clock", {{"shift", 301}}).status, 200);
  Handshake late = StartSession(alpha, false);
  EXPECT_EQ(late.kind, 255);
  EXPECT_EQ(late.code, 12);
  // Within a session the refusal comes as a record under the session key.
  Reply status = Call(session, Request(3, Bytes(64, 0)));
  EXPECT_EQ(status.kind, 255);
  EXPECT_EQ(status.code, 12);

  ASSERT_EQ(sim->Post("/clock", {{"shift", -299}}).status, 200);
  EXPECT_EQ(StartSession(alpha, false).kind, 171);
  EXPECT_EQ(Call(session, Request(3, Bytes(64, 0))).kind, 174);
}

TEST_F(SimHandshakeTest, UnknownOrExpiredSessionsAreSeenAsCode7) {
  Org alpha = PkiOrg("alpha");
  Session session = Connect(alpha);
  ASSERT_EQ(Call(session, Request(40)).code, 101);

  Session madeUp = session;
  madeUp.id[0] ^= 0xFF;
  Reply unknown = Call(madeUp, Request(40));
  EXPECT_EQ(unknown.answer[0], 255);
  EXPECT_EQ(unknown.answer[1], 7);

  sim_test::AdminAnswer expired = sim->Post("/sessions/expire");
  EXPECT_EQ(expired.body["expired"], 1);
  Reply after = Call(session, Request(40));
  EXPECT_EQ(after.kind, 255);
  EXPECT_EQ(after.code, 7);
  // A new handshake gives a working session again.
  EXPECT_EQ(Call(Connect(alpha), Request(40)).code, 101);
}

TEST_F(SimHandshakeTest, IdleSessionsAreForgottenAfterTheirLifetime) {
  StartSim({"--session-lifetime", "60"});
  Session session = Connect(PkiOrg("alpha"));
  ASSERT_EQ(Call(session, Request(40)).code, 101);
  // Within the clock tolerance, but past the session's lifetime.
  ASSERT_EQ(sim->Post("/clock", {{"shift", 120}}).status, 200);
  EXPECT_EQ(Call(session, Request(40)).code, 7);
}

TEST_F(SimHandshakeTest, RegistrationSurvivesARestartWithAStateFile) {
  test_support::TempFolder state;
  const std::string file = state.path + "sim.db";
  StartSim({"--db", file});
  Org alpha = PkiOrg("alpha");
  ASSERT_EQ(StartSession(alpha, true).kind, 171);
  ASSERT_EQ(sim->Post("/organisations/alpha/service-code", {{"code", 4}}).status, 200);

  StartSim({"--db", file});
  Handshake known = StartSession(alpha, false);
  EXPECT_EQ(known.kind, 171) << SimLog();
  // The sessions of the earlier run are gone; the service code is kept.
  Reply status = Call(known.session, Request(3, Bytes(64, 0)));
  EXPECT_EQ(status.kind, 174);
  EXPECT_EQ(status.code, 4);
}

}  // namespace
}  // namespace sim_test
