// Routing between organisations (see routing.h).
#include "routing.h"

#include "checks.h"
#include "core/format.h"
#include "core/text.h"
#include "counters.h"
#include "link/frame.h"
#include "sim_clock.h"
#include "wire.h"

namespace aissim {

namespace {

constexpr uint8_t kTypeDelivered = 55;
constexpr uint8_t kTypeExpired = 58;

// Families whose messages are documents: their senders hear of delivery
// and expiry, and they need the sender's right to send.
bool IsDocumentFamily(int family) { return family == 52 || family == 53; }

// Service codes below this forbid sending documents.
constexpr int kFirstSendingServiceCode = 3;

// The families a message of this family may answer, found by number.
std::vector<int> OriginalFamilies(int family) {
  switch (family) {
    case 53:
    case 54:
      return {52, 53};
    case 56:
      return {52, 53, 73};
    case 74:
      return {73};
    default:
      return {};
  }
}

std::string Describe(const Organisation& organisation) {
  return core::Format("%09d/%d", organisation.unp, organisation.branch);
}

serverlink::ExchangeRecord Refused(uint8_t code, const std::string& note, Exchange* exchange) {
  exchange->note = note;
  Count(core::Format("routing.refused.%d", code));
  return RefusalRecord(code);
}

// The recipient named by the record: by key identifier, else by УНП and
// branch.
std::optional<Organisation> NamedRecipient(const serverlink::ExchangeRecord& request) {
  if (serverlink::HasFlag(request.flags, serverlink::kFlagIks)) {
    return FindOrganisation(core::HexEncode(request.iks.data(), request.iks.size()));
  }
  if (serverlink::HasFlag(request.flags, serverlink::kFlagUnp)) {
    uint16_t branch = serverlink::HasFlag(request.flags, serverlink::kFlagBranch) ? request.branch : 0;
    return FindOrganisationByUnp(request.unp, branch);
  }
  return std::nullopt;
}

// Fills the fields that name `from` into a record.
void NameSender(const Organisation& from, serverlink::ExchangeRecord* record) {
  uint8_t flags = serverlink::FlagBits(serverlink::kFlagUnp) | serverlink::FlagBits(serverlink::kFlagBranch) |
                  serverlink::FlagBits(serverlink::kFlagIks) | serverlink::FlagBits(serverlink::kFlagName);
  flags |= record->flags & (serverlink::FlagBits(serverlink::kFlagNumber) | serverlink::FlagBits(serverlink::kFlagExpiry));
  record->flags = flags;
  record->unp = from.unp;
  record->branch = from.branch;
  std::vector<uint8_t> iks = core::HexDecode(from.iks);
  record->iks.fill(0);
  std::copy_n(iks.begin(), std::min(iks.size(), record->iks.size()), record->iks.begin());
  record->name = from.name.substr(0, 255);
  record->payloadLength = static_cast<uint32_t>(record->payload.size());
}

// A status message of the server to the sender of `message`, naming the
// organisation the message was addressed to.
void NotifySender(const StoredMessage& message, uint8_t type, int64_t now) {
  if (message.sender.empty() || !IsDocumentFamily(message.family)) return;
  std::optional<Organisation> addressee = FindOrganisation(message.recipient);
  if (!addressee) return;
  serverlink::ExchangeRecord status;
  status.type = type;
  if (!message.numberText.empty()) {
    status.flags = serverlink::FlagBits(serverlink::kFlagNumber);
    status.number = message.record.number;
  }
  NameSender(*addressee, &status);
  StoredMessage made;
  made.recipient = message.sender;
  made.record = status;
  made.created = now;
  made.original = message.idm;
  if (AddMessage(&made)) Count(core::Format("status.%d", type));
}

}  // namespace

bool IsRoutedType(int type) {
  switch (type) {
    case 52: case 62: case 152: case 162:
    case 53: case 63: case 153: case 163:
    case 54: case 154:
    case 56: case 73: case 74:
      return true;
    default:
      return false;
  }
}

int64_t Deliver(const Organisation& sender, const Organisation& recipient, serverlink::ExchangeRecord record,
                int64_t original) {
  NameSender(sender, &record);
  StoredMessage message;
  message.recipient = recipient.iks;
  message.sender = sender.iks;
  message.record = std::move(record);
  message.created = SimNow();
  message.original = original;
  if (!AddMessage(&message)) return 0;
  Count("routing.delivered");
  return message.idm;
}

serverlink::ExchangeRecord RouteMessage(const Organisation& sender, const serverlink::ExchangeRecord& request,
                                        Exchange* exchange) {
  const int family = TypeFamily(request.type);
  const bool hasNumber = serverlink::HasFlag(request.flags, serverlink::kFlagNumber);
  const std::string numberText = hasNumber ? serverlink::FormatNumber(request.number) : std::string();
  if (IsDocumentFamily(family) && sender.serviceCode < kFirstSendingServiceCode) {
    return Refused(kCodeNoRights, core::Format("service code %d forbids sending", sender.serviceCode), exchange);
  }
  if ((IsDocumentFamily(family) || family == 54) && !hasNumber) {
    return Refused(kCodeBadFormat, "the document has no number", exchange);
  }

  // A reply goes back to whoever sent the original to this organisation;
  // anything else to the organisation the record names.
  std::optional<StoredMessage> original = FindOriginal(sender.iks, numberText, OriginalFamilies(family));
  std::optional<Organisation> recipient =
      original ? FindOrganisation(original->sender) : NamedRecipient(request);
  if (!recipient) return Refused(kCodeUnknownRecipient, "no such recipient", exchange);

  ContentCheck check = GetHandlerSettings().contentChecks ? CheckContent(request, recipient->iks) : ContentCheck{};
  if (!check.ok) return Refused(kCodeBadFormat, check.reason, exchange);

  serverlink::ExchangeRecord answer;
  WithStateLock([&] {
    if (hasNumber && SentBefore(sender.iks, numberText, family, recipient->iks)) {
      answer = Refused(kCodeAlreadyPresent, "already sent " + numberText, exchange);
      return;
    }
    int64_t idm = Deliver(sender, *recipient, request, original ? original->idm : 0);
    if (idm == 0) {
      answer = Refused(kCodeServerError, "not stored", exchange);
      return;
    }
    exchange->note = core::Format("to %s as idm %lld%s%s", Describe(*recipient).c_str(), static_cast<long long>(idm),
                                  original ? ", a reply" : "", check.opened ? ", signatures verified" : "");
    answer = AcceptedRecord(0);
  });
  return answer;
}

void MarkDeleted(const StoredMessage& message, int64_t now) {
  WithStateLock([&] {
    std::optional<StoredMessage> current = LoadMessage(message.idm);
    if (!current || current->state != kWaiting) return;
    SetMessageState(message.idm, kDeleted, now);
    NotifySender(*current, kTypeDelivered, now);
  });
}

int SweepExpired(int64_t now) {
  int expired = 0;
  WithStateLock([&] {
    for (const StoredMessage& message : ExpiredWaiting(now)) {
      SetMessageState(message.idm, kExpired, now);
      NotifySender(message, kTypeExpired, now);
      ++expired;
    }
  });
  if (expired > 0) Count("routing.expired", expired);
  return expired;
}

}  // namespace aissim
