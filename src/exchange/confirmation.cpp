// Delivery confirmations (see confirmation.h).
#include "exchange/confirmation.h"

#include "core/log.h"
#include "core/text.h"
#include "crypto/certificates.h"
#include "crypto/cms.h"
#include "crypto/provider/provider.h"
#include "exchange/result_codes.h"
#include "exchange/session.h"
#include "link/frame.h"
#include "link/payload.h"

namespace exchange {

namespace {

// The page up to the organisation's name: 337 characters.
const wchar_t kHead[] =
    L"<html>\t<head>\t\t\t<meta http - equiv = \"content-type\" content = \"text/html; charset=utf-8\">\t\t\t"
    L"<meta type = \"onlyview\">\t</head>\t<body>\t\t<table width = \"800\" border = 0>\t\t\t<tr>\t\t\t\t"
    L"<td align = \"center\">\t\t\t\t\t<b><span name = \"typeDoc\">Подтверждение доставки</span></b>\t\t\t\t"
    L"</td>\t\t\t</tr>\t\t\t<tr>\t\t\t<td align = \"justify\">\t\t\t\t<span name = \"content\">";

const wchar_t kReceives[] = L" подтверждает получение электронного документа №";
const wchar_t kReportOpens[] =
    L"ЭЦП полученного электронного документа проверена.<BR>Результат проверки ЭПЦ полученного электронного "
    L"документа:<BR>**************  Начало результата  ******************<BR>";
const wchar_t kReportCloses[] = L"<BR>************** Окончание результата ******************<BR>";
const wchar_t kDigestOpens[] = L"<BR>Хэш-значение (1.2.840.113549.1.9.4) полученного электронного документа:<BR>";
const wchar_t kTail[] = L"</span>\t\t\t\t\t</td>\t\t\t\t</tr>\t\t\t</table>\t</body></html>";

bool SendConfirmation(const serverlink::ExchangeRecord& received, const std::string& textUtf8) {
  if (ServiceStatus() <= 0) return false;
  crypto::CertificateEntry own;
  if (!crypto::GetSelectedEntry(&own)) return false;
  crypto::DataBlock signedText;
  const uint32_t signError = crypto::SignMessage(
      crypto::MakeBlock(std::vector<uint8_t>(textUtf8.begin(), textUtf8.end())), own.keyId, &signedText, true);
  if (signError == crypto::provider::kErrorNoSmartCard) {
    CheckContainer();
    return false;
  }
  if (signError != 0) return false;

  crypto::DataBlock senderCertificate;
  if (!crypto::GetCertFromSignedMessage(crypto::MakeBlock(received.payload), received.iks, &senderCertificate)) {
    return false;
  }

  serverlink::ExchangeRecord confirmation;
  confirmation.flags = serverlink::FlagBits("00101000");
  confirmation.type = kTypeConfirmation;
  confirmation.iks = received.iks;
  confirmation.number = received.number;
  confirmation.payload = crypto::BlockBytes(signedText);
  serverlink::CompressRecordPayload(&confirmation);

  crypto::DataBlock envelope;
  std::vector<crypto::Recipient> recipients{{core::Base64Encode(crypto::BlockBytes(senderCertificate)), ""}};
  if (!crypto::CryptMessage(crypto::MakeBlock(confirmation.payload), recipients, &envelope)) return false;
  confirmation.payload = crypto::BlockBytes(envelope);
  confirmation.payloadLength = static_cast<uint32_t>(confirmation.payload.size());

  ReplyResult result;
  SendMessageAndGetAnswer(&result, &confirmation);
  return result.kind == kReplyAccepted || (result.kind == kReplyRefused && result.code == kCodeAlreadyPresent);
}

}  // namespace

std::wstring DeliveryConfirmationText(const std::wstring& subjectName, const std::string& numberText,
                                      const std::wstring& report, const std::string& digestHex) {
  std::wstring text = kHead;
  text += subjectName;
  text += kReceives;
  if (!numberText.empty()) text += core::ToWide(numberText, core::kCodePageUtf8) + L".<BR>";
  text += kReportOpens;
  text += core::ReplaceAll(report, L"\r\n", L"<BR>", false);
  text += kReportCloses;
  text += kDigestOpens;
  text += core::ToWide(digestHex, core::kCodePageUtf8) + L"<BR>";
  text += kTail;
  return text;
}

bool MakeDeliveryConfirmation(const serverlink::ExchangeRecord& received, const std::wstring& report) {
  core::LogInfo("MakeDeliveryConfirmation-Begin");
  bool sent = false;
  try {
    crypto::DataBlock digest;
    if (crypto::GetDataFromEncode(crypto::MakeBlock(received.payload), &digest)) {
      crypto::CertificateEntry own;
      crypto::GetSelectedEntry(&own);
      std::string number = serverlink::HasFlag(received.flags, serverlink::kFlagNumber)
                               ? serverlink::FormatNumber(received.number)
                               : std::string();
      std::wstring text = DeliveryConfirmationText(own.subjectName, number, report,
                                                   core::HexEncode(crypto::BlockBytes(digest)));
      sent = PSConfim(received, core::ToNarrow(text, core::kCodePageUtf8));
    }
  } catch (...) {
    core::LogException("MakeDeliveryConfirmation");
    sent = false;
  }
  core::LogInfo("MakeDeliveryConfirmation-End");
  return sent;
}

bool PSConfim(const serverlink::ExchangeRecord& received, const std::string& textUtf8) {
  core::LogInfo("PSConfim");
  bool sent = false;
  try {
    sent = SendConfirmation(received, textUtf8);
  } catch (...) {
    core::LogException("PSConfim");
    sent = false;
  }
  core::LogInfo("PSConfim - end");
  return sent;
}

}  // namespace exchange
