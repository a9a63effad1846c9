// The requests answered from the server's mailbox: "getlist",
// "getmessage", "deletemessage", and the answer for one fetched message,
// MakeMessageForIC (handlers.h). Called by the dispatcher on the folder
// pass thread.
#include <cstdint>
#include <string>
#include <vector>

#include "core/format.h"
#include "core/log.h"
#include "core/text.h"
#include "crypto/certificates.h"
#include "crypto/cms.h"
#include "crypto/verify.h"
#include "exchange/confirmation.h"
#include "exchange/intake.h"
#include "exchange/result_codes.h"
#include "exchange/session.h"
#include "folder/answer_document.h"
#include "folder/answer_file.h"
#include "folder/handlers.h"
#include "folder/request_types.h"
#include "link/frame.h"
#include "link/payload.h"

namespace folder {
namespace {

constexpr size_t kIdmBytes = 4;
// Requests naming one message by its identifier: the bit carries no field.
constexpr uint8_t kFlagsByIdentifier = serverlink::FlagBits("00000001");

const wchar_t kFetchFailed[] = L"Ошибка при получении сообщения";
const wchar_t kDeleteFailed[] = L"Ошибка при удалении сообщения ";  // followed by the identifier

std::wstring Wide(const std::string& text) { return core::ToWide(text, core::kCodePageUtf8); }

// The identifier in `message`: its decimal value up to the first
// non-digit; 0 when there is none.
int32_t IdentifierOf(const FolderRequest& request) {
  uint32_t value = 0;
  for (char c : request.message) {
    if (c < '0' || c > '9') break;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  return static_cast<int32_t>(value);
}

int32_t IdmAt(const std::vector<uint8_t>& list, size_t index) {
  const uint8_t* at = list.data() + index * kIdmBytes;
  return static_cast<int32_t>(static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
                              static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24);
}

// Sends a request of `type` naming the message `idm`; the answer replaces
// *record.
exchange::ReplyResult AskAbout(uint8_t type, int32_t idm, serverlink::ExchangeRecord* record) {
  *record = serverlink::ExchangeRecord{};
  record->flags = kFlagsByIdentifier;
  record->type = type;
  const uint32_t value = static_cast<uint32_t>(idm);
  record->payload = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
                     static_cast<uint8_t>(value >> 24)};
  record->payloadLength = kIdmBytes;
  exchange::ReplyResult result;
  exchange::SendMessageAndGetAnswer(&result, record);
  return result;
}

// Received types whose payload is a document enveloped for this
// organisation; above 100 compressed. 62 and 63 ask for a delivery
// confirmation of a 52 and a 53.
bool IsDocumentType(int type) {
  switch (type) {
    case 52: case 53: case 54: case 62: case 63:
    case 152: case 153: case 154: case 162: case 163:
      return true;
    default:
      return false;
  }
}

// The type an answer names: compression taken off, and a document asking
// for a confirmation named as the document it is.
int AnswerType(int received) {
  int type = received > 100 ? received - 100 : received;
  if (type == 62) return 52;
  if (type == 63) return 53;
  return type;
}

// The automatic refusal of a document that failed its check, and the
// status answer once the server took it.
void RefuseAutomatically(const FolderPassContext& context, const serverlink::ExchangeRecord& message,
                         uint8_t code) {
  serverlink::ExchangeRecord refusal;
  refusal.flags = serverlink::FlagBits("00101000");
  refusal.type = exchange::kTypeRefusalReply;
  refusal.number = message.number;
  refusal.iks = message.iks;
  refusal.payload = {code};
  refusal.payloadLength = 1;
  exchange::ReplyResult result;
  exchange::SendMessageAndGetAnswer(&result, &refusal);
  if (result.kind != exchange::kReplyAccepted) return;
  XMLCreate();
  XMLOpen(L"root");
  XMLElement(L"type", L"thestatus");
  XMLElement(L"number", Wide(serverlink::FormatNumber(message.number)));
  XMLElement(L"Status", L"rejectionconfirmed");
  XMLElement(L"message", L"Отправлено");
  XMLSave(context.exchangeFolder, context.iks);
}

MessageAnswer MakeAnswer(const FolderPassContext& context, serverlink::ExchangeRecord& record, int32_t idm) {
  XMLCreate();
  XMLOpen(L"root");
  const int received = record.type;
  int type = AnswerType(received);
  const std::wstring name = Wide(TypeNameFromCode(type));
  if (type == 55 || type == 56 || type == 58) {
    XMLElement(L"type", L"thestatus");
    XMLElement(L"status", name);
  } else {
    XMLElement(L"type", name);
  }
  core::LogValue("type", received);
  if (received != 71 && idm != 0) XMLElement(L"ID", std::to_wstring(idm));
  if (serverlink::HasFlag(record.flags, serverlink::kFlagNumber)) {
    std::string number = serverlink::FormatNumber(record.number);
    XMLElement(L"number", Wide(number));
    core::LogInfo(number);
  } else {
    XMLElement(L"refer", name + L"_" + AnswerTimeStamp());
  }
  if (serverlink::HasFlag(record.flags, serverlink::kFlagUnp)) XMLElement(L"unp", std::to_wstring(record.unp));
  if (serverlink::HasFlag(record.flags, serverlink::kFlagBranch)) {
    XMLElement(L"branch", std::to_wstring(record.branch));
  }
  if (serverlink::HasFlag(record.flags, serverlink::kFlagIks)) {
    XMLElement(L"iks", Wide(core::HexEncode(record.iks.data(), record.iks.size())));
  }
  if (!record.name.empty()) XMLElement(L"name", Wide(record.name));

  int checkStatus = 0;
  bool wantsConfirmation = false;
  std::wstring report;
  if (IsDocumentType(received)) {
    crypto::CertificateEntry own;
    crypto::GetSelectedEntry(&own);
    crypto::DataBlock plain;
    crypto::DecryptFailure failure = crypto::DecryptFailure::None;
    if (crypto::DecryptMessage(crypto::MakeBlock(record.payload), own.keyId, &plain, &failure)) {
      core::LogValue("After DM", static_cast<int64_t>(plain.count));
      record.payload = crypto::BlockBytes(plain);
      record.payloadLength = static_cast<uint32_t>(record.payload.size());
      serverlink::ExpandPayload(&record);
      core::LogValue("After CC", static_cast<int64_t>(record.payload.size()));
      if (record.type == 62 || record.type == 63) {
        record.type = static_cast<uint8_t>(record.type - 10);
        wantsConfirmation = true;
      }
      int signatures = 0;
      crypto::DataBlock content;
      uint8_t verdict = crypto::kVerdictNone;
      if (crypto::VerifyMessageSignature(crypto::MakeBlock(record.payload), &signatures, &content, &report,
                                         &verdict) < 1) {
        XMLElement(L"VerifySign", L"false");
        checkStatus = verdict;
      } else {
        XMLElement(L"VerifySign", L"true");
        checkStatus = 1;
        crypto::DataBlock certificate;
        if (crypto::GetCertFromSignedMessage(crypto::MakeBlock(record.payload), record.iks, &certificate)) {
          std::vector<uint8_t> carried = crypto::BlockBytes(certificate);
          const uint32_t length = static_cast<uint32_t>(carried.size());
          std::vector<uint8_t> field = {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
                                        static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 24)};
          field.insert(field.end(), carried.begin(), carried.end());
          XMLElement(L"certificate", Wide(core::Base64Encode(field)));
        }
      }
      XMLElement(L"VerifyInfo", report);
    } else if (failure == crypto::DecryptFailure::NoKeyMedium || failure == crypto::DecryptFailure::PinRefused) {
      // This machine's key, not the sender's document: nothing is answered
      // or refused until the key opens it.
      core::LogError(failure == crypto::DecryptFailure::PinRefused
                         ? "MakeMessageForIC: the PIN does not open the key; the message waits on the server"
                         : "MakeMessageForIC: no key medium; the message waits on the server",
                     idm);
      exchange::CheckContainer();
      return MessageAnswer::KeyUnavailable;
    } else {
      checkStatus = exchange::kRefusalNotDecrypted;
    }
  }
  if (type == 56 && !record.payload.empty()) {
    XMLElement(L"message", exchange::RefusalText(record.payload[0]));
  } else {
    XMLElement(L"message", Wide(core::Base64Encode(record.payload)));
  }
  if (checkStatus >= 2) wantsConfirmation = false;

  MessageAnswer answer = MessageAnswer::NotConfirmed;
  serverlink::ExchangeRecord confirmed;
  if (wantsConfirmation) {
    confirmed.flags = serverlink::FlagBits(serverlink::kFlagNumber);
    confirmed.number = record.number;
    confirmed.iks = record.iks;
    confirmed.payload = record.payload;
    confirmed.payloadLength = record.payloadLength;
  }
  // The confirmation builds no answer of its own: the document above
  // stays in the buffer while it is sent.
  if (!wantsConfirmation || exchange::MakeDeliveryConfirmation(confirmed, report)) {
    answer = XMLSave(context.exchangeFolder, context.iks) == 0 ? MessageAnswer::Saved : MessageAnswer::NotSaved;
  }
  if (checkStatus > 1 && type == 52) RefuseAutomatically(context, record, static_cast<uint8_t>(checkStatus));
  return answer;
}

}  // namespace

MessageAnswer MakeMessageForIC(const FolderPassContext& context, serverlink::ExchangeRecord record, int32_t idm) {
  core::LogInfo("MakeMessageForIC-Begin");
  MessageAnswer answer = MessageAnswer::NotSaved;
  try {
    answer = MakeAnswer(context, record, idm);
  } catch (...) {
    core::LogException("MakeMessageForIC");
  }
  core::LogInfo("MakeMessageForIC-End");
  return answer;
}

void GetList(const FolderPassContext& context, const FolderRequest& request) {
  try {
    std::vector<uint8_t> list;
    // Without a link nothing was asked: the request waits for the next pass.
    if (!exchange::CTS(&list)) return;
    const size_t count = list.size() / kIdmBytes;
    core::LogInfo("GetList - Success");
    core::LogValue("Total messages:", static_cast<int64_t>(count));
    // The request is finished once every message was answered. One whose
    // answer could not be saved, or a link lost on the way, keeps it: the
    // messages wait on the server and the next pass asks again.
    bool complete = true;
    for (size_t i = 0; i < count; ++i) {
      const int32_t idm = IdmAt(list, i);
      serverlink::ExchangeRecord record;
      exchange::ReplyResult result = AskAbout(exchange::kTypeGetMessage, idm, &record);
      if (result.kind == exchange::kReplyRecord) {
        const MessageAnswer answer = MakeMessageForIC(context, std::move(record), idm);
        // Without our key the documents after it cannot be opened either.
        if (answer == MessageAnswer::KeyUnavailable) {
          complete = false;
          break;
        }
        if (answer == MessageAnswer::NotSaved) complete = false;
      }
      if (!exchange::Connected()) {
        complete = false;
        break;
      }
      if (result.kind != exchange::kReplyRecord &&
          WriteErrorAnswer(context.exchangeFolder, context.iks, kFetchFailed, "", result.code) != 0) {
        complete = false;
      }
    }
    if (complete) FinishRequest(request);
  } catch (...) {
    core::LogException("GetList");
  }
}

void GetOneMessage(const FolderPassContext& context, const FolderRequest& request) {
  try {
    const int32_t idm = IdentifierOf(request);
    serverlink::ExchangeRecord record;
    exchange::ReplyResult result = AskAbout(exchange::kTypeGetMessage, idm, &record);
    if (result.kind == exchange::kReplyRecord) {
      const MessageAnswer answer = MakeMessageForIC(context, std::move(record), idm);
      if (answer == MessageAnswer::Saved || answer == MessageAnswer::NotConfirmed) FinishRequest(request);
      return;
    }
    // No answer from the server: the request waits for the next pass.
    if (!exchange::Connected()) return;
    RefuseRequest(context, request, kFetchFailed, "", result.code);
  } catch (...) {
    core::LogException("GetOneMessage");
  }
}

void DeleteOneMessage(const FolderPassContext& context, const FolderRequest& request) {
  try {
    const int32_t idm = IdentifierOf(request);
    serverlink::ExchangeRecord record;
    exchange::ReplyResult result = AskAbout(exchange::kTypeDeleteMessage, idm, &record);
    if (result.kind == exchange::kReplyAccepted) {
      FinishRequest(request);
      return;
    }
    // No answer from the server: the request waits for the next pass.
    if (!exchange::Connected()) return;
    RefuseRequest(context, request, kDeleteFailed + std::to_wstring(idm), "", result.code);
  } catch (...) {
    core::LogException("DeleteOneMessage");
  }
}

}  // namespace folder
