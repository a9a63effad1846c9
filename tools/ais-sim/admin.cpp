// The admin API (see admin.h and README.md).
#include "admin.h"

#include <httplib.h>

#include <cctype>
#include <memory>
#include <nlohmann/json.hpp>
#include <thread>

#include "core/format.h"
#include "core/log.h"
#include "core/text.h"
#include "counters.h"
#include "crypto/provider/provider.h"
#include "faults.h"
#include "handler.h"
#include "link/frame.h"
#include "link/payload.h"
#include "pki.h"
#include "routing.h"
#include "server.h"
#include "sessions.h"
#include "sim_clock.h"
#include "sim_log.h"
#include "state.h"

namespace aissim {

namespace {

using nlohmann::json;

std::unique_ptr<httplib::Server> gServer;
std::thread gThread;

// A request that cannot be carried out, with its HTTP status.
struct ApiError {
  int status;          // 400, 404, 409 or 500
  std::string message; // shown to the caller
};

json Body(const httplib::Request& request) {
  if (request.body.empty()) return json::object();
  json body = json::parse(request.body, nullptr, false);
  if (body.is_discarded() || !body.is_object()) throw ApiError{400, "the body is not a JSON object"};
  return body;
}

void Answer(httplib::Response& response, const json& value, int status = 200) {
  response.status = status;
  response.set_content(value.dump(2) + "\n", "application/json; charset=utf-8");
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool AllDigits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// An organisation named by its key identifier (40 hex digits), by the name
// of a test-PKI organisation, or by "УНП" or "УНП/branch".
std::optional<Organisation> Resolve(const std::string& reference) {
  if (core::IsHexText(reference, 40)) return FindOrganisation(Upper(reference));
  PkiOrganisation pki;
  if (FindPkiByName(reference, &pki)) return FindOrganisation(pki.iks);
  size_t slash = reference.find('/');
  std::string unp = reference.substr(0, slash);
  std::string branch = slash == std::string::npos ? "0" : reference.substr(slash + 1);
  if (AllDigits(unp) && AllDigits(branch) && unp.size() <= 9 && branch.size() <= 5) {
    return FindOrganisationByUnp(std::stoi(unp), static_cast<uint16_t>(std::stoi(branch)));
  }
  return std::nullopt;
}

Organisation Required(const std::string& reference) {
  std::optional<Organisation> found = Resolve(reference);
  if (!found) throw ApiError{404, "no organisation " + reference};
  return *found;
}

json OrganisationJson(const Organisation& organisation) {
  return json{{"iks", organisation.iks},
              {"unp", organisation.unp},
              {"branch", organisation.branch},
              {"name", organisation.name},
              {"serviceCode", organisation.serviceCode},
              {"email", organisation.email},
              {"registered", organisation.registered}};
}

const char* StateName(int state) {
  switch (state) {
    case kWaiting:
      return "waiting";
    case kDeleted:
      return "deleted";
    case kExpired:
      return "expired";
    default:
      return "?";
  }
}

json MessageJson(const StoredMessage& message, bool withPayload) {
  const serverlink::ExchangeRecord& record = message.record;
  json value{{"idm", message.idm},
             {"recipient", message.recipient},
             {"sender", message.sender},
             {"type", record.type},
             {"family", message.family},
             {"number", message.numberText},
             {"state", StateName(message.state)},
             {"created", message.created},
             {"changed", message.changed},
             {"original", message.original},
             {"senderUnp", record.unp},
             {"senderBranch", record.branch},
             {"senderName", record.name},
             {"payloadBytes", record.payload.size()}};
  if (serverlink::HasFlag(record.flags, serverlink::kFlagExpiry)) value["expiry"] = record.expiry;
  if (withPayload) value["payload"] = core::Base64Encode(record.payload);
  return value;
}

json MessagesJson(const std::vector<StoredMessage>& messages, bool withPayload) {
  json list = json::array();
  for (const StoredMessage& message : messages) list.push_back(MessageJson(message, withPayload));
  return list;
}

bool WantsPayload(const httplib::Request& request) {
  return request.has_param("payload") && request.get_param_value("payload") != "0";
}

// POST /organisations: {"pki": name} or {"certificate": Base64 of DER or
// PEM}, optional "branch", "serviceCode".
json RegisterOrganisation(const json& body) {
  crypto::provider::Bytes der;
  if (body.contains("pki")) {
    PkiOrganisation pki;
    if (!FindPkiByName(body.value("pki", ""), &pki)) throw ApiError{404, "no test-PKI organisation " + body.value("pki", "")};
    der = pki.certificate;
  } else if (body.contains("certificate")) {
    if (crypto::provider::QueryCertificate(core::Base64Decode(body.value("certificate", "")), &der) != 0) {
      throw ApiError{400, "the certificate does not parse"};
    }
  } else {
    throw ApiError{400, "give \"pki\" or \"certificate\""};
  }
  CertificateFacts facts;
  if (!ReadCertificateFacts(der, &facts)) throw ApiError{400, "the certificate has no key identifier"};
  if (!facts.hasUnp) throw ApiError{400, "the certificate carries no УНП"};
  Organisation organisation;
  organisation.iks = facts.iks;
  organisation.unp = facts.unp;
  organisation.branch = static_cast<uint16_t>(body.value("branch", 0));
  organisation.name = facts.name;
  organisation.certificate = der;
  organisation.serviceCode = body.value("serviceCode", kDefaultServiceCode);
  organisation.registered = SimNow();
  if (std::optional<Organisation> known = FindOrganisation(facts.iks)) {
    organisation.email = known->email;
    organisation.registered = known->registered;
    if (!body.contains("branch")) organisation.branch = known->branch;
    if (!body.contains("serviceCode")) organisation.serviceCode = known->serviceCode;
  }
  if (!SaveOrganisation(organisation)) throw ApiError{500, "not stored"};
  LogLine("admin: organisation " + facts.iks + " registered");
  return OrganisationJson(organisation);
}

// A test-PKI organisation as a sender, registered on first use.
Organisation SenderFromPki(const std::string& name, PkiOrganisation* pki) {
  if (!FindPkiByName(name, pki)) throw ApiError{404, "no test-PKI organisation " + name};
  if (std::optional<Organisation> known = FindOrganisation(pki->iks)) return *known;
  json registered = RegisterOrganisation(json{{"pki", name}});
  return Required(registered["iks"].get<std::string>());
}

serverlink::NumberRecord NewNumber(int32_t unp) {
  static std::atomic<int32_t> sequence{static_cast<int32_t>(SimNow() % 100000000)};
  serverlink::NumberRecord number;
  number.first = unp;
  number.second = sequence.fetch_add(1) % 1000000000;
  return number;
}

// POST /messages: a message from a test-PKI organisation into a mailbox.
json InjectMessage(const json& body) {
  PkiOrganisation pki;
  Organisation sender = SenderFromPki(body.value("from", ""), &pki);
  Organisation recipient = Required(body.value("to", ""));
  int type = body.value("type", 52);
  if (body.value("confirm", false) && (type == 52 || type == 53)) type += 10;
  if (type < 1 || type > 254) throw ApiError{400, "type out of range"};

  serverlink::ExchangeRecord record;
  record.type = static_cast<uint8_t>(type);
  if (body.contains("number")) {
    std::optional<serverlink::NumberRecord> number = serverlink::ParseNumber(body.value("number", ""));
    if (!number) throw ApiError{400, "the number is not 27 digits"};
    record.number = *number;
  } else {
    record.number = NewNumber(sender.unp);
  }
  record.flags = serverlink::FlagBits(serverlink::kFlagNumber);
  if (body.contains("expiry")) {
    record.expiry = body.value("expiry", 0u);
    record.flags |= serverlink::FlagBits(serverlink::kFlagExpiry);
  } else if (body.contains("expiryDays")) {
    record.expiry = static_cast<uint32_t>(SimNow() + body.value("expiryDays", 0) * 86400LL);
    record.flags |= serverlink::FlagBits(serverlink::kFlagExpiry);
  }

  std::vector<uint8_t> content;
  if (body.contains("contentBase64")) {
    content = core::Base64Decode(body.value("contentBase64", ""));
  } else {
    std::string text = body.value("content", "");
    content.assign(text.begin(), text.end());
  }
  const int family = TypeFamily(type);
  const bool raw = body.value("raw", false);
  if (!raw && (family == 52 || family == 53 || family == 54)) {
    // As a client sends it: signed, compressed when long, enveloped for
    // the recipient's certificate.
    std::vector<uint8_t> signedMessage;
    std::string error;
    if (!SignAs(pki, content, SimNow(), &signedMessage, &error)) throw ApiError{500, error};
    record.payload = std::move(signedMessage);
    serverlink::CompressRecordPayload(&record);
    std::vector<uint8_t> envelope;
    if (!EncryptFor(recipient.certificate, record.payload, &envelope)) throw ApiError{500, "the recipient's certificate cannot be encrypted for"};
    record.payload = std::move(envelope);
  } else if (!raw && family == 73 && content.empty()) {
    // A certificate request carries the asker's public key.
    crypto::provider::CertInfo info;
    if (crypto::provider::ReadCertificate(pki.certificate, &info) != 0) throw ApiError{500, "own certificate unreadable"};
    record.payload = info.publicKeyInfo;
  } else {
    record.payload = std::move(content);
  }
  record.payloadLength = static_cast<uint32_t>(record.payload.size());
  int64_t idm = Deliver(sender, recipient, record, 0);
  if (idm == 0) throw ApiError{500, "not stored"};
  LogLine(core::Format("admin: message %lld of type %d from %s put into the mailbox of %09d/%d", static_cast<long long>(idm),
                       record.type, pki.name.c_str(), recipient.unp, recipient.branch));
  return json{{"idm", idm}, {"type", record.type}, {"number", serverlink::FormatNumber(record.number)},
              {"payloadBytes", record.payload.size()}};
}

json ArmFaultFrom(const json& body) {
  std::optional<FaultAction> action = FaultActionFromName(body.value("action", ""));
  if (!action) throw ApiError{400, "action must be drop, code, delay, garbage, truncate or corrupt"};
  Fault fault;
  fault.action = *action;
  fault.remaining = body.value("count", 1);
  if (fault.remaining < 1) throw ApiError{400, "count must be at least 1"};
  fault.type = body.contains("type") && !body["type"].is_null() ? body.value("type", kAnyType) : kAnyType;
  fault.code = body.value("code", 6);
  if (fault.code < 0 || fault.code > 255) throw ApiError{400, "code out of range"};
  fault.kind = body.value("kind", 255);
  if (fault.kind != 255 && fault.kind != 174) throw ApiError{400, "kind must be 255 or 174"};
  fault.plain = body.value("plain", false);
  fault.delayMs = body.contains("ms") ? body.value("ms", 0) : static_cast<int>(body.value("seconds", 0.0) * 1000);
  ArmFault(fault);
  LogLine(core::Format("admin: fault %s armed for %d request(s) of type %d", FaultActionName(fault.action),
                       fault.remaining, fault.type));
  return json{{"armed", ArmedFaults().size()}};
}

json FaultsJson() {
  json list = json::array();
  for (const Fault& fault : ArmedFaults()) {
    list.push_back(json{{"action", FaultActionName(fault.action)},
                        {"type", fault.type},
                        {"count", fault.remaining},
                        {"code", fault.code},
                        {"kind", fault.kind},
                        {"plain", fault.plain},
                        {"ms", fault.delayMs}});
  }
  return list;
}

json PublishFrom(const json& body) {
  std::vector<uint8_t> bytes = core::Base64Decode(body.value("contentBase64", ""));
  if (bytes.empty()) throw ApiError{400, "give the program as \"contentBase64\""};
  std::string error;
  std::optional<PublishedVersion> version = PublishProgram(std::move(bytes), body.value("required", true), &error);
  if (!version) throw ApiError{500, error};
  return json{{"digest", core::HexEncode(version->digest)}, {"bytes", version->bytes.size()}, {"required", version->required}};
}

json SettingsJson() {
  HandlerSettings settings = GetHandlerSettings();
  return json{{"clockTolerance", settings.clockTolerance},
              {"registration", settings.registrationAllowed},
              {"registrationRefusal", settings.registrationRefusal},
              {"clockShift", ClockShift()}};
}

// Runs a route body, turning ApiError and JSON errors into answers.
template <typename Work>
void Guarded(httplib::Response& response, Work work) {
  try {
    work();
  } catch (const ApiError& error) {
    Answer(response, json{{"error", error.message}}, error.status);
  } catch (const json::exception& error) {
    Answer(response, json{{"error", std::string("bad value: ") + error.what()}}, 400);
  } catch (...) {
    core::LogException("AdminApi");
    Answer(response, json{{"error", "internal error"}}, 500);
  }
}

void AddRoutes(httplib::Server& server, std::atomic<bool>* stop) {
  using Request = const httplib::Request&;
  using Response = httplib::Response&;

  server.Get("/status", [](Request, Response response) {
    Guarded(response, [&] {
      Answer(response, json{{"sessions", SessionCount()},
                            {"activeConnections", ActiveConnections()},
                            {"organisations", ListOrganisations().size()},
                            {"pki", PkiLoaded()},
                            {"settings", SettingsJson()}});
    });
  });
  server.Get("/counters", [](Request, Response response) {
    Guarded(response, [&] { Answer(response, json(CounterSnapshot())); });
  });
  server.Post("/counters/reset", [](Request, Response response) {
    Guarded(response, [&] {
      ResetCounters();
      Answer(response, json::object());
    });
  });

  server.Get("/organisations", [](Request, Response response) {
    Guarded(response, [&] {
      json list = json::array();
      for (const Organisation& organisation : ListOrganisations()) list.push_back(OrganisationJson(organisation));
      Answer(response, list);
    });
  });
  server.Post("/organisations", [](Request request, Response response) {
    Guarded(response, [&] { Answer(response, RegisterOrganisation(Body(request)), 201); });
  });
  server.Get(R"(/organisations/([^/]+))", [](Request request, Response response) {
    Guarded(response, [&] { Answer(response, OrganisationJson(Required(request.matches[1]))); });
  });
  server.Post(R"(/organisations/([^/]+)/service-code)", [](Request request, Response response) {
    Guarded(response, [&] {
      Organisation organisation = Required(request.matches[1]);
      int code = Body(request).at("code").get<int>();
      if (code < 0 || code > 255) throw ApiError{400, "code out of range"};
      SetServiceCode(organisation.iks, code);
      LogLine(core::Format("admin: service code of %09d/%d set to %d", organisation.unp, organisation.branch, code));
      Answer(response, OrganisationJson(Required(organisation.iks)));
    });
  });

  server.Get("/mailboxes", [](Request request, Response response) {
    Guarded(response, [&] {
      json boxes = json::object();
      for (const Organisation& organisation : ListOrganisations()) {
        boxes[organisation.iks] = MessagesJson(ListMessages(organisation.iks, "", true), WantsPayload(request));
      }
      Answer(response, boxes);
    });
  });
  server.Get(R"(/mailboxes/([^/]+))", [](Request request, Response response) {
    Guarded(response, [&] {
      Organisation organisation = Required(request.matches[1]);
      bool all = request.has_param("all") && request.get_param_value("all") != "0";
      Answer(response, MessagesJson(ListMessages(organisation.iks, "", !all), WantsPayload(request)));
    });
  });
  server.Get(R"(/received/([^/]+))", [](Request request, Response response) {
    Guarded(response, [&] {
      Organisation organisation = Required(request.matches[1]);
      Answer(response, MessagesJson(ListMessages("", organisation.iks, false), WantsPayload(request)));
    });
  });
  server.Get(R"(/messages/(\d+))", [](Request request, Response response) {
    Guarded(response, [&] {
      std::optional<StoredMessage> message = LoadMessage(std::stoll(request.matches[1]));
      if (!message) throw ApiError{404, "no such message"};
      Answer(response, MessageJson(*message, true));
    });
  });
  server.Post("/messages", [](Request request, Response response) {
    Guarded(response, [&] { Answer(response, InjectMessage(Body(request)), 201); });
  });
  server.Post("/expire", [](Request, Response response) {
    Guarded(response, [&] { Answer(response, json{{"expired", SweepExpired(SimNow())}}); });
  });

  server.Get("/faults", [](Request, Response response) { Guarded(response, [&] { Answer(response, FaultsJson()); }); });
  server.Post("/faults", [](Request request, Response response) {
    Guarded(response, [&] { Answer(response, ArmFaultFrom(Body(request)), 201); });
  });
  server.Delete("/faults", [](Request, Response response) {
    Guarded(response, [&] {
      ClearFaults();
      Answer(response, json::object());
    });
  });

  server.Post("/sessions/expire", [](Request, Response response) {
    Guarded(response, [&] {
      size_t expired = ExpireAllSessions();
      LogLine(core::Format("admin: %zu session(s) expired", expired));
      Answer(response, json{{"expired", expired}});
    });
  });
  server.Post("/clock", [](Request request, Response response) {
    Guarded(response, [&] {
      SetClockShift(Body(request).at("shift").get<int64_t>());
      LogLine(core::Format("admin: clock shifted by %lld s", static_cast<long long>(ClockShift())));
      Answer(response, json{{"shift", ClockShift()}, {"now", SimNow()}});
    });
  });
  server.Post("/settings", [](Request request, Response response) {
    Guarded(response, [&] {
      json body = Body(request);
      HandlerSettings settings = GetHandlerSettings();
      settings.clockTolerance = body.value("clockTolerance", settings.clockTolerance);
      settings.registrationAllowed = body.value("registration", settings.registrationAllowed);
      settings.registrationRefusal = body.value("registrationRefusal", settings.registrationRefusal);
      SetHandlerSettings(settings);
      Answer(response, SettingsJson());
    });
  });
  server.Post("/version", [](Request request, Response response) {
    Guarded(response, [&] { Answer(response, PublishFrom(Body(request)), 201); });
  });
  server.Delete("/version", [](Request, Response response) {
    Guarded(response, [&] {
      WithdrawVersion();
      Answer(response, json::object());
    });
  });
  server.Post("/shutdown", [stop](Request, Response response) {
    LogLine("admin: shutdown");
    stop->store(true);
    Answer(response, json::object());
  });
}

}  // namespace

int StartAdmin(int port, std::atomic<bool>* stop) {
  gServer = std::make_unique<httplib::Server>();
  AddRoutes(*gServer, stop);
  int bound = port;
  if (port == 0) {
    bound = gServer->bind_to_any_port("127.0.0.1");
    if (bound <= 0) return 0;
  } else if (!gServer->bind_to_port("127.0.0.1", port)) {
    return 0;
  }
  gThread = std::thread([] { gServer->listen_after_bind(); });
  return bound;
}

void StopAdmin() {
  if (!gServer) return;
  gServer->stop();
  if (gThread.joinable()) gThread.join();
  gServer.reset();
}

}  // namespace aissim
