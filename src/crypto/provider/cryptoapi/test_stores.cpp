// Test PKI in the system stores of the current user (see test_stores.h).
// Each key goes into a container of its own, named by the certificate's
// key-provider property: an import of a PKCS #12 file would put every key
// into the one default container under Wine. Additions to a system store
// last only once the store is committed (CERT_STORE_CTRL_COMMIT).
#include "crypto/provider/test_stores.h"

#include <algorithm>
#include <sstream>

#include "crypto/provider/cryptoapi/cryptoapi_util.h"
#include "platform/file.h"

namespace crypto::provider {

namespace {

using namespace cryptoapi;

struct StoreCloser {
  HCERTSTORE store;
  ~StoreCloser() {
    if (store != nullptr) CertCloseStore(store, 0);
  }
};

HCERTSTORE OpenSystem(const wchar_t* name) {
  return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, name);
}

std::wstring Wide(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

std::vector<std::string> Names(const std::string& folder) {
  Bytes manifest;
  std::vector<std::string> names;
  if (!platform::ReadWholeFile(folder + "pki/manifest.txt", &manifest)) return names;
  std::istringstream lines(std::string(manifest.begin(), manifest.end()));
  std::string line;
  while (std::getline(lines, line)) {
    std::string name = line.substr(0, line.find(' '));
    if (!name.empty()) names.push_back(name);
  }
  return names;
}

std::wstring ContainerOf(const std::string& name) {
  return L"tessarin-test-" + Wide(name);
}

// DER of a file holding one PEM block, or the file itself.
Bytes FileDer(const std::string& path) {
  Bytes data;
  if (!platform::ReadWholeFile(path, &data)) return {};
  DWORD size = 0;
  if (CryptStringToBinaryA(reinterpret_cast<const char*>(data.data()), static_cast<DWORD>(data.size()),
                           CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr) &&
      size > 0) {
    Bytes der(size);
    if (CryptStringToBinaryA(reinterpret_cast<const char*>(data.data()), static_cast<DWORD>(data.size()),
                             CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr)) {
      der.resize(size);
      return der;
    }
  }
  return data;
}

uint32_t Empty(HCERTSTORE store) {
  while (const CERT_CONTEXT* certificate = CertEnumCertificatesInStore(store, nullptr)) {
    if (!CertDeleteCertificateFromStore(certificate)) return LastError();
  }
  while (const CRL_CONTEXT* crl = CertEnumCRLsInStore(store, nullptr)) {
    // Wine's CertDeleteCRLFromStore lets go of the context twice when it
    // comes from a system store: it is given a reference of its own (which
    // Windows would leave held, a test run's small leak).
    CertDuplicateCRLContext(crl);
    if (!CertDeleteCRLFromStore(crl)) return LastError();
  }
  return 0;
}

void DeleteContainer(const std::wstring& container) {
  HCRYPTPROV provider = 0;
  CryptAcquireContextW(&provider, container.c_str(), MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES,
                       CRYPT_DELETEKEYSET | CRYPT_SILENT);
}

// The organisation's certificate into "My", its key into its own container.
uint32_t AddOrganisation(HCERTSTORE my, const std::string& folder, const std::string& name) {
  Bytes certificate = FileDer(folder + "pki/certs/" + name + ".pem");
  Bytes keyDer;
  if (certificate.empty() || !platform::ReadWholeFile(folder + "pki/" + name + ".rsa.der", &keyDer)) {
    return kErrorNotFound;
  }
  LocalPtr<BLOBHEADER> blob;
  DWORD blobSize = 0;
  {
    void* decoded = nullptr;
    if (!CryptDecodeObjectEx(kEncoding, PKCS_RSA_PRIVATE_KEY, keyDer.data(), static_cast<DWORD>(keyDer.size()),
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, &decoded, &blobSize)) {
      return LastError();
    }
    blob.reset(static_cast<BLOBHEADER*>(decoded));
  }
  blob->aiKeyAlg = CALG_RSA_KEYX;  // one key for signing and key exchange
  std::wstring container = ContainerOf(name);
  DeleteContainer(container);
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextW(&provider, container.c_str(), MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES,
                            CRYPT_NEWKEYSET | CRYPT_SILENT)) {
    return LastError();
  }
  HCRYPTKEY key = 0;
  bool imported = CryptImportKey(provider, reinterpret_cast<const BYTE*>(blob.get()), blobSize, 0, CRYPT_EXPORTABLE,
                                 &key) != FALSE;
  uint32_t error = imported ? 0 : LastError();
  if (key != 0) CryptDestroyKey(key);
  CryptReleaseContext(provider, 0);
  if (error != 0) return error;

  const CERT_CONTEXT* added = nullptr;
  if (!CertAddEncodedCertificateToStore(my, X509_ASN_ENCODING, certificate.data(),
                                        static_cast<DWORD>(certificate.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                        &added)) {
    return LastError();
  }
  CertPtr owned(added);
  CRYPT_KEY_PROV_INFO info{};
  info.pwszContainerName = container.data();
  std::wstring providerName = MS_ENH_RSA_AES_PROV_W;
  info.pwszProvName = providerName.data();
  info.dwProvType = PROV_RSA_AES;
  info.dwKeySpec = AT_KEYEXCHANGE;
  if (!CertSetCertificateContextProperty(added, CERT_KEY_PROV_INFO_PROP_ID, 0, &info)) return LastError();
  return 0;
}

// The issuers' certificates and lists of CA/. Of several lists of one
// issuer only the newest goes in: Wine reads a system store back with
// "replace existing", which takes lists of the same issuer for one, so
// which of them the next opening sees would depend on the order of their
// digests in the registry.
uint32_t AddIssuers(HCERTSTORE ca, const std::string& folder) {
  std::vector<platform::FolderEntry> entries;
  if (!platform::ListFolder(folder + "CA/", "*", &entries)) return kErrorNotFound;
  std::vector<const CRL_CONTEXT*> newest;  // one per issuer
  uint32_t result = 0;
  for (const platform::FolderEntry& entry : entries) {
    if (entry.isFolder || entry.name.empty() || entry.name[0] == '.') continue;
    Bytes der = FileDer(folder + "CA/" + entry.name);
    if (der.empty()) continue;
    DWORD size = static_cast<DWORD>(der.size());
    if (CertAddEncodedCertificateToStore(ca, X509_ASN_ENCODING, der.data(), size, CERT_STORE_ADD_REPLACE_EXISTING,
                                         nullptr)) {
      continue;
    }
    const CRL_CONTEXT* crl = CertCreateCRLContext(X509_ASN_ENCODING, der.data(), size);
    if (crl == nullptr) {
      result = LastError();
      break;
    }
    auto same = std::find_if(newest.begin(), newest.end(), [crl](const CRL_CONTEXT* held) {
      return CertCompareCertificateName(X509_ASN_ENCODING, &held->pCrlInfo->Issuer, &crl->pCrlInfo->Issuer);
    });
    if (same == newest.end()) {
      newest.push_back(crl);
    } else if (CompareFileTime(&crl->pCrlInfo->ThisUpdate, &(*same)->pCrlInfo->ThisUpdate) > 0) {
      CertFreeCRLContext(*same);
      *same = crl;
    } else {
      CertFreeCRLContext(crl);
    }
  }
  for (const CRL_CONTEXT* crl : newest) {
    if (result == 0 && !CertAddCRLContextToStore(ca, crl, CERT_STORE_ADD_ALWAYS, nullptr)) result = LastError();
    CertFreeCRLContext(crl);
  }
  return result;
}

std::string WithSeparator(std::string folder) {
  if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += '/';
  return folder;
}

}  // namespace

uint32_t RemoveTestPki(const std::string& folder) {
  StoreCloser my{OpenSystem(L"My")};
  StoreCloser ca{OpenSystem(L"CA")};
  if (my.store == nullptr || ca.store == nullptr) return LastError();
  if (uint32_t error = Empty(my.store)) return error;
  if (uint32_t error = Empty(ca.store)) return error;
  CertControlStore(my.store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
  CertControlStore(ca.store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
  for (const std::string& name : Names(WithSeparator(folder))) DeleteContainer(ContainerOf(name));
  return 0;
}

uint32_t InstallTestPki(const std::string& folder) {
  std::string root = WithSeparator(folder);
  if (uint32_t error = RemoveTestPki(root)) return error;
  StoreCloser my{OpenSystem(L"My")};
  StoreCloser ca{OpenSystem(L"CA")};
  if (my.store == nullptr || ca.store == nullptr) return LastError();
  std::vector<std::string> names = Names(root);
  if (names.empty()) return kErrorNotFound;
  for (const std::string& name : names) {
    if (uint32_t error = AddOrganisation(my.store, root, name)) return error;
  }
  if (uint32_t error = AddIssuers(ca.store, root)) return error;
  if (!CertControlStore(my.store, 0, CERT_STORE_CTRL_COMMIT, nullptr) ||
      !CertControlStore(ca.store, 0, CERT_STORE_CTRL_COMMIT, nullptr)) {
    return LastError();
  }
  return 0;
}

uint32_t RemoveTestCertificate(const std::vector<uint8_t>& der) {
  StoreCloser my{OpenSystem(L"My")};
  if (my.store == nullptr) return LastError();
  CertPtr found = FindInStore(my.store, der);
  if (!found) return kErrorNotFound;
  if (!CertDeleteCertificateFromStore(found.release())) return LastError();
  CertControlStore(my.store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
  return 0;
}

}  // namespace crypto::provider
