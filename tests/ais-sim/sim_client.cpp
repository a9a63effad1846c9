// The client's side of the protocol for the simulator tests (see
// sim_client.h).
#include "sim_client.h"

#include <cstdlib>
#include <cstring>

#include "core/text.h"
#include "crypto/cms.h"
#include "crypto/provider/provider.h"
#include "crypto/verify.h"
#include "link/envelope.h"
#include "link/frame.h"
#include "link/handshake_body.h"
#include "link/payload.h"
#include "link/sha512.h"
#include "link/transport.h"
#include "link/xtea128.h"
#include "storage/settings.h"

namespace sim_test {

namespace {

// The client's version 3.14.9.1, lowest part first.
constexpr uint8_t kClientVersion[4] = {0x01, 0x09, 0x0E, 0x03};

Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

}  // namespace

Org PkiOrg(const std::string& name) {
  Org org;
  org.name = name;
  Bytes pem = test_support::ReadBytes(PkiFolder() + "pki/certs/" + name + ".pem");
  EXPECT_EQ(crypto::provider::QueryCertificate(pem, &org.certificate), 0u) << name;
  crypto::provider::CertInfo info;
  EXPECT_EQ(crypto::provider::ReadCertificate(org.certificate, &info), 0u) << name;
  EXPECT_EQ(info.keyId.size(), org.iks.size()) << name;
  std::copy_n(info.keyId.begin(), std::min(info.keyId.size(), org.iks.size()), org.iks.begin());
  org.iksHex = core::HexEncode(org.iks.data(), org.iks.size());
  org.unp = static_cast<int32_t>(std::wcstol(crypto::GetUNP(info).c_str(), nullptr, 10));
  return org;
}

Bytes ClientSessionStart(const Org& org, bool registration, uint16_t branch) {
  if (crypto::CertificateCount() == 0) crypto::ListCertificates();
  for (int index = 0; index < crypto::CertificateCount(); ++index) {
    crypto::CertificateEntry entry;
    if (!crypto::GetCertificateEntry(index, &entry) || entry.keyId != org.iks) continue;
    crypto::SelectCertificate(index);
    storage::SetSettingText("IDC_BRANCH", std::to_wstring(branch));
    crypto::DataBlock block;
    if (!serverlink::MHFS(&block, registration)) return {};
    return crypto::BlockBytes(block);
  }
  return {};
}

Bytes SessionStartBlock(const Bytes& certificate, bool registration, uint16_t branch) {
  const size_t used = certificate.size() + 11;
  Bytes block((used + 15) / 16 * 16, 0);
  block[0] = registration ? 0xB2 : 0;
  const uint32_t n = static_cast<uint32_t>(certificate.size());
  for (int i = 0; i < 4; ++i) block[1 + i] = static_cast<uint8_t>(n >> (8 * i));
  std::memcpy(block.data() + 5, certificate.data(), certificate.size());
  std::memcpy(block.data() + 5 + n, kClientVersion, 4);
  block[9 + n] = static_cast<uint8_t>(branch);
  block[10 + n] = static_cast<uint8_t>(branch >> 8);
  return block;
}

Handshake SendSessionStart(const Bytes& block, const Org& org) {
  Handshake result;
  result.sent = serverlink::SendMessageToServer(serverlink::kOperationSessionStart, block, &result.answer);
  if (result.sent < 1 || result.answer.size() < serverlink::kHeaderBytes) return result;
  const Bytes& answer = result.answer;
  result.kind = answer[0];
  result.code = answer[1];
  if (result.kind == 170) {
    serverlink::ExchangeRecord record;
    if (serverlink::ParseFrame(answer.data() + 9, answer.size() - 9, &record) && record.type == 255 &&
        !record.payload.empty()) {
      result.code = record.payload[0];
    }
  }
  if (result.kind == 171 && answer.size() > 9 + 64 + 64) {
    std::memcpy(result.session.id.data(), answer.data() + 9, 64);
    const uint8_t* frame = answer.data() + 73;
    const size_t frameSize = answer.size() - 73 - 64;
    serverlink::ExchangeRecord record;
    serverlink::ParseFrame(frame, frameSize, &record);
    crypto::DataBlock plain;
    result.keyOpened = crypto::DecryptMessage(crypto::MakeBlock(record.payload), org.iks, &plain) && plain.count >= 64;
    if (result.keyOpened) std::memcpy(result.session.key.data(), plain.buffer.get(), 64);
    Bytes proven(frame, frame + frameSize);
    proven.insert(proven.end(), result.session.key.begin(), result.session.key.end());
    uint8_t digest[serverlink::kSha512Bytes];
    result.proofOk = serverlink::Sha512(proven.data(), proven.size(), digest) &&
                     std::memcmp(digest, answer.data() + answer.size() - 64, 64) == 0;
  }
  return result;
}

Handshake StartSession(const Org& org, bool registration, uint16_t branch) {
  Bytes block = ClientSessionStart(org, registration, branch);
  if (block.empty()) block = SessionStartBlock(org.certificate, registration, branch);
  return SendSessionStart(block, org);
}

Session Connect(const Org& org, uint16_t branch) {
  Handshake handshake = StartSession(org, false, branch);
  if (handshake.kind == 170) handshake = StartSession(org, true, branch);
  EXPECT_EQ(handshake.kind, 171) << org.name << ": no session";
  EXPECT_TRUE(handshake.keyOpened) << org.name;
  EXPECT_TRUE(handshake.proofOk) << org.name;
  return handshake.session;
}

Reply Call(const Session& session, const serverlink::ExchangeRecord& request) {
  Reply reply;
  Bytes frame = serverlink::BuildFrame(request);
  serverlink::Xtea128Crypt(frame.data(), frame.size(), session.key.data(), frame.data(),
                           serverlink::XteaDirection::Encrypt);
  reply.sent = serverlink::SendMessageToServer(serverlink::kOperationInSession, frame, &reply.answer,
                                               session.id.data());
  if (reply.sent < 1 || reply.answer.size() < serverlink::kHeaderBytes) return reply;
  reply.kind = reply.answer[0];
  reply.code = reply.answer[1];
  if (reply.kind != serverlink::kAnswerRecord) {
    // Anything but a record is a lost session to the client.
    reply.kind = 255;
    reply.code = 7;
    return reply;
  }
  uint8_t* body = reply.answer.data() + serverlink::kHeaderBytes;
  const size_t size = reply.answer.size() - serverlink::kHeaderBytes;
  serverlink::Xtea128Crypt(body, size, session.key.data(), body, serverlink::XteaDirection::Decrypt);
  reply.parsed = serverlink::ParseFrame(body, size, &reply.record);
  if (reply.record.type == 255 || reply.record.type == 174) {
    reply.kind = reply.record.type;
    reply.code = reply.record.payload.empty() ? 0 : reply.record.payload[0];
  }
  return reply;
}

serverlink::ExchangeRecord Request(uint8_t type, Bytes payload) {
  serverlink::ExchangeRecord record;
  record.type = type;
  record.payload = std::move(payload);
  return record;
}

serverlink::ExchangeRecord IdRequest(uint8_t type, uint32_t idm) {
  serverlink::ExchangeRecord record = Request(type, {});
  record.flags = 1;
  for (int i = 0; i < 4; ++i) record.payload.push_back(static_cast<uint8_t>(idm >> (8 * i)));
  return record;
}

serverlink::NumberRecord Number(int32_t first, int32_t second) {
  serverlink::NumberRecord number;
  number.first = first;
  number.second = second;
  number.third = 2026;
  number.fourth = 1;
  number.fifth = 7;
  return number;
}

std::vector<uint32_t> ListedIds(const Reply& reply) {
  std::vector<uint32_t> ids;
  if (reply.record.type != 32) return ids;
  const Bytes& payload = reply.record.payload;
  for (size_t at = 0; at + 4 <= payload.size(); at += 4) {
    ids.push_back(payload[at] | payload[at + 1] << 8 | payload[at + 2] << 16 |
                  static_cast<uint32_t>(payload[at + 3]) << 24);
  }
  return ids;
}

Bytes Document(const Org& from, const Org& to, const std::string& content, bool* compressed) {
  crypto::DataBlock signedMessage;
  EXPECT_EQ(crypto::SignMessage(crypto::MakeBlock(ToBytes(content)), from.iks, &signedMessage, true), 0u);
  Bytes payload = crypto::BlockBytes(signedMessage);
  const bool compress = payload.size() > serverlink::kCompressAbove;
  if (compress) payload = serverlink::CompressPayload(payload.data(), payload.size());
  if (compressed != nullptr) *compressed = compress;
  crypto::DataBlock envelope;
  EXPECT_TRUE(crypto::CryptMessage(crypto::MakeBlock(payload), {{core::Base64Encode(to.certificate), ""}}, &envelope));
  return crypto::BlockBytes(envelope);
}

bool OpenDocument(const Org& to, const serverlink::ExchangeRecord& fetched, std::string* content,
                  int* signatureCount) {
  crypto::DataBlock plain;
  if (!crypto::DecryptMessage(crypto::MakeBlock(fetched.payload), to.iks, &plain)) return false;
  serverlink::ExchangeRecord opened = fetched;
  opened.payload = crypto::BlockBytes(plain);
  opened.payloadLength = static_cast<uint32_t>(opened.payload.size());
  if (!serverlink::ExpandPayload(&opened)) return false;
  int count = 0;
  crypto::DataBlock signedContent;
  std::wstring report;
  uint8_t verdict = 0;
  int verified = crypto::VerifyMessageSignature(crypto::MakeBlock(opened.payload), &count, &signedContent, &report,
                                                &verdict);
  if (signatureCount != nullptr) *signatureCount = count;
  Bytes bytes = crypto::BlockBytes(signedContent);
  content->assign(bytes.begin(), bytes.end());
  return verified == 1;
}

void SimTest::SetUp() {
  setenv("TESSARIN_CERTSTORE", PkiFolder().c_str(), 1);
  crypto::ResetCertificateStateForTest();
  crypto::SetProviderTypeForTest(crypto::provider::OwnProviderType());
  storage::ClearSettings();
  storage::SetSettingText("IDC_PASS", L"12345678");
  serverlink::SetTransportLimits({5000, 20000, serverlink::kDefaultTransportLimits.maxAnswerBytes});
  StartSim();
}

void SimTest::TearDown() {
  if (sim) {
    // Every run ends cleanly when asked to: exit code 0, nothing on stderr.
    EXPECT_EQ(sim->Stop(), 0) << sim->Errors();
    EXPECT_EQ(sim->Errors(), "");
  }
  sim.reset();
  unsetenv("TESSARIN_SERVER");
  serverlink::SetTransportLimits(serverlink::kDefaultTransportLimits);
  storage::ClearSettings();
  crypto::ResetCertificateStateForTest();
  unsetenv("TESSARIN_CERTSTORE");
}

void SimTest::StartSim(const std::vector<std::string>& extraArguments) {
  if (sim) {
    EXPECT_EQ(sim->Stop(), 0) << sim->Errors();
  }
  sim.reset();
  sim = std::make_unique<SimProcess>(extraArguments);
  ASSERT_TRUE(sim->started()) << "the simulator did not start:\n" << SimLog();
  setenv("TESSARIN_SERVER", sim->endpoint().c_str(), 1);
}

}  // namespace sim_test
