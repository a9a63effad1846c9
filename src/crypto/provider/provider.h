// The cryptographic provider layer: the narrow set of certificate, key
// container and CMS operations that the signing, verification, certificate
// and exchange-file code of src/crypto/ stands on.
//
// Everything here is plain data: byte vectors holding DER encodings, small
// records, wide names. The Linux backend (provider/openssl/) does the work
// with OpenSSL; the Windows backend (provider/cryptoapi/) passes each call
// through to CryptoAPI. The layer is a library of its own
// (tessarin_crypto_provider) below the link and the cryptography, which
// both use it; CMake picks the backend's files by the target system.
// Which algorithm stands in for which object identifier, where the stores
// live and what the key containers look like is described in
// docs/crypto-provider.md.
//
// Failures are reported as 32-bit codes with the values the Windows calls
// give, so that both backends log the same numbers; file errors of the
// stores are the raw system code. Every function is re-entrant; the
// opened-key cache of the backend is shared under its own lock.
//
// Stores, contexts and keys own system handles on Windows: they are
// move-only, and each gives its handles back when it goes (CloseStore,
// ReleaseContext, ReleaseKey, which may also be called early).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace crypto::provider {

using Bytes = std::vector<uint8_t>;

// Codes ------------------------------------------------------------------------

constexpr uint32_t kErrorBadData = 0x80090005;            // bytes that do not decode as asked
constexpr uint32_t kErrorBadSignature = 0x80090006;       // a signature does not match
constexpr uint32_t kErrorBadAlgorithm = 0x80090008;       // an algorithm identifier the provider lacks
constexpr uint32_t kErrorBadProviderType = 0x80090014;    // provider type 0 (not yet known)
constexpr uint32_t kErrorBadKeyset = 0x80090016;          // the key container cannot be read
constexpr uint32_t kErrorFailed = 0x80090020;             // the library failed for another reason
constexpr uint32_t kErrorInvalidMessageType = 0x80091004; // a CMS message of another kind
constexpr uint32_t kErrorHashValue = 0x80091007;          // content does not match its digest
constexpr uint32_t kErrorInvalidIndex = 0x80091008;       // no signer of that number
constexpr uint32_t kErrorSignerNotFound = 0x8009100E;     // the signer's certificate is not in the message
constexpr uint32_t kErrorNotFound = 0x80092004;           // no such certificate, list or attribute
constexpr uint32_t kErrorNoDecryptCert = 0x8009200C;      // the envelope is for somebody else
constexpr uint32_t kErrorNoSmartCard = 0x8010000C;        // the key medium (container file) is missing
constexpr uint32_t kErrorWrongPin = 0x8010006B;           // the PIN does not open the container

// Message flags passed with every signing, encryption and decryption.
constexpr uint32_t kMessageFlagRecipientKeyId = 0x4;  // name recipients by key identifier
constexpr uint32_t kMessageFlagSilent = 0x40;         // never ask the user

// The provider type, name and version this backend reports for itself.
int OwnProviderType();

// Step of a multi-step operation that failed, so the caller can log the
// failure under the name of that step.
enum class Step {
  None,       // nothing failed
  Acquire,    // acquiring the provider's context
  Open,       // preparing: opening a message for decoding, creating a hash or key
  Update,     // feeding the input: decoding the message bytes, hashing data
  Size,       // the main work (the size query of the Windows call)
  Data,       // handing out the result
  AddSigner,  // adding a further signer to a signed message
  AddCert,    // adding the signer's certificate to a signed message
};

struct Outcome {
  uint32_t error = 0;      // 0 on success
  Step step = Step::None;  // where it failed
  bool ok() const { return error == 0; }
};

// Stores -----------------------------------------------------------------------

enum class StoreName {
  My,  // the user's certificates with their key containers
  CA,  // certificates of issuers and revocation lists
};

// A key container found in "My": its file and the public key it holds.
struct Container {
  std::string path;  // unique container name (the file's full path on Linux)
  std::string name;  // container name as the provider reports it
  Bytes publicKey;   // DER SubjectPublicKeyInfo kept beside the encrypted key
  Bytes fileDigest;  // SHA-256 of the container file as the store read it (Linux)
};

struct Store;
// Gives the store's handle back and empties it; the destructor calls it.
void CloseStore(Store* store) noexcept;

// A store as read at opening: its certificates, revocation lists and key
// containers in a stable order (file name order on Linux).
struct Store {
  StoreName name = StoreName::My;    // which store
  std::vector<Bytes> certificates;   // DER certificates
  std::vector<Bytes> crls;           // DER revocation lists
  std::vector<Container> containers; // key containers (My only, Linux)
  intptr_t handle = 0;               // HCERTSTORE on Windows, unused on Linux

  Store() = default;
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;
  Store(Store&& other) noexcept { *this = std::move(other); }
  Store& operator=(Store&& other) noexcept {
    if (this != &other) {
      CloseStore(this);
      name = other.name;
      certificates = std::move(other.certificates);
      crls = std::move(other.crls);
      containers = std::move(other.containers);
      handle = std::exchange(other.handle, 0);
    }
    return *this;
  }
  ~Store() { CloseStore(this); }
};

// Folder of the stores ending with '/': $TESSARIN_CERTSTORE, else
// ${XDG_DATA_HOME:-$HOME/.local/share}/Tessarin/certstore.
std::string StoreRoot();

// Reads a store. A missing folder fails with the system's code.
uint32_t OpenStore(StoreName name, Store* store);

// Certificates -----------------------------------------------------------------

struct Extension {
  std::string oid;  // dotted object identifier
  bool critical;    // marked critical
  Bytes value;      // the encoded extension value (content of its OCTET STRING)
};

// What the program reads from one certificate.
struct CertInfo {
  std::wstring subjectName;  // simple display name of the subject
  std::wstring issuerName;   // simple display name of the issuer
  std::wstring surname;      // attribute 2.5.4.4 of the subject, or empty
  std::wstring givenName;    // attribute 2.5.4.41 ("name") of the subject, or empty
  Bytes subject;             // DER of the subject name
  Bytes issuer;              // DER of the issuer name
  Bytes serial;              // serial number, big-endian magnitude
  int64_t notBefore = 0;     // validity start, file time (UTC)
  int64_t notAfter = 0;      // validity end, file time (UTC)
  Bytes keyId;               // key-identifier property (see docs)
  Bytes publicKeyInfo;       // DER SubjectPublicKeyInfo
  Bytes signatureParameters; // encoded parameters of the certificate's signature algorithm, or empty
  std::vector<Extension> extensions;  // in certificate order
};

// Parses a DER certificate.
uint32_t ReadCertificate(const Bytes& der, CertInfo* info);

// Accepts a certificate in any format the program meets (DER or PEM) and
// hands out its DER; anything else fails with kErrorBadData.
uint32_t QueryCertificate(const Bytes& data, Bytes* der);

// The first certificate of the store whose key-identifier property equals
// keyId (all 20 bytes); kErrorNotFound when none.
uint32_t FindCertificateByKeyId(const Store& store, const uint8_t* keyId, size_t keyIdSize, Bytes* der);

// A modified copy of a certificate, for encrypting to a key that the
// certificate does not carry: the key-identifier property set to keyId, or
// the public key replaced by `publicKey`, given as a DER
// SubjectPublicKeyInfo or as the bare key bits of the certificate's own
// algorithm. A key that does not fit fails with kErrorBadData.
uint32_t SetCertificateKeyId(Bytes* certDer, const Bytes& keyId);
uint32_t SetCertificatePublicKey(Bytes* certDer, const Bytes& publicKey);

struct PublicKeyInfo {
  std::string algorithm;  // dotted object identifier of the key's algorithm
  Bytes parameters;       // encoded algorithm parameters
  Bytes key;              // the key bits
};

// Decodes a DER SubjectPublicKeyInfo (Size: not decodable, Data: no usable key).
Outcome DecodePublicKeyInfo(const Bytes& der, PublicKeyInfo* info);

// Revocation lists -------------------------------------------------------------

struct CrlInfo {
  std::wstring issuerName;  // simple display name of the issuer
  Bytes issuer;             // DER of the issuer name
  int64_t thisUpdate = 0;   // file time (UTC)
  int64_t nextUpdate = 0;   // file time (UTC); 0 when the list has none
};

uint32_t ReadCrl(const Bytes& der, CrlInfo* info);

// Whether the certificate is listed as revoked in the list.
uint32_t FindCertificateInCrl(const Bytes& crlDer, const Bytes& certDer, bool* listed);

// Whether the list's issuer is the certificate's issuer, the two compared
// as names (in the library's canonical form, where the string type of a
// value, letter case and runs of spaces do not count), not as encodings.
// False when either does not parse.
bool CrlIssuerMatches(const Bytes& crlDer, const Bytes& certDer);

// Checks the list's signature against its issuer: a certificate of the
// store whose subject is the list's issuer (compared as names) and whose
// key verifies the list. 0 when one does; kErrorNotFound when the store
// has no certificate of that subject; kErrorBadSignature when none of them
// verifies it; kErrorBadData when the list does not parse. What a
// certificate made of a list is kept with the parsed list, so checking the
// same list again verifies no signature.
uint32_t VerifyCrlSignature(const Store& store, const Bytes& crlDer);

// Provider contexts --------------------------------------------------------------

struct Context;
// Gives the context's handle back; the destructor calls it.
void ReleaseContext(Context* context) noexcept;

// A verify-only context of a provider type. The backend serves every
// nonzero type; type 0 fails with kErrorBadProviderType.
struct Context {
  int providerType = 0;  // type asked for
  intptr_t handle = 0;   // HCRYPTPROV on Windows, unused on Linux

  Context() = default;
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;
  Context(Context&& other) noexcept { *this = std::move(other); }
  Context& operator=(Context&& other) noexcept {
    if (this != &other) {
      ReleaseContext(this);
      providerType = std::exchange(other.providerType, 0);
      handle = std::exchange(other.handle, 0);
    }
    return *this;
  }
  ~Context() { ReleaseContext(this); }
};

uint32_t AcquireVerifyContext(int providerType, Context* context);
uint32_t GetProviderName(const Context& context, std::string* name);
// (major << 8) | minor.
uint32_t GetProviderVersion(const Context& context, uint32_t* version);

// Key containers -------------------------------------------------------------------

// The opened private key with everything a signature, a further signer or
// a decryption needs, defined by the backend: the OpenSSL key on Linux; on
// Windows the certificate context of "My" the key belongs to, the provider
// (or key) handle and which of the container's keys it is (AT_SIGNATURE or
// AT_KEYEXCHANGE).
struct KeyObject;

struct Key;
// Gives the key's handles back (0, or the code of the failed release) and
// empties it; the destructor calls it.
uint32_t ReleaseKey(Key* key) noexcept;

// The private key of a certificate as the caller holds it.
struct Key {
  std::string uniqueName;               // unique container name
  std::string containerName;            // container name
  Bytes publicKey;                      // DER SubjectPublicKeyInfo of the container
  std::shared_ptr<KeyObject> privateKey; // opened key; null until it can be used (Linux: a PIN or the cache opened it)
  uint32_t keyError = 0;                // why privateKey is null (last PIN failure)

  Key() = default;
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  Key(Key&& other) noexcept { *this = std::move(other); }
  Key& operator=(Key&& other) noexcept {
    if (this != &other) {
      ReleaseKey(this);
      uniqueName = std::move(other.uniqueName);
      containerName = std::move(other.containerName);
      publicKey = std::move(other.publicKey);
      privateKey = std::move(other.privateKey);
      keyError = std::exchange(other.keyError, 0);
    }
    return *this;
  }
  ~Key() { ReleaseKey(this); }
};

// Finds the container of a certificate of "My" and makes it ready. A
// container that is not there (a removed file: a missing key medium) fails
// with kErrorNoSmartCard. Silent or not, no question is asked on Linux: an
// earlier opening with the right PIN in this process (the cache) opens the
// key at once.
uint32_t AcquireCertificateKey(const Store& my, const Bytes& certDer, bool silent, Key* key);

// Opens the key with the PIN (code page 1251 bytes); kErrorWrongPin when it
// does not open it, kErrorNoSmartCard when the file went away.
uint32_t SetSignaturePin(Key* key, const std::string& pin);

uint32_t GetContainerName(const Key& key, std::string* name);
uint32_t GetUniqueContainerName(const Key& key, std::string* name);
uint32_t GetKeyProviderType(const Key& key, int* providerType);

// Opens a container by its unique name, as a provider of the given type.
uint32_t OpenContainer(const std::string& uniqueName, int providerType, Key* key);

// The DER SubjectPublicKeyInfo of the container's key.
Outcome ExportPublicKeyInfo(const Key& key, Bytes* der);

// CMS messages ---------------------------------------------------------------------

struct SignParams {
  std::string hashOid;         // hash algorithm of the signature
  Bytes hashParameters;        // encoded parameters of the hash algorithm, or empty
  std::string signingTimeOid;  // the one signed attribute: signing time
  int64_t signingTime = 0;     // its value, file time (UTC)
  uint32_t flags = 0;          // message flags (kMessageFlag...)
};

// A signed message with embedded content, signed by the key with the
// certificate included. Size: signing failed; Data: encoding failed.
Outcome SignMessage(const Key& key, const Bytes& certDer, const SignParams& params,
                    const Bytes& content, Bytes* message);

// Adds a signer (and its certificate) to a signed message. Update: the
// message does not decode; AddSigner, AddCert; Size/Data: re-encoding.
Outcome AddSigner(const Key& key, const Bytes& certDer, const SignParams& params,
                  const Bytes& message, Bytes* out);

struct EncryptParams {
  std::string contentOid;  // content encryption algorithm
  uint32_t flags = 0;      // message flags; kMessageFlagRecipientKeyId names recipients by key identifier
};

// An enveloped message for the certificates. Size: the encryption failed;
// Data: encoding failed.
Outcome EncryptMessage(const Context& context, const std::vector<Bytes>& recipients,
                       const EncryptParams& params, const Bytes& content, Bytes* envelope);

// Opens an envelope with the key of the certificate. kErrorNoDecryptCert
// when the envelope has no recipient for it. The envelope is looked at
// before the key: the key's own error (kErrorNoSmartCard, kErrorWrongPin,
// kErrorBadKeyset) comes only for an envelope addressed to it. Size:
// decryption; Data: output.
Outcome DecryptMessage(const Key& key, const Bytes& certDer, const Bytes& envelope,
                       uint32_t flags, Bytes* content);

// What a byte block holds, as far as the message functions care.
enum class ObjectKind {
  Unknown,       // not an object the provider knows
  Certificate,   // a single certificate
  Signed,        // a CMS signed message
  OtherMessage,  // a CMS message of another type (an envelope, ...)
};

struct SignedAttribute {
  std::string oid;  // dotted attribute type
  Bytes value;      // DER of its first value
};

struct SignerInfo {
  Bytes issuer;                 // DER issuer name of the signer's certificate, empty when named by key identifier
  Bytes serial;                 // its serial number, big-endian magnitude
  Bytes keyId;                  // subject key identifier, when the signer is named so
  bool hasSigningTime = false;  // a signing-time attribute is present and decodes
  int64_t signingTime = 0;      // its value, file time (UTC)
  std::vector<SignedAttribute> attributes;  // signed attributes in message order
};

struct DecodedMessage {
  ObjectKind kind = ObjectKind::Unknown;  // what the bytes are
  std::vector<Bytes> certificates;        // DER certificates carried by a signed message, in order
  std::vector<SignerInfo> signers;        // signers of a signed message, in order
};

// Recognises DER or PEM input. Update: the bytes are no object the
// provider knows (kind stays Unknown).
Outcome DecodeMessage(const Bytes& data, DecodedMessage* message);

// Verifies signer `index` against its certificate among the message's
// certificates (matched by issuer and serial number, or key identifier) and
// hands out the content. Size: no such signer, no certificate, or a bad
// signature; Data: the content cannot be read.
Outcome VerifySigner(const Context& context, const Bytes& message, size_t index, Bytes* content);

// Flags of the last message call of the process, for tests.
uint32_t LastMessageFlagsForTest();

// Exchange-file algorithms -------------------------------------------------------

// Makes MD5 and RC4 ready (the legacy algorithms of the library).
uint32_t LoadBaseAlgorithms();

// Open: no MD5; Update: hashing failed; Data: reading the value failed.
Outcome Md5(const uint8_t* data, size_t size, std::array<uint8_t, 16>* digest);

// RC4 in place with the key derived, without salt, from an MD5 value: its
// first keySize bytes (5 for the 40-bit key of the basic provider). Open:
// no key; Size: enciphering.
Outcome Rc4(const std::array<uint8_t, 16>& md5, size_t keySize, uint8_t* data, size_t size);

// Digest and wiping for the link -------------------------------------------------

constexpr size_t kSha512Bytes = 64;

// SHA-512 of the data. Acquire: no provider context; Open: no SHA-512;
// Update: hashing failed; Data: reading the value failed.
Outcome Sha512(const uint8_t* data, size_t size, uint8_t digest[kSha512Bytes]);

// Overwrites the bytes with zeros in a way the compiler keeps.
void WipeBytes(void* data, size_t size) noexcept;

}  // namespace crypto::provider
