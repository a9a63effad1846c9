// Provider contexts and key containers of the OpenSSL backend.
//
// A key container is a PEM file in "My" holding the private key as an
// encrypted PKCS #8 block and, beside it, the public key in clear, which
// ties it to its certificate without the PIN (docs/crypto-provider.md).
// Opening the key with the PIN runs the key derivation of PKCS #8, which is
// slow on purpose; as a smart-card provider remembers an entered PIN, the
// backend keeps keys it opened for the life of the process, under the
// digest of the container file, so the next opening is immediate. The
// digest is taken when the store reads the folder; while the folder's
// watch reports no change, opening a key reads no file (stores.cpp).
#include <openssl/err.h>
#include <openssl/opensslv.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>

#include <algorithm>
#include <mutex>

#include "crypto/provider/openssl/openssl_util.h"
#include "platform/error.h"
#include "platform/file.h"

namespace crypto::provider {

namespace {

using namespace openssl;

constexpr int kOwnProviderType = 99;
constexpr char kOwnProviderName[] = "Tessarin OpenSSL Provider";
constexpr size_t kCacheSize = 16;

struct CachedKey {
  Bytes fileDigest;              // SHA-256 of the container file
  Bytes pinDigest;               // SHA-256 of the PIN that opened it
  std::shared_ptr<KeyObject> key; // the opened key
};

// Never destroyed, like the library objects it holds (see openssl_util.cpp).
std::mutex cacheLock;
std::vector<CachedKey>& cache = *new std::vector<CachedKey>;  // newest last, guarded by cacheLock

std::shared_ptr<KeyObject> CachedByFile(const Bytes& fileDigest) {
  std::lock_guard<std::mutex> hold(cacheLock);
  for (auto it = cache.rbegin(); it != cache.rend(); ++it) {
    if (it->fileDigest == fileDigest) return it->key;
  }
  return nullptr;
}

std::shared_ptr<KeyObject> CachedByPin(const Bytes& fileDigest, const Bytes& pinDigest) {
  std::lock_guard<std::mutex> hold(cacheLock);
  for (const CachedKey& entry : cache) {
    if (entry.fileDigest == fileDigest && entry.pinDigest == pinDigest) return entry.key;
  }
  return nullptr;
}

void Remember(const Bytes& fileDigest, const Bytes& pinDigest, std::shared_ptr<KeyObject> key) {
  std::lock_guard<std::mutex> hold(cacheLock);
  cache.erase(std::remove_if(cache.begin(), cache.end(),
                             [&](const CachedKey& entry) { return entry.fileDigest == fileDigest; }),
              cache.end());
  if (cache.size() >= kCacheSize) cache.erase(cache.begin());
  cache.push_back({fileDigest, pinDigest, std::move(key)});
}

// The container file as it is now; kErrorNoSmartCard when it went away.
uint32_t ReadContainer(const std::string& path, Bytes* data) {
  if (!platform::ReadWholeFile(path, data)) {
    return platform::ErrorKindOf(platform::LastSystemError()) == platform::ErrorKind::NotFound
               ? kErrorNoSmartCard
               : kErrorBadKeyset;
  }
  return 0;
}

// The encrypted private key block of a container file.
bool EncryptedKeyBlock(const Bytes& file, Bytes* der) {
  for (PemBlock& block : ReadPemBlocks(file)) {
    if (block.name == "ENCRYPTED PRIVATE KEY") {
      *der = std::move(block.der);
      return true;
    }
  }
  return false;
}

// Decrypts the container with the PIN; the key must match the public key
// kept beside it.
uint32_t OpenWithPin(const Bytes& file, const std::string& pin, const Bytes& publicKey,
                     std::shared_ptr<KeyObject>* opened) {
  Bytes der;
  if (!EncryptedKeyBlock(file, &der)) return kErrorBadKeyset;
  const unsigned char* cursor = der.data();
  SigPtr encrypted(d2i_X509_SIG(nullptr, &cursor, static_cast<long>(der.size())));
  if (!encrypted) {
    ERR_clear_error();
    return kErrorBadKeyset;
  }
  P8InfoPtr plain(PKCS8_decrypt(encrypted.get(), pin.data(), static_cast<int>(pin.size())));
  PkeyPtr key(plain ? EVP_PKCS82PKEY(plain.get()) : nullptr);
  ERR_clear_error();
  if (!key) return kErrorWrongPin;
  const unsigned char* publicCursor = publicKey.data();
  PkeyPtr expected(d2i_PUBKEY(nullptr, &publicCursor, static_cast<long>(publicKey.size())));
  bool matches = expected && EVP_PKEY_eq(key.get(), expected.get()) == 1;
  ERR_clear_error();
  if (!matches) return kErrorBadKeyset;
  auto object = std::make_shared<KeyObject>();
  object->key = std::move(key);
  *opened = std::move(object);
  return 0;
}

}  // namespace

int OwnProviderType() {
  return kOwnProviderType;
}

uint32_t AcquireVerifyContext(int providerType, Context* context) {
  *context = Context();
  if (providerType == 0) return kErrorBadProviderType;
  context->providerType = providerType;
  return 0;
}

void ReleaseContext(Context* context) noexcept {
  context->providerType = 0;
  context->handle = 0;
}

uint32_t GetProviderName(const Context& context, std::string* name) {
  if (context.providerType == 0) return kErrorBadProviderType;
  *name = kOwnProviderName;
  return 0;
}

uint32_t GetProviderVersion(const Context& context, uint32_t* version) {
  if (context.providerType == 0) return kErrorBadProviderType;
  *version = (static_cast<uint32_t>(OPENSSL_VERSION_MAJOR) << 8) | OPENSSL_VERSION_MINOR;
  return 0;
}

uint32_t AcquireCertificateKey(const Store& my, const Bytes& certDer, bool /*silent*/, Key* key) {
  *key = Key();
  X509Ptr certificate = ParseCertificate(certDer);
  if (!certificate) {
    ERR_clear_error();
    return kErrorBadData;
  }
  Bytes publicKey = Encode(X509_get_X509_PUBKEY(certificate.get()), i2d_X509_PUBKEY);
  ERR_clear_error();
  const Container* found = nullptr;
  for (const Container& container : my.containers) {
    if (!publicKey.empty() && container.publicKey == publicKey) {
      found = &container;
      break;
    }
  }
  if (found == nullptr) return kErrorNoSmartCard;
  // The file is read again unless the folder's watch vouches that it is
  // still what the store read.
  Bytes fileDigest = KeptContainerDigest(found->path);
  if (fileDigest.empty() || fileDigest != found->fileDigest) {
    Bytes file;
    if (uint32_t error = ReadContainer(found->path, &file)) return error;
    fileDigest = Sha256(file);
  }
  key->uniqueName = found->path;
  key->containerName = found->name;
  key->publicKey = found->publicKey;
  key->privateKey = CachedByFile(fileDigest);
  key->keyError = key->privateKey ? 0 : kErrorWrongPin;
  return 0;
}

uint32_t SetSignaturePin(Key* key, const std::string& pin) {
  Bytes pinDigest = Sha256(Bytes(pin.begin(), pin.end()));
  // A key this PIN opened before, from the file as the watched store
  // still holds it, needs no reading.
  Bytes keptDigest = KeptContainerDigest(key->uniqueName);
  if (!keptDigest.empty()) {
    if (std::shared_ptr<KeyObject> opened = CachedByPin(keptDigest, pinDigest)) {
      key->privateKey = std::move(opened);
      key->keyError = 0;
      return 0;
    }
  }
  Bytes file;
  if (uint32_t error = ReadContainer(key->uniqueName, &file)) {
    key->privateKey.reset();
    key->keyError = error;
    return error;
  }
  Bytes fileDigest = Sha256(file);
  std::shared_ptr<KeyObject> opened = CachedByPin(fileDigest, pinDigest);
  if (!opened) {
    if (uint32_t error = OpenWithPin(file, pin, key->publicKey, &opened)) {
      key->privateKey.reset();
      key->keyError = error;
      return error;
    }
    Remember(fileDigest, pinDigest, opened);
  }
  key->privateKey = std::move(opened);
  key->keyError = 0;
  return 0;
}

uint32_t GetContainerName(const Key& key, std::string* name) {
  if (key.uniqueName.empty()) return kErrorBadKeyset;
  *name = key.containerName;
  return 0;
}

uint32_t GetUniqueContainerName(const Key& key, std::string* name) {
  if (key.uniqueName.empty()) return kErrorBadKeyset;
  *name = key.uniqueName;
  return 0;
}

uint32_t GetKeyProviderType(const Key& key, int* providerType) {
  if (key.uniqueName.empty()) return kErrorBadKeyset;
  *providerType = kOwnProviderType;
  return 0;
}

uint32_t OpenContainer(const std::string& uniqueName, int providerType, Key* key) {
  *key = Key();
  if (providerType == 0) return kErrorBadProviderType;
  Bytes file;
  if (uint32_t error = ReadContainer(uniqueName, &file)) return error;
  Bytes der;
  if (!EncryptedKeyBlock(file, &der)) return kErrorBadKeyset;
  key->uniqueName = uniqueName;
  size_t slash = uniqueName.rfind('/');
  std::string fileName = slash == std::string::npos ? uniqueName : uniqueName.substr(slash + 1);
  size_t dot = fileName.rfind('.');
  key->containerName = dot == std::string::npos || dot == 0 ? fileName : fileName.substr(0, dot);
  key->privateKey = CachedByFile(Sha256(file));
  key->keyError = key->privateKey ? 0 : kErrorWrongPin;
  return 0;
}

uint32_t ReleaseKey(Key* key) noexcept {
  key->uniqueName.clear();
  key->containerName.clear();
  key->publicKey.clear();
  key->privateKey.reset();
  key->keyError = 0;
  return 0;
}

Outcome ExportPublicKeyInfo(const Key& key, Bytes* der) {
  if (key.publicKey.empty()) return {kErrorBadKeyset, Step::Size};
  *der = key.publicKey;
  return {};
}

}  // namespace crypto::provider
