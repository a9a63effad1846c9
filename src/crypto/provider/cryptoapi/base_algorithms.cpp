// The platform's basic algorithms in the CryptoAPI backend: MD5 and the
// 40-bit RC4 of "Microsoft Base Cryptographic Provider v1.0" for the
// exchange-file cipher, SHA-512 of the AES provider for the link, and the
// wiping of secrets. Each call opens and releases its own verify-only
// context.
#include "crypto/provider/cryptoapi/cryptoapi_util.h"

namespace crypto::provider {

namespace {

using namespace cryptoapi;

// A verify-only context and a hash in it, released together.
struct HashHandles {
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  HCRYPTKEY key = 0;
  ~HashHandles() {
    if (key != 0) CryptDestroyKey(key);
    if (hash != 0) CryptDestroyHash(hash);
    if (provider != 0) CryptReleaseContext(provider, 0);
  }
};

bool AcquireBase(HCRYPTPROV* provider) {
  return CryptAcquireContextW(provider, nullptr, MS_DEF_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT | CRYPT_SILENT) !=
         FALSE;
}

}  // namespace

uint32_t LoadBaseAlgorithms() {
  HashHandles handles;
  return AcquireBase(&handles.provider) ? 0 : LastError();
}

Outcome Md5(const uint8_t* data, size_t size, std::array<uint8_t, 16>* digest) {
  HashHandles handles;
  if (!AcquireBase(&handles.provider) || !CryptCreateHash(handles.provider, CALG_MD5, 0, 0, &handles.hash)) {
    return {LastError(), Step::Open};
  }
  if (!CryptHashData(handles.hash, data, static_cast<DWORD>(size), 0)) return {LastError(), Step::Update};
  DWORD length = static_cast<DWORD>(digest->size());
  if (!CryptGetHashParam(handles.hash, HP_HASHVAL, digest->data(), &length, 0) || length != digest->size()) {
    return {LastError(), Step::Data};
  }
  return {};
}

Outcome Rc4(const std::array<uint8_t, 16>& md5, size_t keySize, uint8_t* data, size_t size) {
  if (keySize == 0 || keySize > md5.size()) return {static_cast<uint32_t>(NTE_BAD_LEN), Step::Open};
  HashHandles handles;
  // The hash holds the given MD5 value; the key is derived from it without
  // salt, its length the provider's default (40 bits) unless asked otherwise.
  DWORD flags = CRYPT_NO_SALT;
  if (keySize != 5) flags |= static_cast<DWORD>(keySize * 8) << 16;
  if (!AcquireBase(&handles.provider) || !CryptCreateHash(handles.provider, CALG_MD5, 0, 0, &handles.hash) ||
      !CryptSetHashParam(handles.hash, HP_HASHVAL, md5.data(), 0) ||
      !CryptDeriveKey(handles.provider, CALG_RC4, handles.hash, flags, &handles.key)) {
    return {LastError(), Step::Open};
  }
  // A stream cipher: the text keeps its length; one final block.
  DWORD length = static_cast<DWORD>(size);
  if (size > 0 && !CryptEncrypt(handles.key, 0, TRUE, 0, data, &length, length)) return {LastError(), Step::Size};
  return {};
}

Outcome Sha512(const uint8_t* data, size_t size, uint8_t digest[kSha512Bytes]) {
  HashHandles handles;
  if (!CryptAcquireContextW(&handles.provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) {
    return {LastError(), Step::Acquire};
  }
  if (!CryptCreateHash(handles.provider, CALG_SHA_512, 0, 0, &handles.hash)) return {LastError(), Step::Open};
  if (size > 0 && !CryptHashData(handles.hash, data, static_cast<DWORD>(size), 0)) return {LastError(), Step::Update};
  DWORD length = kSha512Bytes;
  if (!CryptGetHashParam(handles.hash, HP_HASHVAL, digest, &length, 0) || length != kSha512Bytes) {
    return {LastError(), Step::Data};
  }
  return {};
}

void WipeBytes(void* data, size_t size) noexcept {
  SecureZeroMemory(data, size);
}

}  // namespace crypto::provider
