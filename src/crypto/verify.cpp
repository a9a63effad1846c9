// Verification of signed messages and the signature report (see verify.h).
#include "crypto/verify.h"

#include <string>
#include <vector>

#include "core/format.h"
#include "core/log.h"
#include "core/text.h"
#include "crypto/certificates.h"
#include "crypto/cms.h"
#include "crypto/markers.h"
#include "crypto/provider/provider.h"
#include "platform/clock.h"

namespace crypto {

namespace {

using provider::Bytes;

constexpr wchar_t kInvalidLine[] = L"\r\nВНИМАНИЕ: ------ЭЦП НЕВЕРНА--------";

// What the report needs of one certificate carried by the message.
struct CertificateRecord {
  bool read = false;           // the certificate could be read at all
  std::wstring subjectName;    // simple display name
  std::wstring unpText;        // УНП, empty without the extension
  std::wstring personName;     // surname, a space, name
  std::wstring issuerName;     // simple display name of the issuer
  Bytes issuer;                // DER issuer name
  Bytes serial;                // serial number bytes
  int64_t validFrom = 0;       // file time (UTC)
  int64_t validTo = 0;         // file time (UTC)
  Bytes keyId;                 // key identifier property
  bool usable = false;         // the revocation check passed
  std::wstring revocationText; // why it is not usable
};

std::string Narrow(const std::wstring& text) {
  return core::ToNarrow(text, core::kCodePageSystem);
}

std::wstring Wide(const std::string& text) {
  return core::ToWide(text, core::kCodePageUtf8);
}

std::string DateLine(const char* label, const platform::CalendarTime& t) {
  return core::Format("%s: %d.%02d.%02d-%02d:%02d:%02d", label, t.year, t.month, t.day, t.hour, t.minute,
                      t.second);
}

void SetVerdict(uint8_t* verdict, uint8_t code) {
  if (verdict != nullptr) *verdict = code;
}

CertificateRecord MakeRecord(const Bytes& der, uint8_t* verdict) {
  CertificateRecord record;
  provider::CertInfo info;
  if (uint32_t error = provider::ReadCertificate(der, &info)) {
    core::LogError("Не удалось прополучить сертификат", error);
    return record;
  }
  record.read = true;
  record.subjectName = info.subjectName;
  record.unpText = GetUNP(info);
  record.personName = info.surname + L" " + info.givenName;
  record.issuerName = info.issuerName;
  record.issuer = info.issuer;
  record.serial = info.serial;
  record.validFrom = info.notBefore;
  record.validTo = info.notAfter;
  record.keyId = info.keyId;
  record.usable = true;
  int revocation = CheckCertCRL(der);
  if (revocation != kCrlCurrent) {
    record.usable = false;
    if (revocation == kCrlRevoked) {
      SetVerdict(verdict, kVerdictRevoked);
      record.revocationText = L"\r\nСертификат отозван.ЭЦП не проверена.";
    } else {
      core::LogError("Ошибка проверки сертификата по СОС. ЭЦП не проверена.", 0);
      record.revocationText = L"\r\nОшибка проверки сертификата по СОС.Обновите СОС. ЭЦП не проверена.";
    }
  }
  return record;
}

// The certificate of a signer: same issuer and serial number, or the key
// identifier the signer is named by.
const CertificateRecord* FindSignerRecord(const std::vector<CertificateRecord>& records,
                                          const provider::SignerInfo& signer) {
  for (const CertificateRecord& record : records) {
    if (!record.read) continue;
    if (!signer.serial.empty() && record.serial == signer.serial && record.issuer == signer.issuer) {
      return &record;
    }
    if (!signer.keyId.empty() && record.keyId == signer.keyId) return &record;
  }
  return nullptr;
}

// The digest of a message-digest attribute value (an OCTET STRING: byte 1
// its short-form length, the digest from byte 2); false when malformed.
bool DigestOf(const Bytes& value, Bytes* digest) {
  if (value.size() < 2 || value[0] != 0x04 || value[1] >= 0x80) return false;
  size_t length = value[1];
  if (length + 2 > value.size()) return false;
  digest->assign(value.begin() + 2, value.begin() + 2 + static_cast<std::ptrdiff_t>(length));
  return true;
}

}  // namespace

int VerifyMessageSignature(const DataBlock& message, int* signatureCount, DataBlock* content,
                           std::wstring* report, uint8_t* verdict) {
  OperationMarkers markers("GDFSM");
  int result = -1;
  try {
    int countHere = 0;
    DataBlock contentHere;
    std::wstring reportHere;
    if (signatureCount == nullptr) signatureCount = &countHere;
    if (content == nullptr) content = &contentHere;
    if (report == nullptr) report = &reportHere;
    *signatureCount = 0;
    SetVerdict(verdict, kVerdictNone);

    Bytes bytes = BlockBytes(message);
    provider::DecodedMessage decoded;
    provider::Outcome outcome = provider::DecodeMessage(bytes, &decoded);
    if (!outcome.ok() || decoded.kind == provider::ObjectKind::Unknown ||
        decoded.kind == provider::ObjectKind::Certificate) {
      return -1;
    }
    if (decoded.kind != provider::ObjectKind::Signed) {
      core::LogError("CMSG_SIGNER_COUNT_PARAM", provider::kErrorInvalidMessageType);
      return -1;
    }
    result = 0;
    int signers = static_cast<int>(decoded.signers.size());
    *signatureCount = signers;
    core::LogValue("Количество подписей в сообщении", signers);
    *report = L"Количество подписей в электронном документе - " + std::to_wstring(signers);
    core::LogValue("Количество сертификатов в сообщении", static_cast<int64_t>(decoded.certificates.size()));

    provider::Context context;
    if (uint32_t error = provider::AcquireVerifyContext(ProviderTypeInForce(), &context)) {
      core::LogError("CryptAcquireContext", error);
      return result;
    }

    std::vector<CertificateRecord> records;
    for (const Bytes& der : decoded.certificates) records.push_back(MakeRecord(der, verdict));

    int valid = 0;
    for (int s = 1; s <= signers; ++s) {
      const provider::SignerInfo& signer = decoded.signers[static_cast<size_t>(s - 1)];
      core::LogValue("Проверка подписи", s);
      *report += L"\r\n--------| ЭЦП " + std::to_wstring(s) + L" |--------";
      *report += L"\r\n" + Wide(DateLine("Дата проверки подписи", platform::LocalNow()));

      const CertificateRecord* record = FindSignerRecord(records, signer);
      if (record == nullptr) {
        core::LogError("Не найден сертифкат в списке. ЭЦП не проверена.", 0);
        *report += L"Не найден сертифкат в списке. ЭЦП не проверена.";
        SetVerdict(verdict, kVerdictNoCertificate);
        continue;
      }
      core::LogInfo(core::Format("Издатель сертификата: %s", Narrow(record->issuerName).c_str()));
      *report += L"\r\nИздатель сертификата: " + record->issuerName;
      core::LogInfo(core::Format("Субъект (владелец открытого ключа): %s УНП: %s",
                                 Narrow(record->subjectName).c_str(), Narrow(record->unpText).c_str()));
      *report += L"\r\nСубъект: " + record->subjectName;
      *report += L"\r\nУНП:" + record->unpText;
      *report += L" " + record->personName;
      std::string keyIdHex = core::HexEncode(record->keyId);
      core::LogInfo(core::Format("Идентификатор ключа субъекта: %s", keyIdHex.c_str()));
      *report += L"\r\nИдентификатор ключа субъекта: " + Wide(keyIdHex);

      if (!record->usable) {
        *report += L"\r\n" + record->revocationText;
        continue;
      }

      Bytes signedContent;
      provider::Outcome check = provider::VerifySigner(context, bytes, static_cast<size_t>(s - 1), &signedContent);
      if (!check.ok() && check.step != provider::Step::Data) {
        SetVerdict(verdict, kVerdictBadSignature);
        core::LogError("VerifyMessageSignature- Stage-1", check.error);
      } else if (!check.ok()) {
        SetVerdict(verdict, kVerdictBadSignature);
        core::LogError("VerifyMessageSignature - Stage-2", check.error);
        *report += kInvalidLine;
      } else {
        if (signer.hasSigningTime) {
          std::string line = DateLine("Дата подписи",
                                      platform::LocalFromUnix(platform::UnixFromFileTime(signer.signingTime)));
          core::LogInfo(line);
          *report += L"\r\n" + Wide(line);
        }
        for (const provider::SignedAttribute& attribute : signer.attributes) {
          Bytes digest;
          if (attribute.oid != kMessageDigestOid || !DigestOf(attribute.value, &digest)) continue;
          std::string hex = core::HexEncode(digest);
          core::LogInfo(core::Format("Хэш-значение (1.2.840.113549.1.9.4): %s", hex.c_str()));
          *report += L"\r\nХэш-значение (1.2.840.113549.1.9.4): " + Wide(hex);
          break;
        }
        if (!signer.hasSigningTime) {
          // Without a signing time the validity rule cannot be applied.
          core::LogError("Signing time not found", 0);
          SetVerdict(verdict, kVerdictBadSignature);
          *report += kInvalidLine;
        } else if (!(signer.signingTime > record->validFrom && signer.signingTime < record->validTo)) {
          SetVerdict(verdict, kVerdictOutsideValidity);
          *report += kInvalidLine;
        } else {
          ++valid;
          core::LogValue("ЭЦП верна. Длина сообщения", static_cast<int64_t>(signedContent.size()));
          *report += L"\r\nЭЦП верна.";
          if (valid == signers) {
            result = 1;
            SetBlockBytes(content, signedContent);
          }
        }
      }

      std::string name;
      uint32_t version = 0;
      uint32_t nameError = provider::GetProviderName(context, &name);
      if (nameError != 0) core::LogError("Не могу получить имя провайдера", nameError);
      uint32_t versionError = provider::GetProviderVersion(context, &version);
      if (versionError != 0) core::LogError("Не могу получить версию провайдера", versionError);
      if (nameError == 0 && versionError == 0) {
        std::string line = core::Format("Проверка подписи произведена криптопровайдером: %s версия - %d.%d",
                                        name.c_str(), static_cast<int>(version >> 8),
                                        static_cast<int>(version & 0xFF));
        core::LogInfo(line);
        *report += L"\r\n" + Wide(line);
      }
    }
    provider::ReleaseContext(&context);
    return result;
  } catch (...) {
    core::LogException("GetDataFromSignedMessage");
    return result;
  }
}

}  // namespace crypto
