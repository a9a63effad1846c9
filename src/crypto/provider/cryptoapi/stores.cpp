// The certificate stores of the CryptoAPI backend: the system stores "My"
// and "CA" of the current user, opened for each operation and closed when
// the Store goes. Called by the code of src/crypto/ through provider.h.
#include <cstring>

#include "crypto/provider/cryptoapi/cryptoapi_util.h"

namespace crypto::provider {

using namespace cryptoapi;

std::string StoreRoot() {
  return {};  // the system stores have no folder of ours
}

void CloseStore(Store* store) noexcept {
  store->certificates.clear();
  store->crls.clear();
  store->containers.clear();
  if (store->handle != 0) CertCloseStore(reinterpret_cast<HCERTSTORE>(store->handle), 0);
  store->handle = 0;
}

uint32_t OpenStore(StoreName name, Store* store) {
  *store = Store();
  store->name = name;
  HCERTSTORE handle = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                    CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_OPEN_EXISTING_FLAG,
                                    name == StoreName::My ? L"My" : L"CA");
  if (handle == nullptr) return LastError();
  store->handle = reinterpret_cast<intptr_t>(handle);
  for (const CERT_CONTEXT* context = CertEnumCertificatesInStore(handle, nullptr); context != nullptr;
       context = CertEnumCertificatesInStore(handle, context)) {
    store->certificates.emplace_back(context->pbCertEncoded, context->pbCertEncoded + context->cbCertEncoded);
  }
  for (const CRL_CONTEXT* context = CertEnumCRLsInStore(handle, nullptr); context != nullptr;
       context = CertEnumCRLsInStore(handle, context)) {
    store->crls.emplace_back(context->pbCrlEncoded, context->pbCrlEncoded + context->cbCrlEncoded);
  }
  return 0;
}

uint32_t FindCertificateByKeyId(const Store& store, const uint8_t* keyId, size_t keyIdSize, Bytes* der) {
  if (store.handle == 0) return kErrorNotFound;
  CRYPT_HASH_BLOB id;
  id.cbData = static_cast<DWORD>(keyIdSize);
  id.pbData = const_cast<BYTE*>(keyId);
  CertPtr found(CertFindCertificateInStore(reinterpret_cast<HCERTSTORE>(store.handle), kEncoding, 0,
                                           CERT_FIND_KEY_IDENTIFIER, &id, nullptr));
  if (!found) return kErrorNotFound;
  der->assign(found->pbCertEncoded, found->pbCertEncoded + found->cbCertEncoded);
  return 0;
}

}  // namespace crypto::provider
