// Fuzz target: the readers of the server's answers to a session start and
// to a request within a session, on any bytes as the transport returns
// them (a 9-byte head, then the deciphered rest). The input is copied into
// a buffer of exactly its size so that a read past the answer is caught.
// Whatever they accept lies within the answer: a grant's record and proof
// fit behind its identifier, an answer record fits behind its head.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "exchange/session_request.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> answer(data, data + size);
  answer.shrink_to_fit();

  exchange::SessionGrant grant;
  if (exchange::ParseSessionGrant(answer, &grant)) {
    if (exchange::kSessionRecordOffset + grant.provenBytes + exchange::kProofBytes != size) __builtin_trap();
    if (grant.record.payload.size() > grant.provenBytes) __builtin_trap();
  }
  exchange::SaysNotRegistered(answer);

  exchange::SessionKeys keys;
  for (size_t i = 0; i < keys.key.size(); ++i) keys.key[i] = static_cast<uint8_t>(i * 7 + 1);
  serverlink::ExchangeRecord record;
  if (exchange::ReadSessionAnswer(&answer, keys, &record)) {
    if (record.payload.size() + 9 > size) __builtin_trap();
  }
  if (answer.size() != size) __builtin_trap();
  return 0;
}
