// The session start and the request/answer routine against a scripted
// server that answers what the simulator never would: a proof with one bit
// flipped, answers shorter than their fixed fields, a session key shorter
// than 64 bytes, a refusal without its code, a clock refusal.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <mutex>

#include "core/client_state.h"
#include "core/text.h"
#include "crypto/cms.h"
#include "exchange/intake.h"
#include "exchange/session.h"
#include "exchange_fixture.h"
#include "link/envelope.h"
#include "link/frame.h"
#include "link/sha512.h"
#include "link/xtea128.h"
#include "loopback_server.h"
#include "platform/ui.h"

namespace exchange_test {
namespace {

using Array64 = std::array<uint8_t, 64>;

Array64 Filled(uint8_t first) {
  Array64 bytes;
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(first + i);
  return bytes;
}

// An answer with the given first byte whose bytes from 9 on are `body`
// enciphered with the outer key of `time`, as the server sends 170 and 171.
Bytes Enveloped(uint8_t kind, uint32_t time, const Bytes& body) {
  Bytes answer(serverlink::kHeaderBytes, 0);
  answer[0] = kind;
  uint8_t key[serverlink::kOuterKeyBytes];
  serverlink::MakeOuterKey(time, key);
  Bytes enciphered = serverlink::Xtea128Crypt(body, key, serverlink::XteaDirection::Encrypt);
  answer.insert(answer.end(), enciphered.begin(), enciphered.end());
  return answer;
}

// The certificate inside a session-start body.
Bytes CertificateOf(const Bytes& block) {
  uint32_t n = block[1] | block[2] << 8 | block[3] << 16 | static_cast<uint32_t>(block[4]) << 24;
  return Bytes(block.begin() + 5, block.begin() + 5 + n);
}

// How the scripted server spoils its session answer.
enum class Spoil { None, FlipProofBit, ShortKey, CutAfterIdentifier };

struct SessionScript {
  Spoil spoil = Spoil::None;
  Array64 id = Filled(1);
  Array64 key = Filled(100);
  Bytes alsoFor;                     // a second certificate the key is enveloped for
  std::function<void()> beforeAnswer;  // runs while the client waits for the answer

  void operator()(platform::Socket& socket) const {
    link_test::ReceivedRequest request;
    if (!link_test::ReceiveRequest(socket, &request)) return;
    Bytes key64(key.begin(), key.end());
    if (spoil == Spoil::ShortKey) key64.resize(32);
    crypto::DataBlock envelope;
    std::vector<crypto::Recipient> recipients{{core::Base64Encode(CertificateOf(request.plain)), ""}};
    if (!alsoFor.empty()) recipients.push_back({core::Base64Encode(alsoFor), ""});
    ASSERT_TRUE(crypto::CryptMessage(crypto::MakeBlock(key64), recipients, &envelope));
    serverlink::ExchangeRecord record;
    record.type = 171;
    record.payload = crypto::BlockBytes(envelope);
    Bytes frame = serverlink::BuildFrame(record);
    Bytes proven = frame;
    proven.insert(proven.end(), key.begin(), key.end());
    uint8_t proof[64];
    serverlink::Sha512(proven.data(), proven.size(), proof);
    if (spoil == Spoil::FlipProofBit) proof[17] ^= 0x04;
    Bytes body(id.begin(), id.end());
    if (spoil != Spoil::CutAfterIdentifier) {
      body.insert(body.end(), frame.begin(), frame.end());
      body.insert(body.end(), proof, proof + 64);
    } else {
      body.resize(body.size() + 16, 0);
    }
    Bytes answer = Enveloped(171, request.time, body);
    if (beforeAnswer) beforeAnswer();
    platform::NetSendAll(socket, answer.data(), answer.size(), 5000);
  }
};

class CannedAnswersTest : public ExchangeTest {
 protected:
  void Serve(std::function<void(platform::Socket&)> script) {
    server = std::make_unique<link_test::LoopbackServer>(std::move(script));
    setenv("TESSARIN_SERVER", server->endpoint().c_str(), 1);
  }

  crypto::CertificateEntry Selected() const {
    crypto::CertificateEntry entry;
    EXPECT_TRUE(crypto::GetSelectedEntry(&entry));
    return entry;
  }

  // Puts a session into the selected entry, as a session start does.
  void OpenSession(const Array64& id, const Array64& key) {
    crypto::UpdateCertificateEntry(crypto::SelectedCertificate(), [&](crypto::CertificateEntry& entry) {
      entry.sessionId = id;
      entry.sessionKey = key;
    });
  }

  // A server that answers every in-session request with `answerFor` of the
  // deciphered request record, enciphered under the session key.
  void ServeRecords(const Array64& key, std::function<Bytes(const serverlink::ExchangeRecord&, uint32_t)> answerFor) {
    Serve([key, answerFor, this](platform::Socket& socket) {
      link_test::ReceivedRequest request;
      if (!link_test::ReceiveRequest(socket, &request)) return;
      Bytes frame(request.plain.begin() + 64, request.plain.end());
      frame = serverlink::Xtea128Crypt(frame, key.data(), serverlink::XteaDirection::Decrypt);
      serverlink::ExchangeRecord record;
      serverlink::ParseFrame(frame.data(), frame.size(), &record);
      {
        std::lock_guard<std::mutex> lock(seenMutex);
        seen.push_back(record);
      }
      Bytes answer = answerFor(record, request.time);
      if (!answer.empty()) platform::NetSendAll(socket, answer.data(), answer.size(), 5000);
    });
  }

  static Bytes RecordAnswer(const Array64& key, uint32_t time, const serverlink::ExchangeRecord& record) {
    Bytes frame = serverlink::BuildFrame(record);
    frame = serverlink::Xtea128Crypt(frame, key.data(), serverlink::XteaDirection::Encrypt);
    return link_test::MakeRecordAnswer(time, frame);
  }

  static serverlink::ExchangeRecord Answer(uint8_t type, Bytes payload) {
    serverlink::ExchangeRecord record;
    record.type = type;
    record.payload = std::move(payload);
    record.payloadLength = static_cast<uint32_t>(record.payload.size());
    return record;
  }

  std::unique_ptr<link_test::LoopbackServer> server;
  std::mutex seenMutex;
  std::vector<serverlink::ExchangeRecord> seen;  // requests the server read
};

TEST_F(CannedAnswersTest, MatchingProofOpensTheSession) {
  ShowWindow();
  SessionScript script;
  Serve(script);
  EXPECT_TRUE(exchange::StartExchangeWithServer());
  EXPECT_EQ(Selected().sessionId, script.id);
  EXPECT_EQ(Selected().sessionKey, script.key);
  ASSERT_FALSE(StatusLines().empty());
  EXPECT_EQ(StatusLines().front(), L"Соединение с АИС успешно установлено.");
  EXPECT_EQ(platform::ui::StatusBarText(), L"...");
}

TEST_F(CannedAnswersTest, ProofDifferingByOneBitFailsAfterStoringTheSession) {
  ShowWindow();
  SessionScript script;
  script.spoil = Spoil::FlipProofBit;
  Serve(script);
  EXPECT_FALSE(exchange::StartExchangeWithServer());
  ASSERT_FALSE(StatusLines().empty());
  EXPECT_EQ(StatusLines().front(), L"Ошибка проверки подписи АИС");
  // Identifier and key were taken before the proof was checked.
  EXPECT_EQ(Selected().sessionId, script.id);
  EXPECT_EQ(Selected().sessionKey, script.key);
  EXPECT_NE(NormalLog().find("Проверка подписи - 1"), std::string::npos);
}

TEST_F(CannedAnswersTest, SessionOfACertificateNoLongerSelectedIsNotTaken) {
  ShowWindow();
  int alphaIndex = -1;
  for (int index = 0; index < crypto::CertificateCount(); ++index) {
    crypto::CertificateEntry entry;
    if (crypto::GetCertificateEntry(index, &entry) && entry.keyId == alpha.iks) alphaIndex = index;
  }
  ASSERT_GE(alphaIndex, 0);
  // The user picks alpha while the server answers beta's session start; the
  // key opens for either.
  SessionScript script;
  script.alsoFor = alpha.certificate;
  script.beforeAnswer = [alphaIndex] { crypto::SelectCertificate(alphaIndex); };
  Serve(script);
  EXPECT_FALSE(exchange::StartExchangeWithServer());
  for (const std::wstring& line : StatusLines()) EXPECT_NE(line, L"Соединение с АИС успешно установлено.");
  EXPECT_FALSE(exchange::SessionOpen()) << "beta's session is not alpha's";
  EXPECT_NE(ErrorLog().find("Сессия не сохранена"), std::string::npos);
}

TEST_F(CannedAnswersTest, SessionAnswersShorterThanTheirFieldsFailCleanly) {
  for (Spoil spoil : {Spoil::CutAfterIdentifier, Spoil::ShortKey}) {
    SessionScript script;
    script.spoil = spoil;
    Serve(script);
    EXPECT_FALSE(exchange::StartExchangeWithServer());
    EXPECT_EQ(Selected().sessionId, Array64{}) << "no session from a short answer";
    EXPECT_FALSE(exchange::SessionOpen());
    server.reset();
  }
}

TEST_F(CannedAnswersTest, ClockRefusalAtSessionStartSetsState8) {
  ShowWindow();
  Serve([](platform::Socket& socket) {
    link_test::ReceivedRequest request;
    if (!link_test::ReceiveRequest(socket, &request)) return;
    Bytes answer = {0xFF, 12, 0, 0, 0, 0, 0, 0, 0};
    platform::NetSendAll(socket, answer.data(), answer.size(), 5000);
  });
  EXPECT_FALSE(exchange::StartExchangeWithServer());
  EXPECT_EQ(core::GetClientState(), core::kStateClockOutOfSync);
  EXPECT_EQ(platform::ui::Tray().balloonText, L"Ошибка синхронизации времени с АИС");
  EXPECT_EQ(StatusLines().front(),
            L"Ошибка синхронизации времени с АИС. Проверьте установленную дату и время и укажите правильный "
            L"часовой пояс UTC+03:00");
}

TEST_F(CannedAnswersTest, RequestAnswersAreReadOnlyWithinTheirLength) {
  const Array64 id = Filled(7);
  const Array64 key = Filled(9);
  OpenSession(id, key);
  exchange::SetConnected(true);
  // Answers in turn: a refusal without its code, a head without a block,
  // nothing at all, an acceptance, a record cut in the middle.
  int call = 0;
  ServeRecords(key, [&call, key](const serverlink::ExchangeRecord&, uint32_t time) -> Bytes {
    switch (call++) {
      case 0:
        return RecordAnswer(key, time, Answer(255, {}));
      case 1:
        return Bytes{173, 0, 0, 0, 0, 0, 0, 0, 0};
      case 2:
        return Bytes{};
      case 3:
        return RecordAnswer(key, time, Answer(174, {5}));
      default: {
        Bytes whole = RecordAnswer(key, time, Answer(32, Bytes(40, 1)));
        whole.resize(9 + 32);
        return whole;
      }
    }
  });
  serverlink::ExchangeRecord request;
  request.type = 40;
  exchange::ReplyResult result;

  EXPECT_FALSE(exchange::SendMessageAndGetAnswer(&result, &request));
  EXPECT_EQ(result.kind, 255);
  EXPECT_EQ(result.code, 0);
  EXPECT_TRUE(exchange::Connected()) << "a refusal without code says nothing of the link";

  for (int cut = 0; cut < 2; ++cut) {
    serverlink::ExchangeRecord again;
    again.type = 40;
    EXPECT_FALSE(exchange::SendMessageAndGetAnswer(&result, &again));
    EXPECT_EQ(result.kind, 255);
    EXPECT_EQ(result.code, 7) << "cut " << cut;
    EXPECT_FALSE(exchange::Connected());
  }

  serverlink::ExchangeRecord accepted;
  accepted.type = 40;
  EXPECT_TRUE(exchange::SendMessageAndGetAnswer(&result, &accepted));
  EXPECT_EQ(result.kind, 174);
  EXPECT_EQ(result.code, 5);

  std::vector<uint8_t> list;
  EXPECT_FALSE(exchange::GetListMessages(&result, &list));
  EXPECT_EQ(result.kind, 255);
  EXPECT_EQ(result.code, 7);
  EXPECT_TRUE(list.empty());
  ASSERT_TRUE(server->WaitServed(5));
  EXPECT_EQ(seen.size(), 5u);
}

TEST_F(CannedAnswersTest, ListKeepsWholeIdentifiersAndStatusNeedsItsCode) {
  const Array64 key = Filled(3);
  OpenSession(Filled(5), key);
  int call = 0;
  ServeRecords(key, [&call, key](const serverlink::ExchangeRecord&, uint32_t time) -> Bytes {
    if (call++ == 0) return RecordAnswer(key, time, Answer(32, {1, 0, 0, 0, 2, 0, 0, 0, 9}));
    return RecordAnswer(key, time, Answer(174, {}));
  });
  exchange::ReplyResult result;
  std::vector<uint8_t> list;
  ShowWindow();
  EXPECT_TRUE(exchange::GetListMessages(&result, &list));
  EXPECT_EQ(list, (Bytes{1, 0, 0, 0, 2, 0, 0, 0}));
  EXPECT_EQ(StatusLines().front(), L"Получен список из сообщений - 2");
  EXPECT_FALSE(exchange::GetMyStatus(&result)) << "an acceptance without its code byte";
  ASSERT_TRUE(server->WaitServed(2));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].type, 40);
  EXPECT_EQ(seen[1].type, 3);
  EXPECT_EQ(seen[1].payload, Bytes(64, 0)) << "no digest computed yet: all zero";
}

TEST_F(CannedAnswersTest, NothingSentWhenNoServerListens) {
  ShowWindow();
  setenv("TESSARIN_SERVER", ("127.0.0.1:" + std::to_string(link_test::FreePort())).c_str(), 1);
  OpenSession(Filled(1), Filled(2));
  exchange::SetConnected(true);
  serverlink::ExchangeRecord request;
  request.type = 40;
  exchange::ReplyResult result{1, 1};
  EXPECT_FALSE(exchange::SendMessageAndGetAnswer(&result, &request));
  EXPECT_EQ(result.kind, 0);
  EXPECT_EQ(result.code, 0);
  EXPECT_FALSE(exchange::Connected());
  EXPECT_EQ(StatusLines().front(), L"Сообщения для АИС не отправлено");
}

}  // namespace
}  // namespace exchange_test
