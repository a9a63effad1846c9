// "getcertificate" (ProcessGetCertificate: ask another organisation for
// its certificate, sending the own public key) and "thecertificate"
// (ProcessSendCertificate: send the own certificate with the signatory's
// details to the organisation that asked), see handlers.h. Called by the
// folder pass's dispatcher.
#include <string>
#include <vector>

#include "core/log.h"
#include "core/text.h"
#include "crypto/certificates.h"
#include "crypto/cms.h"
#include "exchange/reply.h"
#include "folder/handlers.h"
#include "folder/request_ending.h"
#include "folder/request_record.h"

namespace folder {

namespace {

// The value of an element of the request's whole text; empty when absent.
std::string ElementOf(const FolderRequest& request, const char* name) {
  return core::FindTag(request.text, name).value_or(std::string());
}

void GetCertificate(const FolderPassContext& context, const FolderRequest& request) {
  if (FinishedEarlier(context, request)) return;
  serverlink::ExchangeRecord record;
  if (!RecordFromRequest(request, &record)) {
    RefuseRequest(context, request, kConversionError, request.number, 0);
    return;
  }
  crypto::CertificateEntry own;
  crypto::DataBlock publicKey;
  if (!crypto::GetSelectedEntry(&own) || !crypto::GPKFCBC(own.keyId, &publicKey)) {
    // Without the own key there is nothing to send; the request waits.
    core::LogError("getcertificate: no public key of the selected certificate", 0);
    return;
  }
  record.payload = crypto::BlockBytes(publicKey);
  record.payloadLength = static_cast<uint32_t>(record.payload.size());
  SendAndAnswerStatus(context, request, &record, L"sent");
}

void SendCertificate(const FolderPassContext& context, const FolderRequest& request) {
  if (FinishedEarlier(context, request)) return;
  const std::vector<uint8_t> askerKey = core::Base64Decode(ElementOf(request, "receiverpk"));
  serverlink::ExchangeRecord record;
  // The asker is named by its IKS, which also names the envelope's
  // recipient: without one the request does not convert.
  if (!RecordFromRequest(request, &record) || !core::IsHexText(request.receiverIks, 40)) {
    RefuseRequest(context, request, kConversionError, request.number, 0);
    return;
  }
  crypto::CertificateEntry own;
  crypto::DataBlock certificate;
  if (!crypto::GetSelectedEntry(&own) || !crypto::GetCertBlob(own.keyId, &certificate)) {
    core::LogError("thecertificate: the selected certificate cannot be read", 0);
    return;
  }
  // A missing detail goes as an empty one.
  const std::vector<uint8_t> data = exchange::CertificateAnswerData(
      crypto::BlockBytes(certificate), {ElementOf(request, "face"), ElementOf(request, "base"),
                                        ElementOf(request, "post"), ElementOf(request, "name")});
  crypto::KeyId asker{};
  const std::vector<uint8_t> askerIks = core::HexDecode(request.receiverIks);
  std::copy(askerIks.begin(), askerIks.end(), asker.begin());
  crypto::DataBlock envelope;
  if (!crypto::CryptMessageByPublicKey(crypto::MakeBlock(data), own.keyId, crypto::MakeBlock(askerKey), asker,
                                       &envelope)) {
    RefuseRequest(context, request, kEncryptError, request.number, 0);
    return;
  }
  record.payload = crypto::BlockBytes(envelope);
  record.payloadLength = static_cast<uint32_t>(record.payload.size());
  SendAndAnswerStatus(context, request, &record, L"sent");
}

}  // namespace

void ProcessGetCertificate(const FolderPassContext& context, const FolderRequest& request) {
  try {
    GetCertificate(context, request);
  } catch (...) {
    core::LogException("ProcessGetCertificate");
  }
}

void ProcessSendCertificate(const FolderPassContext& context, const FolderRequest& request) {
  core::LogInfo("PSC");
  try {
    SendCertificate(context, request);
  } catch (...) {
    core::LogException("ProcessSendCertificate");
  }
}

}  // namespace folder
