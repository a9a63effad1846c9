// One request from bytes to bytes (see handler.h).
#include "handler.h"

#include <openssl/rand.h>

#include <cstring>
#include <mutex>
#include <optional>

#include "core/format.h"
#include "core/log.h"
#include "counters.h"
#include "faults.h"
#include "handshake.h"
#include "link/frame.h"
#include "link/xtea128.h"
#include "requests.h"
#include "sessions.h"
#include "sim_clock.h"
#include "state.h"
#include "wire.h"

namespace aissim {

namespace {

std::mutex gSettingsLock;
HandlerSettings gSettings;

// Faults are looked up by the request type; requests refused before their
// type is known only meet faults armed for any type.
constexpr int kTypeUnknown = -2;

std::string OrganisationText(const Organisation& organisation) {
  return core::Format("%09d/%d", organisation.unp, organisation.branch);
}

std::string DescribeRecord(const serverlink::ExchangeRecord& record) {
  if (record.type == kTypeRefused && !record.payload.empty()) return core::Format("173 refused %d", record.payload[0]);
  if (record.type == kTypeAccepted && !record.payload.empty()) return core::Format("173 accepted %d", record.payload[0]);
  return core::Format("173 type %d, %zu bytes", record.type, record.payload.size());
}

std::vector<uint8_t> Garbage() {
  std::vector<uint8_t> bytes(serverlink::kHeaderBytes + 48);
  RAND_bytes(bytes.data(), static_cast<int>(bytes.size()));
  bytes[0] = kKindRecord;  // looks like an enciphered answer, so the client tries to read it
  return bytes;
}

bool OutsideTolerance(uint32_t time) {
  int64_t difference = static_cast<int64_t>(time) - SimNow();
  if (difference < 0) difference = -difference;
  return difference > GetHandlerSettings().clockTolerance;
}

// A fault that fires before the request is handled. True when it settled
// the reply; a delay only sets the wait.
bool ApplyFaultBefore(const std::optional<Fault>& fault, Exchange* exchange, Reply* reply,
                      const std::vector<uint8_t>& codeAnswer) {
  if (!fault) return false;
  Count(std::string("faults.") + FaultActionName(fault->action));
  exchange->note = std::string("fault ") + FaultActionName(fault->action);
  switch (fault->action) {
    case FaultAction::Drop:
      reply->drop = true;
      exchange->result = "dropped";
      return true;
    case FaultAction::Code:
      reply->answer = codeAnswer;
      exchange->result = core::Format("%s %d (fault)", fault->kind == kTypeAccepted ? "accepted" : "refused", fault->code);
      return true;
    case FaultAction::Garbage:
      reply->answer = Garbage();
      exchange->result = "garbage";
      return true;
    case FaultAction::Delay:
      reply->delayMs = fault->delayMs;
      return false;
    case FaultAction::Truncate:
    case FaultAction::Corrupt:
      return false;
  }
  return false;
}

void ApplyFaultAfter(const std::optional<Fault>& fault, Exchange* exchange, Reply* reply) {
  if (!fault || fault->action != FaultAction::Truncate) return;
  reply->answer.resize(reply->answer.size() / 2);
  exchange->result += core::Format(", cut to %zu bytes", reply->answer.size());
}

// The answer of a code fault within a session.
std::vector<uint8_t> CodeAnswer(const std::optional<Fault>& fault, uint32_t time, const uint8_t* sessionKey) {
  if (!fault || fault->action != FaultAction::Code) return {};
  uint8_t code = static_cast<uint8_t>(fault->code);
  const bool accepted = fault->kind == kTypeAccepted;
  if (fault->plain || sessionKey == nullptr) return PlainAnswer(accepted ? kTypeAccepted : kTypeRefused, code);
  return RecordAnswer(time, sessionKey, accepted ? AcceptedRecord(code) : RefusalRecord(code));
}

Reply SessionStart(std::vector<uint8_t>& body, Exchange* exchange) {
  Reply reply;
  exchange->type = 177;
  std::optional<Fault> fault = TakeFault(kHandshakeType);
  std::vector<uint8_t> codeAnswer;
  if (fault && fault->action == FaultAction::Code) {
    serverlink::ExchangeRecord notRegistered = RefusalRecord(kCodeNotRegistered);
    codeAnswer = fault->code == kCodeNotRegistered && !fault->plain
                     ? EnvelopedAnswer(kKindNotRegistered, exchange->time, serverlink::BuildFrame(notRegistered))
                     : PlainAnswer(fault->kind == kTypeAccepted ? kTypeAccepted : kTypeRefused,
                                   static_cast<uint8_t>(fault->code));
  }
  if (ApplyFaultBefore(fault, exchange, &reply, codeAnswer)) return reply;
  if (OutsideTolerance(exchange->time)) {
    reply.answer = PlainAnswer(kTypeRefused, kCodeClock);
    exchange->result = "refused 12";
    exchange->note = core::Format("request time %u, own time %lld", exchange->time, static_cast<long long>(SimNow()));
  } else {
    reply.answer = AnswerSessionStart(body, exchange);
  }
  ApplyFaultAfter(fault, exchange, &reply);
  return reply;
}

Reply InSession(std::vector<uint8_t>& body, Exchange* exchange) {
  Reply reply;
  std::optional<Session> session = FindSession(body.data(), SimNow());
  if (!session) {
    std::optional<Fault> fault = TakeFault(kTypeUnknown);
    if (ApplyFaultBefore(fault, exchange, &reply, CodeAnswer(fault, exchange->time, nullptr))) return reply;
    reply.answer = PlainAnswer(kTypeRefused, kCodeUnknownSession);
    exchange->result = "refused 7";
    exchange->note = "unknown session";
    ApplyFaultAfter(fault, exchange, &reply);
    return reply;
  }
  const uint8_t* key = session->key.data();
  uint8_t* frame = body.data() + serverlink::kPrefixBytes;
  const size_t frameSize = body.size() - serverlink::kPrefixBytes;
  serverlink::Xtea128Crypt(frame, frameSize, key, frame, serverlink::XteaDirection::Decrypt);

  std::optional<Organisation> organisation = FindOrganisation(session->iks);
  serverlink::ExchangeRecord request;
  bool parsed = serverlink::ParseFrame(frame, frameSize, &request);
  if (parsed) exchange->type = request.type;
  if (organisation) exchange->organisation = OrganisationText(*organisation);

  std::optional<Fault> fault = TakeFault(parsed ? request.type : kTypeUnknown);
  if (ApplyFaultBefore(fault, exchange, &reply, CodeAnswer(fault, exchange->time, key))) return reply;

  serverlink::ExchangeRecord answer;
  if (!organisation) {
    // The organisation was removed while its session lived.
    reply.answer = PlainAnswer(kTypeRefused, kCodeUnknownSession);
    exchange->result = "refused 7";
    exchange->note = "organisation gone";
  } else if (!parsed) {
    answer = RefusalRecord(kCodeBadFormat);
    exchange->note = "the frame does not parse";
  } else if (OutsideTolerance(exchange->time)) {
    answer = RefusalRecord(kCodeClock);
    exchange->note = core::Format("request time %u, own time %lld", exchange->time, static_cast<long long>(SimNow()));
  } else {
    answer = AnswerInSession(*organisation, request, exchange);
  }
  if (fault && fault->action == FaultAction::Corrupt && !answer.payload.empty()) {
    answer.payload.back() ^= 0xFF;
    exchange->note += ", last payload byte flipped";
  }
  if (reply.answer.empty()) {
    reply.answer = RecordAnswer(exchange->time, key, answer);
    exchange->result = DescribeRecord(answer);
  }
  ApplyFaultAfter(fault, exchange, &reply);
  return reply;
}

void CountReply(const Exchange& exchange, const Reply& reply) {
  Count("requests");
  if (exchange.type >= 0) Count(core::Format("requests.%d", exchange.type));
  if (reply.drop) {
    Count("answers.dropped");
  } else if (!reply.answer.empty()) {
    Count(core::Format("answers.%d", reply.answer[0]));
  }
}

std::string LogLineOf(const Exchange& exchange) {
  std::string line = core::Format("op %02X", exchange.operation);
  line += exchange.type >= 0 ? core::Format(" type %d", exchange.type) : std::string(" type ?");
  line += " org " + (exchange.organisation.empty() ? std::string("?") : exchange.organisation);
  line += " -> " + exchange.result;
  if (!exchange.note.empty()) line += " (" + exchange.note + ")";
  return line;
}

}  // namespace

void SetHandlerSettings(const HandlerSettings& settings) {
  std::lock_guard<std::mutex> hold(gSettingsLock);
  gSettings = settings;
}

HandlerSettings GetHandlerSettings() {
  std::lock_guard<std::mutex> hold(gSettingsLock);
  return gSettings;
}

std::string CheckHeader(const serverlink::RequestHeader& header, uint32_t maxBody) {
  if (header.operation != serverlink::kOperationSessionStart && header.operation != serverlink::kOperationInSession) {
    return core::Format("unknown operation %02X", header.operation);
  }
  if (header.length == 0 || header.length % 16 != 0) return core::Format("body length %u", header.length);
  if (header.length > maxBody) return core::Format("body length %u above the limit", header.length);
  if (header.operation == serverlink::kOperationInSession && header.length <= serverlink::kPrefixBytes) {
    return core::Format("body length %u leaves no frame", header.length);
  }
  return {};
}

Reply RefuseHeader(const serverlink::RequestHeader& header, const std::string& reason) {
  Exchange exchange;
  exchange.operation = header.operation;
  exchange.time = header.time;
  exchange.result = "refused 11";
  exchange.note = reason;
  Reply reply;
  reply.answer = PlainAnswer(kTypeRefused, kCodeBadFormat);
  Count("refused.header");
  CountReply(exchange, reply);
  reply.logLine = LogLineOf(exchange);
  return reply;
}

Reply HandleRequest(const serverlink::RequestHeader& header, std::vector<uint8_t> body) {
  Exchange exchange;
  exchange.operation = header.operation;
  exchange.time = header.time;
  Reply reply;
  try {
    uint8_t key[serverlink::kOuterKeyBytes];
    if (!serverlink::MakeOuterKey(header.time, key)) {
      reply.answer = PlainAnswer(kTypeRefused, kCodeServerError);
      exchange.result = "refused 6";
      exchange.note = "no outer key";
    } else {
      serverlink::Xtea128Crypt(body.data(), body.size(), key, body.data(), serverlink::XteaDirection::Decrypt);
      serverlink::WipeBytes(key, sizeof key);
      reply = header.operation == serverlink::kOperationSessionStart ? SessionStart(body, &exchange)
                                                                      : InSession(body, &exchange);
    }
  } catch (...) {
    core::LogException("HandleRequest");
    reply = Reply();
    reply.answer = PlainAnswer(kTypeRefused, kCodeServerError);
    exchange.result = "refused 6";
    exchange.note = "exception";
  }
  CountReply(exchange, reply);
  reply.logLine = LogLineOf(exchange);
  return reply;
}

Reply HandleRequestBytes(const uint8_t* data, size_t size, uint32_t maxBody) {
  serverlink::RequestHeader header;
  if (size < serverlink::kHeaderBytes) {
    header.operation = size > 0 ? data[0] : 0;
    return RefuseHeader(header, core::Format("%zu bytes, no whole header", size));
  }
  header = serverlink::ReadRequestHeader(data);
  std::string refused = CheckHeader(header, maxBody);
  if (refused.empty() && header.length != size - serverlink::kHeaderBytes) {
    refused = core::Format("body of %zu bytes, header says %u", size - serverlink::kHeaderBytes, header.length);
  }
  if (!refused.empty()) return RefuseHeader(header, refused);
  return HandleRequest(header, std::vector<uint8_t>(data + serverlink::kHeaderBytes, data + size));
}

}  // namespace aissim
