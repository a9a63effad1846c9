// Certificates and keys of the simulator (see pki.h).
#include "pki.h"

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>

#include "core/text.h"
#include "crypto/certificates.h"
#include "crypto/cms.h"
#include "crypto/provider/provider.h"
#include "platform/clock.h"
#include "platform/file.h"

namespace aissim {

namespace provider = crypto::provider;

namespace {

std::mutex gLock;
std::vector<PkiOrganisation> gOrganisations;
std::map<std::string, provider::Key> gKeys;  // opened keys by organisation name, kept for the process

std::string TextOf(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The opened key of the organisation, opened with its PIN on first use;
// null when it does not open. The key stays in gKeys for the process.
const provider::Key* OpenKey(const PkiOrganisation& organisation, std::string* error) {
  std::lock_guard<std::mutex> hold(gLock);
  auto found = gKeys.find(organisation.name);
  if (found != gKeys.end()) return &found->second;
  provider::Store my;
  if (uint32_t code = provider::OpenStore(provider::StoreName::My, &my)) {
    *error = "the store My does not open: " + std::to_string(code);
    return nullptr;
  }
  provider::Key opened;
  if (uint32_t code = provider::AcquireCertificateKey(my, organisation.certificate, true, &opened)) {
    *error = "no key container for " + organisation.name + ": " + std::to_string(code);
    return nullptr;
  }
  if (uint32_t code = provider::SetSignaturePin(&opened, organisation.pin)) {
    *error = "the PIN does not open the key of " + organisation.name + ": " + std::to_string(code);
    return nullptr;
  }
  auto kept = gKeys.emplace(organisation.name, std::move(opened)).first;
  return &kept->second;
}

}  // namespace

bool ReadCertificateFacts(const Bytes& der, CertificateFacts* facts) {
  provider::CertInfo info;
  if (provider::ReadCertificate(der, &info) != 0) return false;
  if (info.keyId.size() != facts->iksBytes.size()) return false;
  std::copy(info.keyId.begin(), info.keyId.end(), facts->iksBytes.begin());
  facts->iks = core::HexEncode(info.keyId);
  std::wstring unp = crypto::GetUNP(info);
  facts->hasUnp = !unp.empty();
  facts->unp = facts->hasUnp ? static_cast<int32_t>(std::wcstol(unp.c_str(), nullptr, 10)) : 0;
  facts->name = core::ToNarrow(info.subjectName, core::kCodePageUtf8);
  facts->notBefore = platform::UnixFromFileTime(info.notBefore);
  facts->notAfter = platform::UnixFromFileTime(info.notAfter);
  return true;
}

namespace {

// The algorithms in force (UseTestAlgorithms). The simulator is built
// without the test profile, so the identifiers of crypto/cms.h are the
// national ones.
const char* hashOid = crypto::kHashOid;
const char* contentOid = crypto::kContentEncryptionOid;

}  // namespace

void UseTestAlgorithms(bool test) {
  hashOid = test ? "2.16.840.1.101.3.4.2.1" : crypto::kHashOid;          // SHA-256
  contentOid = test ? "1.2.840.113549.3.7" : crypto::kContentEncryptionOid;  // 3DES (DES-EDE3-CBC)
}

bool EncryptFor(const Bytes& certificateDer, const Bytes& content, Bytes* envelope) {
  provider::Context context;
  if (provider::AcquireVerifyContext(provider::OwnProviderType(), &context) != 0) return false;
  provider::EncryptParams params;
  params.contentOid = contentOid;
  provider::Outcome outcome = provider::EncryptMessage(context, {certificateDer}, params, content, envelope);
  provider::ReleaseContext(&context);
  return outcome.ok();
}

bool LoadPki(const std::string& folder, std::string* error) {
  std::string root = folder;
  if (!root.empty() && root.back() != '/') root += '/';
  Bytes manifest;
  if (!platform::ReadWholeFile(root + "pki/manifest.txt", &manifest)) {
    *error = "cannot read " + root + "pki/manifest.txt";
    return false;
  }
  std::vector<PkiOrganisation> loaded;
  std::istringstream lines(TextOf(manifest));
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string name;
    if (!(fields >> name)) continue;
    PkiOrganisation organisation;
    organisation.name = name;
    Bytes pem;
    if (!platform::ReadWholeFile(root + "pki/certs/" + name + ".pem", &pem) ||
        provider::QueryCertificate(pem, &organisation.certificate) != 0) {
      *error = "cannot read the certificate of " + name;
      return false;
    }
    CertificateFacts facts;
    if (!ReadCertificateFacts(organisation.certificate, &facts)) {
      *error = "the certificate of " + name + " has no key identifier";
      return false;
    }
    organisation.iks = facts.iks;
    Bytes pin;
    if (!platform::ReadWholeFile(root + "pki/" + name + ".pin", &pin)) {
      *error = "cannot read the PIN of " + name;
      return false;
    }
    while (!pin.empty() && (pin.back() == '\n' || pin.back() == '\r')) pin.pop_back();
    organisation.pin = TextOf(pin);
    loaded.push_back(std::move(organisation));
  }
  if (loaded.empty()) {
    *error = "the manifest names no organisation";
    return false;
  }
  // The provider finds the key containers in the store of this folder.
  setenv("TESSARIN_CERTSTORE", root.c_str(), 1);
  std::lock_guard<std::mutex> hold(gLock);
  gOrganisations = std::move(loaded);
  gKeys.clear();
  return true;
}

bool PkiLoaded() {
  std::lock_guard<std::mutex> hold(gLock);
  return !gOrganisations.empty();
}

std::vector<PkiOrganisation> PkiOrganisations() {
  std::lock_guard<std::mutex> hold(gLock);
  return gOrganisations;
}

bool FindPkiByName(const std::string& name, PkiOrganisation* found) {
  std::lock_guard<std::mutex> hold(gLock);
  for (const PkiOrganisation& organisation : gOrganisations) {
    if (organisation.name == name) {
      *found = organisation;
      return true;
    }
  }
  return false;
}

bool FindPkiByIks(const std::string& iks, PkiOrganisation* found) {
  std::lock_guard<std::mutex> hold(gLock);
  for (const PkiOrganisation& organisation : gOrganisations) {
    if (organisation.iks == iks) {
      *found = organisation;
      return true;
    }
  }
  return false;
}

bool SignAs(const PkiOrganisation& organisation, const Bytes& content, int64_t signingTime, Bytes* signedMessage,
            std::string* error) {
  const provider::Key* key = OpenKey(organisation, error);
  if (key == nullptr) return false;
  provider::SignParams params;
  params.hashOid = hashOid;
  params.signingTimeOid = crypto::kSigningTimeOid;
  params.signingTime = platform::FileTimeFromUnix(signingTime);
  provider::Outcome outcome = provider::SignMessage(*key, organisation.certificate, params, content, signedMessage);
  if (!outcome.ok()) {
    *error = "signing as " + organisation.name + " failed: " + std::to_string(outcome.error);
    return false;
  }
  return true;
}

bool DecryptAs(const PkiOrganisation& organisation, const Bytes& envelope, Bytes* content) {
  std::string ignored;
  const provider::Key* key = OpenKey(organisation, &ignored);
  if (key == nullptr) return false;
  return provider::DecryptMessage(*key, organisation.certificate, envelope, 0, content).ok();
}

}  // namespace aissim
