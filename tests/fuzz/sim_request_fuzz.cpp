// Fuzz target: the exchange server simulator's request handler on any
// bytes. The first input byte chooses the form:
//   0: the rest is a whole request as it comes off the wire (header and
//      body, enciphered or not);
//   1: the rest is a session-start block, wrapped in a header and the
//      outer cipher here;
//   2: the rest is a request frame, sent within a session of a known
//      organisation (wrapped in the session and the outer cipher here),
//      so that the routing and the content checks see it.
// Whatever comes in, the handler answers with at least a plain answer or
// drops the connection, and never reads outside the bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "handler.h"
#include "link/envelope.h"
#include "link/xtea128.h"
#include "sessions.h"
#include "sim_clock.h"
#include "sim_log.h"
#include "state.h"

namespace {

aissim::Session& FuzzSession() {
  static aissim::Session session = [] {
    aissim::SetTrafficLogQuiet(true);
    std::string error;
    if (!aissim::OpenState("", &error)) __builtin_trap();
    for (int i = 0; i < 2; ++i) {
      aissim::Organisation organisation;
      organisation.iks = std::string(39, '0') + static_cast<char>('1' + i);
      organisation.unp = 190000001 + i;
      organisation.name = "fuzz";
      aissim::SaveOrganisation(organisation);
    }
    aissim::Session made;
    if (!aissim::CreateSession(std::string(39, '0') + "1", aissim::SimNow(), &made)) __builtin_trap();
    return made;
  }();
  aissim::FindSession(session.id.data(), aissim::SimNow());  // keeps it alive
  return session;
}

std::vector<uint8_t> Wrap(uint8_t operation, std::vector<uint8_t> body) {
  body.resize((body.size() + 15) / 16 * 16);
  if (body.empty()) body.resize(16);
  const uint32_t time = static_cast<uint32_t>(aissim::SimNow());
  uint8_t key[serverlink::kOuterKeyBytes];
  if (!serverlink::MakeOuterKey(time, key)) __builtin_trap();
  std::vector<uint8_t> request(serverlink::kHeaderBytes + body.size());
  serverlink::WriteRequestHeader({operation, static_cast<uint32_t>(body.size()), time}, request.data());
  serverlink::Xtea128Crypt(body.data(), body.size(), key, request.data() + serverlink::kHeaderBytes,
                           serverlink::XteaDirection::Encrypt);
  return request;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  aissim::Session& session = FuzzSession();
  if (size == 0) return 0;
  const uint8_t form = data[0] % 3;
  std::vector<uint8_t> rest(data + 1, data + size);
  std::vector<uint8_t> request;
  if (form == 0) {
    request = rest;
  } else if (form == 1) {
    request = Wrap(serverlink::kOperationSessionStart, rest);
  } else {
    rest.resize((rest.size() + 15) / 16 * 16);
    if (rest.empty()) rest.resize(16);
    serverlink::Xtea128Crypt(rest.data(), rest.size(), session.key.data(), rest.data(),
                             serverlink::XteaDirection::Encrypt);
    std::vector<uint8_t> body(session.id.size() + rest.size());
    std::copy(session.id.begin(), session.id.end(), body.begin());
    std::copy(rest.begin(), rest.end(), body.begin() + static_cast<long>(session.id.size()));
    request = Wrap(serverlink::kOperationInSession, body);
  }
  // An exact copy, so that a read past the request is caught.
  std::vector<uint8_t> exact(request);
  aissim::Reply reply = aissim::HandleRequestBytes(exact.data(), exact.size(), 1u << 20);
  if (!reply.drop && reply.answer.size() < serverlink::kHeaderBytes) __builtin_trap();
  if (reply.logLine.empty()) __builtin_trap();
  return 0;
}
