// Helpers shared by the CryptoAPI backend of the provider layer: owning
// handles, the last error as the provider's code, the two-call pattern of
// the Crypt* functions, names, times and serial numbers. Only the files of
// this folder include it.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crypto/provider/provider.h"

namespace crypto::provider::cryptoapi {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// GetLastError() as the layer's code; kErrorFailed when the call set none.
uint32_t LastError();

struct CertFree {
  void operator()(const CERT_CONTEXT* context) const { CertFreeCertificateContext(context); }
};
struct CrlFree {
  void operator()(const CRL_CONTEXT* context) const { CertFreeCRLContext(context); }
};
struct MsgClose {
  void operator()(void* message) const { CryptMsgClose(message); }
};
struct LocalFreeDeleter {
  void operator()(void* memory) const { LocalFree(memory); }
};
using CertPtr = std::unique_ptr<const CERT_CONTEXT, CertFree>;
using CrlPtr = std::unique_ptr<const CRL_CONTEXT, CrlFree>;
using MsgPtr = std::unique_ptr<void, MsgClose>;
template <class T>
using LocalPtr = std::unique_ptr<T, LocalFreeDeleter>;

// A certificate or list context of its own from DER; null (the last error
// set) when the bytes are none.
CertPtr MakeCertificate(const Bytes& der);
CrlPtr MakeCrl(const Bytes& der);

// The context of the store's certificate with the same encoding; null when
// the store has none.
CertPtr FindInStore(HCERTSTORE store, const Bytes& der);

// Bytes of a blob.
Bytes BlobBytes(const CRYPT_DATA_BLOB& blob);

// A decoded structure (CryptDecodeObjectEx with CRYPT_DECODE_ALLOC_FLAG);
// null on failure.
template <class T>
LocalPtr<T> Decode(LPCSTR structType, const BYTE* data, DWORD size) {
  void* decoded = nullptr;
  DWORD decodedSize = 0;
  if (!CryptDecodeObjectEx(kEncoding, structType, data, size, CRYPT_DECODE_ALLOC_FLAG, nullptr, &decoded,
                           &decodedSize)) {
    return nullptr;
  }
  return LocalPtr<T>(static_cast<T*>(decoded));
}

// An encoding (CryptEncodeObjectEx); empty on failure.
Bytes Encode(LPCSTR structType, const void* structure);

// A message parameter read with its size first; false on failure.
bool MessageParam(HCRYPTMSG message, DWORD param, DWORD index, Bytes* value);

// Serial numbers: CryptoAPI keeps them little-endian; the layer hands out
// the big-endian magnitude.
Bytes SerialMagnitude(const CRYPT_INTEGER_BLOB& serial);

// Simple display name of an encoded name: the first common name, else
// unit, else organisation, else e-mail address; empty when none.
std::wstring DisplayName(const CERT_NAME_BLOB& name);

// Whether two encoded names are the same name: equal encodings, or the same
// text once letter case and runs of spaces are set aside.
bool SameName(const CERT_NAME_BLOB& a, const CERT_NAME_BLOB& b);

int64_t FileTimeValue(const FILETIME& time);
FILETIME FileTimeOf(int64_t value);

// Records the flags of a message call for LastMessageFlagsForTest.
void NoteMessageFlags(uint32_t flags);

}  // namespace crypto::provider::cryptoapi

namespace crypto::provider {

// The opened key of a certificate: what CryptAcquireCertificatePrivateKey
// gave for the certificate context of "My", kept with that context, which
// the signing calls hand to CryptSignMessage and CMSG_CTRL_ADD_SIGNER.
struct KeyObject {
  const CERT_CONTEXT* certificate = nullptr;  // the certificate of "My" (a reference of its own); null for a container opened by name
  HCRYPTPROV_OR_NCRYPT_KEY_HANDLE handle = 0; // provider or key handle
  DWORD keySpec = 0;                          // AT_KEYEXCHANGE or AT_SIGNATURE
  bool callerFrees = false;                   // the handle is ours to release (not cached with the context)
  ~KeyObject();
};

}  // namespace crypto::provider
