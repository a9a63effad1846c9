// tsr-tool doctor, the dates: days until the selected certificate's end of
// validity, and its issuer's revocation list (present, signed by the
// issuer, not revoking it, days until its next update) as the client's
// revocation check sees it.
#include <string>

#include "crypto/certificates.h"
#include "doctor.h"
#include "exchange/session.h"
#include "platform/clock.h"

namespace tsr_tool::doctor {

Finding CheckValidity(Doctor& doctor) {
  if (!doctor.certificate) return Warn("Не проверено: нет выбранного сертификата");
  int64_t now = platform::FileTimeNow();
  exchange::ValidityOutlook outlook = exchange::SelectedValidity();
  int64_t days = exchange::DaysUntil(outlook.certificateEnds, now);
  std::string detail = "valid to " + DateText(outlook.certificateEnds) + ", " + std::to_string(days) + " days";
  if (days < 0) return Fail("Срок действия сертификата истек: получите новый сертификат", detail);
  if (days < exchange::kCertificateWarningDays) {
    return Warn("Срок действия сертификата истекает через " + std::to_string(days) +
                    " дн.: закажите новый сертификат",
                detail);
  }
  return Ok("Сертификат действителен еще " + std::to_string(days) + " дн.", detail);
}

Finding CheckRevocationList(Doctor& doctor) {
  if (!doctor.certificate) return Warn("Не проверено: нет выбранного сертификата");
  int result = crypto::CheckCertInCRLByID(doctor.entry.keyId);
  int64_t now = platform::FileTimeNow();
  exchange::ValidityOutlook outlook = exchange::SelectedValidity();
  std::string detail = "CheckCertCRL " + std::to_string(result);
  int64_t days = exchange::DaysUntil(outlook.listNextUpdate, now);
  if (outlook.revocationList) {
    detail += ", next update " + DateText(outlook.listNextUpdate) + " (" + std::to_string(days) + " days)";
  }
  switch (result) {
    case crypto::kCrlCurrent:
      if (days < exchange::kListWarningDays) {
        return Warn("СОС скоро устареет (через " + std::to_string(days) + " дн.): обновите СОС", detail);
      }
      return Ok("СОС издателя установлена и действует еще " + std::to_string(days) + " дн.", detail);
    case crypto::kCrlOutOfDate:
      return Fail("Для выбранного сертификата истек срок действия СОС (" + std::to_string(-days) +
                      " дн. назад). Обновите СОС: без нее не проходит проверка ни одного входящего документа",
                  detail);
    case crypto::kCrlRevoked:
      return Fail("Выбранный сертификат отозван: получите новый сертификат", detail);
    case crypto::kCrlNotFound:
      if (outlook.unverifiedList) {
        return Fail("СОС издателя установлена, но ее подпись не проверяется сертификатом издателя: установите "
                    "сертификат издателя и подлинную СОС",
                    detail + ", a list of the issuer does not verify");
      }
      return Fail("СОС издателя сертификата не установлена: установите СОС", detail + ", no list of the issuer");
    default:
      return Fail("Ошибка получения СОС или СОС не установлен", detail);
  }
}

}  // namespace tsr_tool::doctor
