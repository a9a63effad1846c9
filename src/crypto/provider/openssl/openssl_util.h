// Helpers shared by the OpenSSL backend of the provider layer: owning
// pointers for the library's objects, DER and time conversions, names and
// the object identifiers the program uses. Only the files of this folder
// and the backend's tests include it.
#pragma once

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crypto/provider/provider.h"

namespace crypto::provider::openssl {

template <auto Free>
struct Deleter {
  template <class T>
  void operator()(T* object) const { Free(object); }
};

using BioPtr = std::unique_ptr<BIO, Deleter<BIO_free_all>>;
using X509Ptr = std::unique_ptr<X509, Deleter<X509_free>>;
using CrlPtr = std::unique_ptr<X509_CRL, Deleter<X509_CRL_free>>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, Deleter<CMS_ContentInfo_free>>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX_free>>;
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, Deleter<EVP_CIPHER_CTX_free>>;
using MdPtr = std::unique_ptr<EVP_MD, Deleter<EVP_MD_free>>;
using CipherPtr = std::unique_ptr<EVP_CIPHER, Deleter<EVP_CIPHER_free>>;
using AsnTimePtr = std::unique_ptr<ASN1_TIME, Deleter<ASN1_TIME_free>>;
using OctetPtr = std::unique_ptr<ASN1_OCTET_STRING, Deleter<ASN1_OCTET_STRING_free>>;
using AsnTypePtr = std::unique_ptr<ASN1_TYPE, Deleter<ASN1_TYPE_free>>;
using PubkeyPtr = std::unique_ptr<X509_PUBKEY, Deleter<X509_PUBKEY_free>>;
using SigPtr = std::unique_ptr<X509_SIG, Deleter<X509_SIG_free>>;
using P8InfoPtr = std::unique_ptr<PKCS8_PRIV_KEY_INFO, Deleter<PKCS8_PRIV_KEY_INFO_free>>;

struct CertStackFree {
  void operator()(STACK_OF(X509)* stack) const { sk_X509_pop_free(stack, X509_free); }
};
using CertStackPtr = std::unique_ptr<STACK_OF(X509), CertStackFree>;

// Parsing; null on failure. The whole input must be used. Parsing a
// certificate decodes its public key, which is slow in OpenSSL 3, and
// revocation lists are parsed for every signature checked, so
// ParseCertificate and ParseCrl share the objects they parsed (found again
// by their encoding) for the life of the process: the object they
// return must not be changed. ParseCertificateCopy returns an object of
// the caller's own.
X509Ptr ParseCertificate(const Bytes& der);
X509Ptr ParseCertificateCopy(const Bytes& der);
CrlPtr ParseCrl(const Bytes& der);
CmsPtr ParseCms(const Bytes& der);

// For a DER signed message carrying plain certificates: the same message
// without its certificates field, and the encodings of the certificates in
// their order. False, with nothing to use, for any other input (which is
// then parsed whole). Defined in signed_data.cpp.
bool SplitSignedCertificates(const Bytes& message, Bytes* withoutCertificates, std::vector<Bytes>* certificates);

// DER of an object through its i2d function; empty on failure.
template <class T, class EncodeFunction>
Bytes Encode(const T* object, EncodeFunction encode) {
  int size = encode(object, nullptr);
  if (size <= 0) return {};
  Bytes out(static_cast<size_t>(size));
  unsigned char* cursor = out.data();
  if (encode(object, &cursor) != size) return {};
  return out;
}

Bytes EncodeName(const X509_NAME* name);
Bytes EncodeCertificate(X509* certificate);
// The content bytes of an OCTET STRING, INTEGER and the like.
Bytes StringBytes(const ASN1_STRING* text);
// A canonical DER SubjectPublicKeyInfo of a key; empty on failure.
Bytes EncodePublicKey(const EVP_PKEY* key);

// Simple display name: the first common name, else unit, else
// organisation, else e-mail address; empty when none.
std::wstring DisplayName(const X509_NAME* name);
// Text of the first attribute `nid` of a name; empty when absent.
std::wstring NameAttribute(const X509_NAME* name, int nid);

// ASN1_TIME <-> file time (100-ns units since 1601, UTC).
bool TimeToFileTime(const ASN1_TIME* time, int64_t* fileTime);
AsnTimePtr FileTimeToTime(int64_t fileTime);

// Key-identifier property of a certificate: its subject key identifier
// extension, else the SHA-1 of its public key bits.
Bytes CertificateKeyId(X509* certificate);

// Dotted text of an object identifier.
std::string OidText(const ASN1_OBJECT* object);

// The algorithms standing in for the object identifiers the program
// passes (see docs/crypto-provider.md); null when unknown.
const EVP_MD* HashForOid(const std::string& oid);
const EVP_CIPHER* CipherForOid(const std::string& oid);
extern const char kSigningTimeOid[];  // "1.2.840.113549.1.9.5"

// Records the flags of a message call for LastMessageFlagsForTest.
void NoteMessageFlags(uint32_t flags);

// Reads a whole BIO into bytes.
Bytes ReadAll(BIO* bio);

// A memory BIO over bytes (an empty one for no bytes).
BioPtr MemoryBio(const Bytes& data);

// The blocks of a PEM text, in order.
struct PemBlock {
  std::string name;  // label after BEGIN
  Bytes der;         // decoded body
};
std::vector<PemBlock> ReadPemBlocks(const Bytes& data);

// SHA-256 of bytes; names a key container file's contents.
Bytes Sha256(const Bytes& data);

// The digest of a container file as the kept reading of "My" holds it,
// while the folder's watch vouches that nothing in it changed since that
// reading (stores.cpp); empty when there is no such reading or the file is
// not in it. A change it notices drops the reading.
Bytes KeptContainerDigest(const std::string& path);

}  // namespace crypto::provider::openssl

namespace crypto::provider {

// The opened private key behind Key::privateKey.
struct KeyObject {
  openssl::PkeyPtr key;  // the private key
};

}  // namespace crypto::provider
