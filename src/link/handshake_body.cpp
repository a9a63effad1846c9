// The session-start body and the client identifier (see handshake_body.h).
#include "link/handshake_body.h"

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "core/log.h"
#include "crypto/certificates.h"
#include "crypto/cms.h"
#include "link/sha512.h"
#include "storage/settings.h"

namespace serverlink {

namespace {

void PutLe(std::vector<uint8_t>* out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

bool AllZero(const std::array<uint8_t, 64>& bytes) {
  for (uint8_t byte : bytes) {
    if (byte != 0) return false;
  }
  return true;
}

// The branch number of the settings; a missing setting is created empty.
uint16_t BranchNumber() {
  if (storage::FindSetting("IDC_BRANCH") < 0) storage::SetSettingText("IDC_BRANCH", L"");
  std::optional<std::wstring> text = storage::GetSettingText("IDC_BRANCH");
  if (!text) return 0;
  return static_cast<uint16_t>(std::wcstol(text->c_str(), nullptr, 10));
}

bool MakeBody(crypto::DataBlock* out, bool registration) {
  crypto::CertificateEntry entry;
  if (!crypto::GetSelectedEntry(&entry)) {
    core::LogError("Сертификат не выбран", 0);
    return false;
  }
  // An identifier still all zero has not been made yet.
  if (AllZero(entry.clientId) && !MakeID()) return false;
  crypto::DataBlock certificate;
  if (!crypto::GetCertBlob(entry.keyId, &certificate)) return false;

  const uint32_t n = certificate.count;
  std::vector<uint8_t> body;
  body.reserve(n + kHandshakeOverhead + 16);
  body.push_back(registration ? kRegistrationMark : 0);
  PutLe(&body, n, 4);
  if (n > 0) body.insert(body.end(), certificate.buffer.get(), certificate.buffer.get() + n);
  body.insert(body.end(), kClientVersionBytes, kClientVersionBytes + sizeof(kClientVersionBytes));
  PutLe(&body, BranchNumber(), 2);
  body.resize((body.size() + 15) / 16 * 16, 0);
  crypto::SetBlockBytes(out, body);
  return true;
}

bool MakeIdentifier() {
  const int index = crypto::SelectedCertificate();
  crypto::CertificateEntry entry;
  if (!crypto::GetCertificateEntry(index, &entry)) {
    core::LogError("Сертификат не выбран", 0);
    return false;
  }
  crypto::DataBlock certificate;
  if (!crypto::GetCertBlob(entry.keyId, &certificate)) return false;

  // The certificate, the UNP and the key identifier, signed.
  std::vector<uint8_t> unp;
  PutLe(&unp, static_cast<uint32_t>(entry.unpNumber), 4);
  std::vector<uint8_t> content = crypto::BlockBytes(certificate);
  content.insert(content.end(), unp.begin(), unp.end());
  content.insert(content.end(), entry.keyId.begin(), entry.keyId.end());
  crypto::DataBlock signedContent;
  if (crypto::SignMessage(crypto::MakeBlock(content), entry.keyId, &signedContent, true) != 0) return false;

  crypto::DataBlock digest;
  if (!crypto::GetDataFromEncode(signedContent, &digest)) return false;
  std::vector<uint8_t> identityDigest = crypto::BlockBytes(digest);

  std::vector<uint8_t> identity = unp;
  identity.insert(identity.end(), entry.keyId.begin(), entry.keyId.end());
  identity.insert(identity.end(), identityDigest.begin(), identityDigest.end());
  std::array<uint8_t, 64> clientId{};
  if (!Sha512(identity.data(), identity.size(), clientId.data())) return false;

  const crypto::KeyId keyId = entry.keyId;
  bool stored = false;
  crypto::UpdateCertificateEntry(index, [&](crypto::CertificateEntry& target) {
    if (target.keyId != keyId) return;  // the list was rebuilt meanwhile
    target.identityDigest = identityDigest;
    target.clientId = clientId;
    stored = true;
  });
  return stored;
}

}  // namespace

bool MHFS(crypto::DataBlock* out, bool registration) {
  core::LogInfo("MHFS");
  bool made = false;
  try {
    made = MakeBody(out, registration);
  } catch (...) {
    core::LogException("MHFS");
    made = false;
  }
  core::LogInfo("MHFS - end");
  return made;
}

bool MakeID() {
  core::LogInfo("Make");
  bool made = false;
  try {
    made = MakeIdentifier();
  } catch (...) {
    core::LogException("MakeID");
    made = false;
  }
  core::LogInfo("Make - end");
  return made;
}

}  // namespace serverlink
