// Requests within a session (see requests.h).
#include "requests.h"

#include <algorithm>

#include "core/format.h"
#include "routing.h"
#include "sim_clock.h"
#include "wire.h"

namespace aissim {

namespace {

constexpr uint8_t kTypeStatus = 3;
constexpr uint8_t kTypeVersionDigest = 8;
constexpr uint8_t kTypeVersionDownload = 9;
constexpr uint8_t kTypeReadEmail = 14;
constexpr uint8_t kTypeRegisterEmail = 16;
constexpr uint8_t kTypeListMessages = 40;
constexpr uint8_t kTypeFetchMessage = 41;
constexpr uint8_t kTypeDeleteMessage = 42;

constexpr size_t kDigestBytes = 64;

serverlink::ExchangeRecord Refused(uint8_t code, const std::string& note, Exchange* exchange) {
  if (!note.empty()) exchange->note = note;
  return RefusalRecord(code);
}

serverlink::ExchangeRecord WithPayload(uint8_t type, std::vector<uint8_t> payload) {
  serverlink::ExchangeRecord record;
  record.type = type;
  record.payload = std::move(payload);
  record.payloadLength = static_cast<uint32_t>(record.payload.size());
  return record;
}

// The waiting message of the organisation named by a 4-byte idm payload.
std::optional<StoredMessage> WaitingMessage(const Organisation& organisation,
                                            const serverlink::ExchangeRecord& request, Exchange* exchange,
                                            uint8_t* code) {
  if (request.payload.size() < 4) {
    *code = kCodeBadFormat;
    exchange->note = "no message identifier";
    return std::nullopt;
  }
  int64_t idm = static_cast<int64_t>(static_cast<uint32_t>(request.payload[0]) |
                                     static_cast<uint32_t>(request.payload[1]) << 8 |
                                     static_cast<uint32_t>(request.payload[2]) << 16 |
                                     static_cast<uint32_t>(request.payload[3]) << 24);
  std::optional<StoredMessage> message = LoadMessage(idm);
  if (!message || message->recipient != organisation.iks || message->state != kWaiting) {
    *code = kCodeNoRecord;
    exchange->note = core::Format("no waiting message %lld", static_cast<long long>(idm));
    return std::nullopt;
  }
  exchange->note = core::Format("idm %lld", static_cast<long long>(idm));
  return message;
}

serverlink::ExchangeRecord ListMessages(const Organisation& organisation, Exchange* exchange) {
  SweepExpired(SimNow());
  std::vector<int64_t> ids = WaitingIds(organisation.iks);
  if (ids.empty()) return Refused(kCodeNothingWaiting, "", exchange);
  std::vector<uint8_t> payload;
  for (int64_t id : ids) {
    for (int i = 0; i < 4; ++i) payload.push_back(static_cast<uint8_t>(static_cast<uint64_t>(id) >> (8 * i)));
  }
  exchange->note = core::Format("%zu waiting", ids.size());
  return WithPayload(kTypeList, std::move(payload));
}

serverlink::ExchangeRecord Status(const Organisation& organisation, const serverlink::ExchangeRecord& request,
                                  Exchange* exchange) {
  if (request.payload.size() != kDigestBytes) {
    return Refused(kCodeBadFormat, core::Format("digest of %zu bytes", request.payload.size()), exchange);
  }
  std::optional<PublishedVersion> version = GetPublishedVersion();
  if (version && version->required && version->digest != request.payload) {
    return Refused(kCodeUpdateRequired, "the program differs from the published one", exchange);
  }
  return AcceptedRecord(static_cast<uint8_t>(organisation.serviceCode));
}

}  // namespace

serverlink::ExchangeRecord AnswerInSession(const Organisation& organisation,
                                           const serverlink::ExchangeRecord& request, Exchange* exchange) {
  uint8_t code = 0;
  switch (request.type) {
    case kTypeListMessages:
      return ListMessages(organisation, exchange);
    case kTypeFetchMessage: {
      SweepExpired(SimNow());
      std::optional<StoredMessage> message = WaitingMessage(organisation, request, exchange, &code);
      return message ? message->record : RefusalRecord(code);
    }
    case kTypeDeleteMessage: {
      std::optional<StoredMessage> message = WaitingMessage(organisation, request, exchange, &code);
      if (!message) return RefusalRecord(code);
      MarkDeleted(*message, SimNow());
      return AcceptedRecord(0);
    }
    case kTypeStatus:
      return Status(organisation, request, exchange);
    case kTypeReadEmail: {
      // An organisation without an address gets a single zero byte: an
      // empty text for a reader that stops at the first zero.
      std::vector<uint8_t> address(organisation.email.begin(), organisation.email.end());
      if (address.empty()) address.push_back(0);
      return WithPayload(kTypeAccepted, std::move(address));
    }
    case kTypeRegisterEmail: {
      auto end = std::find(request.payload.begin(), request.payload.end(), 0);
      std::string address(request.payload.begin(), end);
      if (!SetEmail(organisation.iks, address)) return Refused(kCodeServerError, "the address was not stored", exchange);
      exchange->note = "e-mail " + address;
      return AcceptedRecord(0);
    }
    case kTypeVersionDigest:
    case kTypeVersionDownload: {
      std::optional<PublishedVersion> version = GetPublishedVersion();
      if (!version) return Refused(kCodeNoRecord, "no version published", exchange);
      return WithPayload(request.type, request.type == kTypeVersionDigest ? version->digest : version->bytes);
    }
    default:
      if (IsRoutedType(request.type)) return RouteMessage(organisation, request, exchange);
      return Refused(kCodeBadFormat, core::Format("unknown request type %d", request.type), exchange);
  }
}

}  // namespace aissim
