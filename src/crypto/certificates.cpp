// The certificate list, the УНП, the encoded certificate, the key-container
// checks and the revocation checks (see certificates.h).
#include "crypto/certificates.h"

#include <atomic>
#include <cstring>
#include <cwchar>
#include <mutex>

#include "core/format.h"
#include "core/log.h"
#include "core/text.h"
#include "crypto/markers.h"
#include "platform/clock.h"
#include "platform/ui.h"
#include "storage/settings.h"

namespace crypto {

namespace {

using provider::Bytes;

// More than this many 100-ns units between noting the time and reopening
// the container means the provider really talked to the key medium.
constexpr int64_t kMediumAnswerTime = 5510086;
constexpr size_t kSubjectNameLimit = 128;
constexpr size_t kIssuerNameLimit = 1000;
constexpr size_t kUniqueNameLimit = 255;
constexpr int64_t kErrorMoreData = 234;  // the property is longer than the place for it

std::mutex listLock;
std::vector<CertificateEntry> certificateList;  // guarded by listLock
int selectedIndex = -1;                          // guarded by listLock

std::atomic<int> providerTypeInForce{0};
std::atomic<int> containerPresence{kPresenceUnknown};

std::string Narrow(const std::wstring& text) {
  return core::ToNarrow(text, core::kCodePageSystem);
}

std::wstring Wide(const std::string& text) {
  return core::ToWide(text, core::kCodePageUtf8);
}

std::string LocalStamp(const char* label, int64_t fileTime) {
  platform::CalendarTime t = platform::LocalFromUnix(platform::UnixFromFileTime(fileTime));
  return core::Format("%s: %d.%02d.%02d-%02d:%02d:%02d", label, t.year, t.month, t.day, t.hour,
                      t.minute, t.second);
}

}  // namespace

// The list ----------------------------------------------------------------------------

int ListCertificates() {
  try {
    provider::Store my;
    if (uint32_t error = provider::OpenStore(provider::StoreName::My, &my)) {
      core::LogError("Хранилище сертификатов не открыто", error);
      return -1;
    }
    std::vector<CertificateEntry> entries;
    int64_t now = platform::FileTimeNow();
    for (const Bytes& der : my.certificates) {
      provider::CertInfo info;
      if (provider::ReadCertificate(der, &info) != 0) continue;
      std::wstring unp = GetUNP(info);
      if (unp.empty() || info.notAfter < now) continue;
      if (entries.size() >= static_cast<size_t>(kMaxCertificates)) break;

      CertificateEntry entry;
      entry.subjectName = info.subjectName.substr(0, kSubjectNameLimit);
      entry.unpText = unp;
      entry.validFromText = core::FormatCertDate(info.notBefore);
      entry.validToText = core::FormatCertDate(info.notAfter);
      entry.unpNumber = static_cast<int32_t>(std::wcstol(unp.c_str(), nullptr, 10));
      entry.issuerName = info.issuerName.substr(0, kIssuerNameLimit);
      entry.validFrom = info.notBefore;
      entry.validTo = info.notAfter;
      if (info.keyId.empty() || info.keyId.size() > entry.keyId.size()) {
        core::LogInfo(core::Format("GetLastError - %d ", static_cast<int>(
                                       info.keyId.empty() ? provider::kErrorNotFound : kErrorMoreData)));
      } else {
        std::memcpy(entry.keyId.data(), info.keyId.data(), info.keyId.size());
        std::string hex = core::HexEncode(entry.keyId.data(), entry.keyId.size());
        entry.keyIdText = Wide(hex);
        core::LogInfo(core::Format("Size - %d ", static_cast<int>(info.keyId.size())));
        core::LogInfo(hex);
      }
      entries.push_back(std::move(entry));
    }
    std::lock_guard<std::mutex> hold(listLock);
    certificateList = std::move(entries);
    return static_cast<int>(certificateList.size());
  } catch (...) {
    core::LogException("ListCertificates");
    return -1;
  }
}

int CertificateCount() {
  std::lock_guard<std::mutex> hold(listLock);
  return static_cast<int>(certificateList.size());
}

bool GetCertificateEntry(int index, CertificateEntry* entry) {
  std::lock_guard<std::mutex> hold(listLock);
  if (index < 0 || static_cast<size_t>(index) >= certificateList.size()) return false;
  *entry = certificateList[static_cast<size_t>(index)];
  return true;
}

bool UpdateCertificateEntry(int index, const std::function<void(CertificateEntry&)>& change) {
  std::lock_guard<std::mutex> hold(listLock);
  if (index < 0 || static_cast<size_t>(index) >= certificateList.size()) return false;
  change(certificateList[static_cast<size_t>(index)]);
  return true;
}

int SelectedCertificate() {
  std::lock_guard<std::mutex> hold(listLock);
  return selectedIndex;
}

void SelectCertificate(int index) {
  std::lock_guard<std::mutex> hold(listLock);
  selectedIndex = index;
}

bool GetSelectedEntry(CertificateEntry* entry) {
  std::lock_guard<std::mutex> hold(listLock);
  if (selectedIndex < 0 || static_cast<size_t>(selectedIndex) >= certificateList.size()) return false;
  *entry = certificateList[static_cast<size_t>(selectedIndex)];
  return true;
}

// The УНП -------------------------------------------------------------------------------

std::wstring GetUNP(const provider::CertInfo& certificate) {
  for (const provider::Extension& extension : certificate.extensions) {
    if (extension.oid != kUnpExtensionOid) continue;
    // A BMPString: tag 0x1E, a short-form length, two bytes per character.
    // The УНП is the low byte of each of the first nine characters, the
    // bytes 3, 5, ... 19 of the value; a shorter value gives no УНП.
    const Bytes& value = extension.value;
    if (value.size() < 20 || value[0] != 0x1E || value[1] < 18 || value[1] >= 0x80 ||
        static_cast<size_t>(value[1]) + 2 > value.size()) {
      return {};
    }
    std::wstring unp;
    for (size_t i = 3; i <= 19; i += 2) unp.push_back(static_cast<wchar_t>(value[i]));
    return unp;
  }
  return {};
}

std::wstring GetUNP(const std::vector<uint8_t>& certificateDer) {
  provider::CertInfo info;
  if (provider::ReadCertificate(certificateDer, &info) != 0) return {};
  return GetUNP(info);
}

// Certificates ----------------------------------------------------------------------------

bool GetCertBlob(const KeyId& keyId, DataBlock* out) {
  OperationMarkers markers("GCB");
  try {
    provider::Store my;
    if (uint32_t error = provider::OpenStore(provider::StoreName::My, &my)) {
      core::LogError("Хранилище сертификатов не открыто", error);
      return false;
    }
    Bytes der;
    if (uint32_t error = provider::FindCertificateByKeyId(my, keyId.data(), keyId.size(), &der)) {
      core::LogError("Сертификат не найден", error);
      return false;
    }
    core::LogInfo("Сертификат найден");
    SetBlockBytes(out, der);
    return true;
  } catch (...) {
    core::LogException("GetCertBlob");
    return false;
  }
}

bool GetCertFromSignedMessage(const DataBlock& message, const KeyId& keyId, DataBlock* out) {
  OperationMarkers markers("GCFSM");
  try {
    provider::DecodedMessage decoded;
    provider::Outcome outcome = provider::DecodeMessage(BlockBytes(message), &decoded);
    if (!outcome.ok() || decoded.kind != provider::ObjectKind::Signed) {
      core::LogError("Can't CryptQueryObject", outcome.ok() ? provider::kErrorInvalidMessageType : outcome.error);
      return false;
    }
    core::LogValue("Количество сертификатов в сообщении", static_cast<int64_t>(decoded.certificates.size()));
    for (const Bytes& der : decoded.certificates) {
      provider::CertInfo info;
      if (uint32_t error = provider::ReadCertificate(der, &info)) {
        core::LogError("Не удалось прополучить сертификат", error);
        continue;
      }
      if (info.keyId.empty()) {
        core::LogError("CertGetCertificateContextProperty-1", provider::kErrorNotFound);
        continue;
      }
      if (info.keyId.size() != keyId.size()) {
        core::LogError("CertGetCertificateContextProperty-2", kErrorMoreData);
        continue;
      }
      if (std::memcmp(info.keyId.data(), keyId.data(), keyId.size()) == 0) {
        SetBlockBytes(out, der);
        return true;
      }
    }
    return false;
  } catch (...) {
    core::LogException("GetCertFromSignedMessage");
    return false;
  }
}

// Key container --------------------------------------------------------------------------

bool IsContainer(const KeyId& keyId, int mode) {
  try {
    provider::Store my;
    if (uint32_t error = provider::OpenStore(provider::StoreName::My, &my)) {
      core::LogError("Хранилище сертификатов не открыто", error);
      return false;
    }
    Bytes der;
    if (provider::FindCertificateByKeyId(my, keyId.data(), keyId.size(), &der) != 0) return false;

    provider::Key key;
    if (uint32_t error = provider::AcquireCertificateKey(my, der, true, &key)) {
      core::LogError("IsContainer - CryptAcquireCertificatePrivateKey", error);
      return false;
    }
    int type = 0;
    if (uint32_t error = provider::GetKeyProviderType(key, &type)) {
      core::LogError("CryptGetProvParam", error);
    } else if (type >= 1 && type <= 499 && type != providerTypeInForce.load()) {
      providerTypeInForce.store(type);
      core::LogValue("Selected CP", type);
    }

    if (mode == kContainerPresent) return true;

    if (mode == kContainerPin) {
      std::string pin = core::ToNarrow(storage::GetSettingText("IDC_PASS").value_or(L""), core::kCodePage1251);
      if (pin.size() < 8) return false;
      if (uint32_t error = provider::SetSignaturePin(&key, pin)) {
        core::LogError("PP_SIGNATURE_PIN", error);
        return false;
      }
      return true;
    }

    if (mode == kContainerOpening) {
      std::string uniqueName;
      if (uint32_t error = provider::GetUniqueContainerName(key, &uniqueName)) {
        core::LogError("CryptGetProvParam", error);
        return false;
      }
      if (uniqueName.size() > kUniqueNameLimit) uniqueName.resize(kUniqueNameLimit);
      int64_t noted = platform::FileTimeNow();
      if (uint32_t error = provider::ReleaseKey(&key)) core::LogError("CryptReleaseContext", error);
      provider::Key reopened;
      if (uint32_t error = provider::OpenContainer(uniqueName, providerTypeInForce.load(), &reopened)) {
        core::LogError("CryptAcquireContext", error);
        return false;
      }
      int64_t answered = platform::FileTimeNow();
      provider::ReleaseKey(&reopened);
      if (answered - noted > kMediumAnswerTime) return true;
      platform::ui::MessageBox(L"Подождите для открытия ~20 секунд", L"", platform::ui::Buttons::Ok);
      return false;
    }
    return false;
  } catch (...) {
    core::LogException("IsContainer");
    return false;
  }
}

int ProviderTypeInForce() {
  return providerTypeInForce.load();
}

uint32_t SilentMessageFlag() {
  return providerTypeInForce.load() == kProviderTypeSilent ? provider::kMessageFlagSilent : 0;
}

int ContainerPresence() {
  return containerPresence.load();
}

void SetContainerPresence(int value) {
  containerPresence.store(value);
}

platform::ThreadHandle StartContainerPresenceWorker() {
  return platform::ThreadStart([] {
    CertificateEntry entry;
    bool present = GetSelectedEntry(&entry) && IsContainer(entry.keyId, kContainerPresent);
    containerPresence.store(present ? kPresencePresent : kPresenceAbsent);
  });
}

// Revocation ------------------------------------------------------------------------------

ChosenCrl ChooseCrl(const provider::Store& ca, const std::vector<uint8_t>& certificateDer, bool log) {
  ChosenCrl chosen;
  for (const Bytes& crl : ca.crls) {
    provider::CrlInfo info;
    if (provider::ReadCrl(crl, &info) != 0) continue;
    if (log) core::LogInfo(Narrow(info.issuerName));
    if (!provider::CrlIssuerMatches(crl, certificateDer)) continue;
    if (uint32_t error = provider::VerifyCrlSignature(ca, crl)) {
      if (log) core::LogError("CryptVerifyCertificateSignatureEx", error);
      chosen.unverified = true;
      continue;
    }
    if (chosen.list == nullptr || info.thisUpdate > chosen.info.thisUpdate) {
      chosen.list = &crl;
      chosen.info = info;
    }
  }
  return chosen;
}

int CheckCertCRL(const std::vector<uint8_t>& certificateDer) {
  int failure = kCrlStoreFailed;
  try {
    provider::Store ca;
    if (uint32_t error = provider::OpenStore(provider::StoreName::CA, &ca)) {
      core::LogError("Хранилище сертификатов не открыто", error);
      return kCrlStoreFailed;
    }
    failure = kCrlFailedAfterOpen;
    provider::CertInfo certificate;
    if (uint32_t error = provider::ReadCertificate(certificateDer, &certificate)) {
      core::LogError("CertCreateCertificateContext", error);
      return kCrlCopyFailed;
    }
    core::LogInfo(Narrow(certificate.issuerName));

    const ChosenCrl chosen = ChooseCrl(ca, certificateDer, true);
    if (chosen.list == nullptr) {
      core::LogError("CRL not found", provider::kErrorNotFound);
      return kCrlNotFound;
    }
    const provider::CrlInfo& chosenInfo = chosen.info;
    failure = kCrlFailedAfterList;
    bool listed = false;
    if (uint32_t error = provider::FindCertificateInCrl(*chosen.list, certificateDer, &listed)) {
      failure = kCrlFailedAfterLookup;
      core::LogError("CertFindCertificateInCRL", error);
      return kCrlLookupFailed;
    }
    if (listed) return kCrlRevoked;

    int64_t now = platform::FileTimeNow();
    core::LogInfo(LocalStamp("Дата подписи", now));
    core::LogInfo(LocalStamp("Not before", chosenInfo.thisUpdate));
    core::LogInfo(LocalStamp("Not after", chosenInfo.nextUpdate));
    return now > chosenInfo.thisUpdate && now < chosenInfo.nextUpdate ? kCrlCurrent : kCrlOutOfDate;
  } catch (...) {
    core::LogException("CheckCertCRL");
    return failure;
  }
}

int CheckCertInCRLByID(const KeyId& keyId) {
  OperationMarkers markers("CCICBI");
  try {
    provider::Store my;
    if (uint32_t error = provider::OpenStore(provider::StoreName::My, &my)) {
      core::LogError("Хранилище сертификатов не открыто", error);
      return -1;
    }
    Bytes der;
    if (uint32_t error = provider::FindCertificateByKeyId(my, keyId.data(), keyId.size(), &der)) {
      core::LogError("CertFindCertificateInStore", error);
      return -2;
    }
    return CheckCertCRL(der);
  } catch (...) {
    core::LogException("CheckCertInCRLByID");
    return -1;
  }
}

void ResetCertificateStateForTest() {
  {
    std::lock_guard<std::mutex> hold(listLock);
    certificateList.clear();
    selectedIndex = -1;
  }
  providerTypeInForce.store(0);
  containerPresence.store(kPresenceUnknown);
}

void SetProviderTypeForTest(int type) {
  providerTypeInForce.store(type);
}

}  // namespace crypto
