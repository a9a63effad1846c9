// The session start (see handshake.h).
#include "handshake.h"

#include <cstring>

#include "core/format.h"
#include "counters.h"
#include "link/envelope.h"
#include "link/frame.h"
#include "link/sha512.h"
#include "pki.h"
#include "sessions.h"
#include "sim_clock.h"
#include "state.h"
#include "wire.h"

namespace aissim {

namespace {

// Mark, certificate length, version and branch around the certificate.
constexpr size_t kBlockFixedBytes = 1 + 4 + 4 + 2;

std::vector<uint8_t> Refuse(uint8_t code, const std::string& note, Exchange* exchange) {
  exchange->result = core::Format("refused %d", code);
  exchange->note = note;
  return PlainAnswer(kTypeRefused, code);
}

// 171: the session identifier, the record with the enveloped key, the proof.
std::vector<uint8_t> GrantSession(const Organisation& organisation, Exchange* exchange) {
  Session session;
  if (!CreateSession(organisation.iks, SimNow(), &session)) {
    return Refuse(kCodeServerError, "no random session", exchange);
  }
  std::vector<uint8_t> envelope;
  if (!EncryptFor(organisation.certificate, std::vector<uint8_t>(session.key.begin(), session.key.end()), &envelope)) {
    return Refuse(kCodeServerError, "the session key could not be enveloped", exchange);
  }
  serverlink::ExchangeRecord keyRecord;
  keyRecord.type = kKindSession;
  keyRecord.payload = std::move(envelope);
  std::vector<uint8_t> frame = serverlink::BuildFrame(keyRecord);

  // The proof: SHA-512 over the record as it stands in the answer,
  // followed by the session key; only the holder of the certificate's key
  // can recompute it.
  std::vector<uint8_t> proven(frame.size() + session.key.size());
  std::memcpy(proven.data(), frame.data(), frame.size());
  std::memcpy(proven.data() + frame.size(), session.key.data(), session.key.size());
  uint8_t proof[serverlink::kSha512Bytes];
  if (!serverlink::Sha512(proven.data(), proven.size(), proof)) {
    return Refuse(kCodeServerError, "no digest for the proof", exchange);
  }
  serverlink::WipeBytes(proven.data(), proven.size());

  std::vector<uint8_t> body(session.id.size() + frame.size() + sizeof proof);
  std::memcpy(body.data(), session.id.data(), session.id.size());
  std::memcpy(body.data() + session.id.size(), frame.data(), frame.size());
  std::memcpy(body.data() + session.id.size() + frame.size(), proof, sizeof proof);
  Count("sessions.granted");
  exchange->result = "171 session";
  return EnvelopedAnswer(kKindSession, exchange->time, body);
}

}  // namespace

bool ParseSessionStart(const std::vector<uint8_t>& block, SessionStartBlock* parsed) {
  if (block.size() < kBlockFixedBytes) return false;
  if (block[0] != 0 && block[0] != kRegistrationMark) return false;
  uint32_t length = static_cast<uint32_t>(block[1]) | static_cast<uint32_t>(block[2]) << 8 |
                    static_cast<uint32_t>(block[3]) << 16 | static_cast<uint32_t>(block[4]) << 24;
  if (length == 0 || length > block.size() - kBlockFixedBytes) return false;
  parsed->registration = block[0] == kRegistrationMark;
  parsed->certificate.assign(block.begin() + 5, block.begin() + 5 + length);
  const uint8_t* after = block.data() + 5 + length;
  std::memcpy(parsed->version, after, 4);
  parsed->branch = static_cast<uint16_t>(after[4] | after[5] << 8);
  return true;
}

std::vector<uint8_t> AnswerSessionStart(const std::vector<uint8_t>& block, Exchange* exchange) {
  SessionStartBlock start;
  if (!ParseSessionStart(block, &start)) return Refuse(kCodeBadFormat, "the session-start block does not parse", exchange);
  CertificateFacts facts;
  if (!ReadCertificateFacts(start.certificate, &facts)) {
    return Refuse(kCodeBadFormat, "the certificate does not parse", exchange);
  }
  if (!facts.hasUnp) return Refuse(kCodeBadFormat, "the certificate carries no УНП", exchange);
  exchange->organisation = core::Format("%09d/%d", facts.unp, start.branch);
  const int64_t now = SimNow();
  if (now < facts.notBefore || now > facts.notAfter) {
    return Refuse(kCodeKeyInactive, "the certificate is not valid now", exchange);
  }

  std::optional<Organisation> organisation = FindOrganisation(facts.iks);
  if (!organisation) {
    if (!start.registration) {
      exchange->result = "170 not registered";
      return EnvelopedAnswer(kKindNotRegistered, exchange->time,
                             serverlink::BuildFrame(RefusalRecord(kCodeNotRegistered)));
    }
    HandlerSettings settings = GetHandlerSettings();
    if (!settings.registrationAllowed) {
      return Refuse(settings.registrationRefusal, "registration is switched off", exchange);
    }
    Organisation registered;
    registered.iks = facts.iks;
    registered.unp = facts.unp;
    registered.branch = start.branch;
    registered.name = facts.name;
    registered.certificate = start.certificate;
    registered.registered = now;
    if (!SaveOrganisation(registered)) return Refuse(kCodeServerError, "the registration was not stored", exchange);
    Count("organisations.registered");
    organisation = registered;
    exchange->note = "registered";
  } else if (organisation->branch != start.branch) {
    SetBranch(organisation->iks, start.branch);
    organisation->branch = start.branch;
  }
  return GrantSession(*organisation, exchange);
}

}  // namespace aissim
