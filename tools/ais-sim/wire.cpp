// Answer forms (see wire.h).
#include "wire.h"

#include "link/envelope.h"
#include "link/frame.h"
#include "link/xtea128.h"

namespace aissim {

std::vector<uint8_t> PlainAnswer(uint8_t kind, uint8_t code) {
  std::vector<uint8_t> answer(serverlink::kHeaderBytes, 0);
  answer[0] = kind;
  answer[1] = code;
  return answer;
}

std::vector<uint8_t> EnvelopedAnswer(uint8_t kind, uint32_t time, const std::vector<uint8_t>& body) {
  uint8_t key[serverlink::kOuterKeyBytes];
  if (!serverlink::MakeOuterKey(time, key)) return {};
  std::vector<uint8_t> answer(serverlink::kHeaderBytes + body.size());
  serverlink::WriteRequestHeader(serverlink::RequestHeader{kind, static_cast<uint32_t>(body.size()), time},
                                 answer.data());
  serverlink::Xtea128Crypt(body.data(), body.size(), key, answer.data() + serverlink::kHeaderBytes,
                           serverlink::XteaDirection::Encrypt);
  serverlink::WipeBytes(key, sizeof key);
  return answer;
}

std::vector<uint8_t> RecordAnswer(uint32_t time, const uint8_t sessionKey[64],
                                  const serverlink::ExchangeRecord& record) {
  std::vector<uint8_t> frame = serverlink::BuildFrame(record);
  serverlink::Xtea128Crypt(frame.data(), frame.size(), sessionKey, frame.data(), serverlink::XteaDirection::Encrypt);
  return EnvelopedAnswer(kKindRecord, time, frame);
}

serverlink::ExchangeRecord RefusalRecord(uint8_t code) {
  serverlink::ExchangeRecord record;
  record.type = kTypeRefused;
  record.payload = {code};
  record.payloadLength = 1;
  return record;
}

serverlink::ExchangeRecord AcceptedRecord(uint8_t acknowledgement) {
  serverlink::ExchangeRecord record;
  record.type = kTypeAccepted;
  record.payload = {acknowledgement};
  record.payloadLength = 1;
  return record;
}

}  // namespace aissim
