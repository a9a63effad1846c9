// The client's side of the protocol as the tests drive it against the
// simulator: the session-start block, the handshake with the check of the
// key and the proof, and the request/answer routine (frame, session
// cipher, SendMessageToServer, decipher, parse), each step exactly as the
// client takes it. Also the documents a client sends: signed, compressed
// when long, enveloped for the recipient.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "crypto/certificates.h"
#include "link/exchange_record.h"
#include "sim_process.h"

namespace sim_test {

using Bytes = std::vector<uint8_t>;

// An organisation of the tests' PKI.
struct Org {
  std::string name;        // "alpha", "beta", ...
  crypto::KeyId iks{};     // key identifier
  std::string iksHex;      // 40 upper-case hex digits
  Bytes certificate;       // DER
  int32_t unp = 0;         // УНП
};
Org PkiOrg(const std::string& name);

// The client's own session-start block (MHFS) for the organisation's
// certificate, selected from the certificate list with the branch setting;
// empty when the certificate is not in the list (no УНП, expired).
Bytes ClientSessionStart(const Org& org, bool registration, uint16_t branch);

// The same block made here for any certificate bytes: mark, certificate
// length and certificate, version 3.14.9.1, branch; zero bytes to a
// multiple of 16.
Bytes SessionStartBlock(const Bytes& certificate, bool registration, uint16_t branch);

struct Session {
  std::array<uint8_t, 64> id{};   // session identifier
  std::array<uint8_t, 64> key{};  // session key
};

struct Handshake {
  int sent = 0;          // SendMessageToServer's result
  Bytes answer;          // the answer as the transport returned it
  uint8_t kind = 0;      // answer[0]
  uint8_t code = 0;      // answer[1] for plain answers, the record's code for 170
  bool keyOpened = false;  // 171: the enveloped key opened with the certificate's key
  bool proofOk = false;    // 171: the proof matched
  Session session;       // 171: identifier and key
};

// Sends the session-start block (operation 0xB1) and reads the answer as
// the client does: the client's own block when it can make one, else the
// block made here.
Handshake StartSession(const Org& org, bool registration, uint16_t branch = 0);
Handshake SendSessionStart(const Bytes& block, const Org& org);

// A session of a registered organisation (registers when needed); fails
// the test when none is granted.
Session Connect(const Org& org, uint16_t branch = 0);

struct Reply {
  int sent = 0;           // SendMessageToServer's result
  Bytes answer;           // as returned by the transport
  uint8_t kind = 0;       // the client's reading: 0 nothing, 173 record, 174 accepted, 255 refused
  uint8_t code = 0;       // its second byte
  bool parsed = false;    // a 173 answer whose frame parsed
  serverlink::ExchangeRecord record;  // the answer record
};

// The request/answer routine within a session.
Reply Call(const Session& session, const serverlink::ExchangeRecord& request);

// Records the tests send.
serverlink::ExchangeRecord Request(uint8_t type, Bytes payload = {});
serverlink::ExchangeRecord IdRequest(uint8_t type, uint32_t idm);
serverlink::NumberRecord Number(int32_t first, int32_t second);

// Identifiers of a type-32 list answer.
std::vector<uint32_t> ListedIds(const Reply& reply);

// A document as a client sends it: signed by `from`, compressed when the
// signed message is longer than 1000 bytes (*compressed tells), enveloped
// for `to`.
Bytes Document(const Org& from, const Org& to, const std::string& content, bool* compressed = nullptr);

// Opens a fetched document addressed to `to`: decrypts, expands a
// compressed one, verifies; true when every signature is valid. The
// signed content goes to *content.
bool OpenDocument(const Org& to, const serverlink::ExchangeRecord& fetched, std::string* content,
                  int* signatureCount = nullptr);

// What every simulator test starts from: the client side pointed at the
// tests' PKI with the PIN setting, short transport limits, the log in a
// folder of its own, and a simulator started by StartSim.
class SimTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts (or restarts) the simulator and points the transport at it.
  void StartSim(const std::vector<std::string>& extraArguments = {});

  // The simulator's traffic log, for failure messages.
  std::string SimLog() const { return sim ? sim->Log() : std::string(); }

  test_support::ScopedLogFolder log;
  std::unique_ptr<SimProcess> sim;
};

}  // namespace sim_test
