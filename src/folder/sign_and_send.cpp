// "signsingle" (PSSingle: sign only) and "signfirst" / "signnext" (PSS:
// sign, encrypt for the recipients and send), see handlers.h and
// docs/exchange-folder.md. Called by the folder pass's dispatcher.
#include <string>
#include <vector>

#include "core/log.h"
#include "core/text.h"
#include "crypto/certificates.h"
#include "crypto/cms.h"
#include "crypto/verify.h"
#include "exchange/session.h"
#include "folder/answer_document.h"
#include "folder/answer_file.h"
#include "folder/handlers.h"
#include "folder/request_ending.h"
#include "folder/request_record.h"
#include "folder/request_types.h"
#include "link/payload.h"

namespace folder {

namespace {

const wchar_t kNoRights[] = L"Нет прав на отправку файлов";
const wchar_t kSignError[] = L"Ошибка подписания файла";

constexpr int kTypeSignFirst = 50;
// The server takes no documents from this organisation now: no link to
// the operator (14), no funds or blocked (15).
constexpr uint8_t kCodeNoOperatorLink = 14;
constexpr uint8_t kCodeBlocked = 15;
// After 14 or 15 the link is checked again this often.
constexpr int kSignFirstRetryMs = 300000;
// A delivery confirmation wanted adds this to the wire type (52 → 62).
constexpr int kConfirmationTypeOffset = 10;

// Whether the organisation may send documents (the service status the
// server last gave). False when the handler is done: with status 0 or
// below the request waits; with 1 or 2 it is refused with two error
// answers, one without and one with its number, and deleted once both are
// saved.
bool MaySend(const FolderPassContext& context, const FolderRequest& request) {
  const int status = exchange::ServiceStatus();
  if (status <= 0) return false;
  if (status > 2) return true;
  const bool first = WriteErrorAnswer(context.exchangeFolder, context.iks, kNoRights, "", 0) == 0;
  const bool second = WriteErrorAnswer(context.exchangeFolder, context.iks, kNoRights, request.number, 0) == 0;
  if (first && second) FinishRequest(request);
  return false;
}

// Decodes the document, converts the request and signs the document with
// the selected certificate. False when the handler is done: a missing key
// medium leaves the request waiting, any other failure refuses it.
bool SignRequest(const FolderPassContext& context, const FolderRequest& request,
                 serverlink::ExchangeRecord* record, std::vector<uint8_t>* signedMessage) {
  const std::vector<uint8_t> document = core::Base64Decode(request.message);
  if (!RecordFromRequest(request, record)) {
    RefuseRequest(context, request, kConversionError, request.number, 0);
    return false;
  }
  crypto::CertificateEntry own;
  crypto::GetSelectedEntry(&own);
  crypto::DataBlock signedBlock;
  const uint32_t error = crypto::SignMessage(crypto::MakeBlock(document), own.keyId, &signedBlock, true);
  if (error == crypto::provider::kErrorNoSmartCard) {
    exchange::CheckContainer();
    return false;
  }
  if (error != 0) {
    RefuseRequest(context, request, kSignError, request.number, 0);
    return false;
  }
  *signedMessage = crypto::BlockBytes(signedBlock);
  return true;
}

// Starts the answer that carries the signed document.
void StartSignedAnswer(const std::wstring& typeName, const FolderRequest& request,
                       const std::vector<uint8_t>& signedMessage) {
  const std::wstring number = core::ToWide(request.number, core::kCodePageUtf8);
  XMLCreate();
  XMLOpen(L"root");
  XMLElement(L"type", typeName);
  XMLElement(L"number", number);
  XMLElement(L"refer", number + L"_" + typeName);
  XMLElement(L"message", core::ToWide(core::Base64Encode(signedMessage), core::kCodePageUtf8));
}

// True when every signature of the signed message is valid; the report in
// *report.
bool SignatureValid(const std::vector<uint8_t>& signedMessage, std::wstring* report) {
  int signatures = 0;
  crypto::DataBlock content;
  return crypto::VerifyMessageSignature(crypto::MakeBlock(signedMessage), &signatures, &content, report,
                                        nullptr) >= 1;
}

void SignSingle(const FolderPassContext& context, const FolderRequest& request) {
  if (!MaySend(context, request)) return;
  serverlink::ExchangeRecord record;
  std::vector<uint8_t> signedMessage;
  if (!SignRequest(context, request, &record, &signedMessage)) return;
  std::wstring report;
  const bool valid = SignatureValid(signedMessage, &report);
  StartSignedAnswer(L"eDocWithSign", request, signedMessage);
  XMLElement(L"VerifySign", valid ? L"true" : L"false");
  XMLElement(L"VerifyInfo", report);
  SaveAnswerAndFinish(context, request);
}

// Signs, encrypts and starts the answer of a document going out for the
// first time. False when the handler is done with the request.
bool PrepareSend(const FolderPassContext& context, const FolderRequest& request, const std::wstring& answerType,
                 serverlink::ExchangeRecord* record) {
  std::vector<uint8_t> signedMessage;
  if (!SignRequest(context, request, record, &signedMessage)) return false;

  std::wstring report;
  const bool valid = SignatureValid(signedMessage, &report);
  StartSignedAnswer(answerType, request, signedMessage);
  XMLElement(L"VerifySign", valid ? L"true" : L"false");
  XMLElement(L"VerifyInfo", report);
  if (!valid) {
    SaveAnswerAndFinish(context, request);
    return false;
  }

  std::string typeName = core::ToNarrow(answerType, core::kCodePageUtf8);
  for (char& c : typeName) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  record->type = static_cast<uint8_t>(TypeCodeFromName(typeName) +
                                      (request.confirmDelivery ? kConfirmationTypeOffset : 0));
  record->payload = signedMessage;
  serverlink::CompressRecordPayload(record);  // above 1000 bytes: compressed, type + 100

  std::vector<crypto::Recipient> recipients;
  for (const RecipientSlot& slot : request.recipients) recipients.push_back({slot.certificate, slot.publicKey});
  crypto::DataBlock envelope;
  if (!crypto::CryptMessage(crypto::MakeBlock(record->payload), recipients, &envelope)) {
    RefuseRequest(context, request, kEncryptError, request.number, 0);
    return false;
  }
  record->payload = crypto::BlockBytes(envelope);
  record->payloadLength = static_cast<uint32_t>(record->payload.size());
  XMLCloseAll();
  // Kept before it goes out: a lost answer must not make it go out signed anew.
  KeepPreparedSend(request, PreparedSend{record->type, record->payload, AnswerText()});
  return true;
}

void SignAndSend(const FolderPassContext& context, const FolderRequest& request, const std::wstring& answerType) {
  if (FinishedEarlier(context, request)) return;
  // Whoever calls: a "signfirst" waits while the server takes no documents.
  if (request.type == kTypeSignFirst && !SignFirstEnabled()) return;
  PreparedSend prepared;
  const bool resend = PreparedSendOf(request, &prepared);
  serverlink::ExchangeRecord record;
  if (resend) {
    // Sent before, its answer lost: the same bytes go out again.
    if (exchange::ServiceStatus() <= 0) return;
    if (!RecordFromRequest(request, &record)) {
      RefuseRequest(context, request, kConversionError, request.number, 0);
      DropPreparedSend(request);
      return;
    }
    record.type = prepared.type;
    record.payload = std::move(prepared.payload);
    record.payloadLength = static_cast<uint32_t>(record.payload.size());
    XMLRestore(prepared.answer);
  } else {
    if (!MaySend(context, request)) return;
    if (!PrepareSend(context, request, answerType, &record)) return;
  }

  exchange::ReplyResult result;
  exchange::SendMessageAndGetAnswer(&result, &record);
  const bool connected = exchange::Connected();
  // The server already holds what a resend carries: the first sending arrived.
  const bool arrivedBefore = resend && connected && result.kind == exchange::kReplyRefused &&
                             result.code == kCodeAlreadyThere;
  if (result.kind == exchange::kReplyAccepted || arrivedBefore) {
    // Accepted is final, whatever the connected flag says meanwhile.
    FinishAccepted(context, request);
    DropPreparedSend(request);
    return;
  }
  bool waits = result.kind == exchange::kReplyNothing || !connected;
  if (connected && result.kind == exchange::kReplyRefused &&
      (result.code == kCodeNoOperatorLink || result.code == kCodeBlocked)) {
    SetSignFirstEnabled(false);
    exchange::StartLinkTimer(kSignFirstRetryMs);
    if (result.code == kCodeNoOperatorLink) waits = true;
  }
  if (waits) return;
  if (RefuseRequest(context, request, kSendError, request.number, result.code)) DropPreparedSend(request);
}

}  // namespace

void PSSingle(const FolderPassContext& context, const FolderRequest& request) {
  core::LogInfo("PSSingle");
  try {
    SignSingle(context, request);
  } catch (...) {
    core::LogException("PSSingle");
  }
  core::LogInfo("PSSingle - end");
}

void PSS(const FolderPassContext& context, const FolderRequest& request, const std::wstring& answerType) {
  core::LogInfo("PSS");
  try {
    SignAndSend(context, request, answerType);
  } catch (...) {
    core::LogException("PSS");
  }
  core::LogInfo("PSS - end");
}

}  // namespace folder
