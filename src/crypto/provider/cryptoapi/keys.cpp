// Provider contexts and key containers of the CryptoAPI backend: verify-only
// contexts, the private key of a certificate of "My"
// (CryptAcquireCertificatePrivateKey, kept cached with the certificate
// context), the signature PIN and the provider's parameters. Called by the
// code of src/crypto/ through provider.h.
#include <cstring>

#include "crypto/provider/cryptoapi/cryptoapi_util.h"

namespace crypto::provider {

namespace {

using namespace cryptoapi;

// A provider parameter as a text (PP_NAME, PP_CONTAINER, ...).
uint32_t TextParam(HCRYPTPROV provider, DWORD param, std::string* text) {
  DWORD size = 0;
  if (!CryptGetProvParam(provider, param, nullptr, &size, 0)) return LastError();
  std::string value(size, '\0');
  if (!CryptGetProvParam(provider, param, reinterpret_cast<BYTE*>(value.data()), &size, 0)) return LastError();
  value.resize(size);
  while (!value.empty() && value.back() == '\0') value.pop_back();
  *text = std::move(value);
  return 0;
}

uint32_t DwordParam(HCRYPTPROV provider, DWORD param, DWORD* value) {
  DWORD size = sizeof *value;
  if (!CryptGetProvParam(provider, param, reinterpret_cast<BYTE*>(value), &size, 0)) return LastError();
  return 0;
}

HCRYPTPROV ProviderOf(const Key& key) {
  return key.privateKey ? static_cast<HCRYPTPROV>(key.privateKey->handle) : 0;
}

// The key-provider property of the certificate (container, provider, type).
LocalPtr<CRYPT_KEY_PROV_INFO> ProviderInfo(const CERT_CONTEXT* certificate) {
  DWORD size = 0;
  if (certificate == nullptr ||
      !CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
    return nullptr;
  }
  LocalPtr<CRYPT_KEY_PROV_INFO> info(static_cast<CRYPT_KEY_PROV_INFO*>(LocalAlloc(LPTR, size)));
  if (!info || !CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, info.get(), &size)) {
    return nullptr;
  }
  return info;
}

}  // namespace

int OwnProviderType() {
  return PROV_RSA_AES;
}

uint32_t AcquireVerifyContext(int providerType, Context* context) {
  *context = Context();
  if (providerType == 0) return kErrorBadProviderType;
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextW(&provider, nullptr, nullptr, static_cast<DWORD>(providerType),
                            CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) {
    return LastError();
  }
  context->providerType = providerType;
  context->handle = static_cast<intptr_t>(provider);
  return 0;
}

void ReleaseContext(Context* context) noexcept {
  if (context->handle != 0) CryptReleaseContext(static_cast<HCRYPTPROV>(context->handle), 0);
  context->handle = 0;
  context->providerType = 0;
}

uint32_t GetProviderName(const Context& context, std::string* name) {
  if (context.handle == 0) return kErrorBadProviderType;
  return TextParam(static_cast<HCRYPTPROV>(context.handle), PP_NAME, name);
}

uint32_t GetProviderVersion(const Context& context, uint32_t* version) {
  if (context.handle == 0) return kErrorBadProviderType;
  DWORD value = 0;
  if (uint32_t error = DwordParam(static_cast<HCRYPTPROV>(context.handle), PP_VERSION, &value)) return error;
  *version = value;
  return 0;
}

uint32_t AcquireCertificateKey(const Store& my, const Bytes& certDer, bool silent, Key* key) {
  *key = Key();
  CertPtr certificate = FindInStore(reinterpret_cast<HCERTSTORE>(my.handle), certDer);
  if (!certificate) return my.handle == 0 ? kErrorNotFound : LastError();
  HCRYPTPROV_OR_NCRYPT_KEY_HANDLE handle = 0;
  DWORD keySpec = 0;
  BOOL callerFrees = FALSE;
  DWORD flags = CRYPT_ACQUIRE_CACHE_FLAG | (silent ? CRYPT_ACQUIRE_SILENT_FLAG : 0);
  if (!CryptAcquireCertificatePrivateKey(certificate.get(), flags, nullptr, &handle, &keySpec, &callerFrees)) {
    return LastError();
  }
  auto object = std::make_shared<KeyObject>();
  object->certificate = certificate.release();
  object->handle = handle;
  object->keySpec = keySpec;
  object->callerFrees = callerFrees != FALSE;
  key->privateKey = std::move(object);
  HCRYPTPROV provider = static_cast<HCRYPTPROV>(handle);
  if (TextParam(provider, PP_CONTAINER, &key->containerName) != 0) key->containerName.clear();
  if (TextParam(provider, PP_UNIQUE_CONTAINER, &key->uniqueName) != 0) key->uniqueName = key->containerName;
  const CERT_PUBLIC_KEY_INFO& own = key->privateKey->certificate->pCertInfo->SubjectPublicKeyInfo;
  key->publicKey = Encode(X509_PUBLIC_KEY_INFO, &own);
  return 0;
}

uint32_t SetSignaturePin(Key* key, const std::string& pin) {
  HCRYPTPROV provider = ProviderOf(*key);
  if (provider == 0) return key->keyError != 0 ? key->keyError : kErrorBadKeyset;
  if (!CryptSetProvParam(provider, PP_SIGNATURE_PIN, reinterpret_cast<const BYTE*>(pin.c_str()), 0)) {
    uint32_t error = LastError();
    key->keyError = error;
    return error;
  }
  key->keyError = 0;
  return 0;
}

uint32_t GetContainerName(const Key& key, std::string* name) {
  HCRYPTPROV provider = ProviderOf(key);
  if (provider == 0) return kErrorBadKeyset;
  return TextParam(provider, PP_CONTAINER, name);
}

uint32_t GetUniqueContainerName(const Key& key, std::string* name) {
  HCRYPTPROV provider = ProviderOf(key);
  if (provider == 0) return kErrorBadKeyset;
  return TextParam(provider, PP_UNIQUE_CONTAINER, name);
}

uint32_t GetKeyProviderType(const Key& key, int* providerType) {
  HCRYPTPROV provider = ProviderOf(key);
  if (provider == 0) return kErrorBadKeyset;
  DWORD type = 0;
  uint32_t error = DwordParam(provider, PP_PROVTYPE, &type);
  if (error != 0) {
    // A provider that does not answer the query: the type the certificate's
    // key-provider property names.
    LocalPtr<CRYPT_KEY_PROV_INFO> info = ProviderInfo(key.privateKey->certificate);
    if (!info) return error;
    type = info->dwProvType;
  }
  *providerType = static_cast<int>(type);
  return 0;
}

uint32_t OpenContainer(const std::string& uniqueName, int providerType, Key* key) {
  *key = Key();
  if (providerType == 0) return kErrorBadProviderType;
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextA(&provider, uniqueName.c_str(), nullptr, static_cast<DWORD>(providerType), CRYPT_SILENT)) {
    return LastError();
  }
  auto object = std::make_shared<KeyObject>();
  object->handle = provider;
  object->callerFrees = true;
  key->privateKey = std::move(object);
  key->uniqueName = uniqueName;
  if (TextParam(provider, PP_CONTAINER, &key->containerName) != 0) key->containerName = uniqueName;
  return 0;
}

uint32_t ReleaseKey(Key* key) noexcept {
  // The KeyObject gives back its handle (when it is ours) and its
  // certificate context when its last holder lets go.
  key->uniqueName.clear();
  key->containerName.clear();
  key->publicKey.clear();
  key->privateKey.reset();
  key->keyError = 0;
  return 0;
}

Outcome ExportPublicKeyInfo(const Key& key, Bytes* der) {
  HCRYPTPROV provider = ProviderOf(key);
  if (provider == 0) return {kErrorBadKeyset, Step::Size};
  DWORD size = 0;
  if (!CryptExportPublicKeyInfo(provider, key.privateKey->keySpec, X509_ASN_ENCODING, nullptr, &size)) {
    return {LastError(), Step::Size};
  }
  std::vector<BYTE> buffer(size);
  auto* info = reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(buffer.data());
  if (!CryptExportPublicKeyInfo(provider, key.privateKey->keySpec, X509_ASN_ENCODING, info, &size)) {
    return {LastError(), Step::Data};
  }
  Bytes encoded = Encode(X509_PUBLIC_KEY_INFO, info);
  if (encoded.empty()) return {LastError(), Step::Data};
  *der = std::move(encoded);
  return {};
}

}  // namespace crypto::provider
