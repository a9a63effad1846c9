// CMS messages in the OpenSSL backend: signing with embedded content,
// adding a further signer, enveloping for certificates, opening an
// envelope, decoding a message and verifying one signer. Called by the code
// of src/crypto/ through provider.h.
//
// Checking a received document decodes it, verifies each signer and reads
// its certificates and content: several calls on the same bytes. Parsing
// is most of their cost, because OpenSSL 3 decodes the public key of every
// certificate the message carries, so the last few messages decoded are
// kept parsed, matched by their exact bytes.
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/pem.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>
#include <string_view>

#include "crypto/provider/openssl/openssl_util.h"

namespace crypto::provider {

namespace {

using namespace openssl;

// The digest parameters the backend can honour: none, or NULL.
bool ApplyHashParameters(CMS_SignerInfo* signer, const Bytes& parameters) {
  if (parameters.empty()) return true;
  if (parameters != Bytes{0x05, 0x00}) return false;
  X509_ALGOR* digest = nullptr;
  CMS_SignerInfo_get0_algs(signer, nullptr, nullptr, &digest, nullptr);
  if (digest == nullptr) return false;
  const ASN1_OBJECT* algorithm = nullptr;
  X509_ALGOR_get0(&algorithm, nullptr, nullptr, digest);
  ASN1_OBJECT* copy = OBJ_dup(algorithm);
  if (copy == nullptr) return false;
  if (X509_ALGOR_set0(digest, copy, V_ASN1_NULL, nullptr) != 1) {
    ASN1_OBJECT_free(copy);
    return false;
  }
  return true;
}

bool AddSigningTime(CMS_SignerInfo* signer, int64_t signingTime) {
  AsnTimePtr time = FileTimeToTime(signingTime);
  if (!time) return false;
  return CMS_signed_add1_attr_by_NID(signer, NID_pkcs9_signingTime, time->type, time.get(), -1) == 1;
}

// Key, certificate and algorithms of a signature, checked together.
struct Signing {
  X509Ptr certificate;   // the signer's certificate
  EVP_PKEY* key;         // its private key (owned by the Key)
  const EVP_MD* digest;  // the hash
};

uint32_t PrepareSigning(const Key& key, const Bytes& certDer, const SignParams& params, Signing* signing) {
  if (!key.privateKey || !key.privateKey->key) return key.keyError != 0 ? key.keyError : kErrorWrongPin;
  signing->digest = HashForOid(params.hashOid);
  if (signing->digest == nullptr || params.signingTimeOid != kSigningTimeOid) return kErrorBadAlgorithm;
  signing->certificate = ParseCertificate(certDer);
  if (!signing->certificate) return kErrorBadData;
  signing->key = key.privateKey->key.get();
  if (X509_check_private_key(signing->certificate.get(), signing->key) != 1) return kErrorBadKeyset;
  return 0;
}

bool EncodeMessage(CMS_ContentInfo* cms, Bytes* out, Step* failed) {
  int size = i2d_CMS_ContentInfo(cms, nullptr);
  if (size <= 0) {
    *failed = Step::Size;
    return false;
  }
  out->resize(static_cast<size_t>(size));
  unsigned char* cursor = out->data();
  if (i2d_CMS_ContentInfo(cms, &cursor) != size) {
    out->clear();
    *failed = Step::Data;
    return false;
  }
  return true;
}

Outcome Fail(uint32_t error, Step step) {
  ERR_clear_error();
  return {error, step};
}

bool HasCertificate(CMS_ContentInfo* cms, X509* certificate) {
  CertStackPtr certificates(CMS_get1_certs(cms));
  if (!certificates) return false;
  for (int i = 0; i < sk_X509_num(certificates.get()); ++i) {
    if (X509_cmp(sk_X509_value(certificates.get(), i), certificate) == 0) return true;
  }
  return false;
}

// True when some recipient of the envelope names the certificate.
bool NamesRecipient(CMS_ContentInfo* cms, X509* certificate) {
  STACK_OF(CMS_RecipientInfo)* recipients = CMS_get0_RecipientInfos(cms);
  for (int i = 0; i < sk_CMS_RecipientInfo_num(recipients); ++i) {
    CMS_RecipientInfo* recipient = sk_CMS_RecipientInfo_value(recipients, i);
    int type = CMS_RecipientInfo_type(recipient);
    if (type == CMS_RECIPINFO_TRANS) {
      if (CMS_RecipientInfo_ktri_cert_cmp(recipient, certificate) == 0) return true;
    } else if (type == CMS_RECIPINFO_AGREE) {
      STACK_OF(CMS_RecipientEncryptedKey)* keys = CMS_RecipientInfo_kari_get0_reks(recipient);
      for (int k = 0; k < sk_CMS_RecipientEncryptedKey_num(keys); ++k) {
        if (CMS_RecipientEncryptedKey_cert_cmp(sk_CMS_RecipientEncryptedKey_value(keys, k), certificate) == 0) {
          return true;
        }
      }
    }
  }
  return false;
}

// DER, else PEM, of a CMS message or a certificate.
CmsPtr ReadCmsAnyFormat(const Bytes& data, bool* certificate) {
  *certificate = false;
  CmsPtr cms = ParseCms(data);
  if (cms) return cms;
  ERR_clear_error();
  if (ParseCertificate(data)) {
    *certificate = true;
    return nullptr;
  }
  ERR_clear_error();
  // Armoured text carries its "-----BEGIN " line; anything else (a plain
  // document asked whether it is signed) is not scanned line by line twice.
  const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
  if (text.find("-----BEGIN ") == std::string_view::npos) return cms;
  BioPtr bio = MemoryBio(data);
  if (bio) cms.reset(PEM_read_bio_CMS(bio.get(), nullptr, nullptr, nullptr));
  if (!cms) {
    bio = MemoryBio(data);
    X509Ptr pem(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    *certificate = pem != nullptr;
  }
  ERR_clear_error();
  return cms;
}

// A message as ReadCmsAnyFormat found it. Its object is changed by
// verification (the signer's certificate is attached), so a user holds
// `use` while working on it.
struct ParsedMessage {
  Bytes bytes;               // the message as given
  CmsPtr cms;                // the parsed message; null when the bytes are none
  bool certificate = false;  // the bytes are a single certificate
  std::mutex use;            // held while `cms` is worked on
};

// A DER signed message parsed without its certificates, which are taken
// from the shared table and added back in their order; null when the
// message does not split (it is then parsed whole).
CmsPtr ParseWithSharedCertificates(const Bytes& data) {
  Bytes rest;
  std::vector<Bytes> certificates;
  if (!SplitSignedCertificates(data, &rest, &certificates)) return nullptr;
  CmsPtr cms = ParseCms(rest);
  for (const Bytes& der : certificates) {
    X509Ptr certificate = cms ? ParseCertificate(der) : nullptr;
    // A certificate carried twice cannot be added twice: such a message is
    // parsed whole, as it came.
    if (!certificate || CMS_add1_cert(cms.get(), certificate.get()) != 1) {
      cms.reset();
      break;
    }
  }
  ERR_clear_error();
  return cms;
}

constexpr size_t kParsedMessages = 4;
std::mutex parsedMessagesLock;
// Newest first; never destroyed, like the backend's other tables.
std::deque<std::shared_ptr<ParsedMessage>>& parsedMessages = *new std::deque<std::shared_ptr<ParsedMessage>>;

std::shared_ptr<ParsedMessage> Parsed(const Bytes& data) {
  {
    std::lock_guard<std::mutex> hold(parsedMessagesLock);
    for (const std::shared_ptr<ParsedMessage>& entry : parsedMessages) {
      if (entry->bytes.size() == data.size() &&
          (data.empty() || std::memcmp(entry->bytes.data(), data.data(), data.size()) == 0)) {
        return entry;
      }
    }
  }
  auto entry = std::make_shared<ParsedMessage>();
  entry->bytes = data;
  entry->cms = ParseWithSharedCertificates(data);
  if (!entry->cms) entry->cms = ReadCmsAnyFormat(data, &entry->certificate);
  std::lock_guard<std::mutex> hold(parsedMessagesLock);
  parsedMessages.push_front(entry);
  if (parsedMessages.size() > kParsedMessages) parsedMessages.pop_back();
  return entry;
}

SignerInfo DescribeSigner(CMS_SignerInfo* signer) {
  SignerInfo info;
  ASN1_OCTET_STRING* keyId = nullptr;
  X509_NAME* issuer = nullptr;
  ASN1_INTEGER* serial = nullptr;
  if (CMS_SignerInfo_get0_signer_id(signer, &keyId, &issuer, &serial) == 1) {
    if (keyId != nullptr) info.keyId = StringBytes(keyId);
    if (issuer != nullptr) info.issuer = EncodeName(issuer);
    if (serial != nullptr) info.serial = StringBytes(serial);
  }
  int count = CMS_signed_get_attr_count(signer);
  for (int i = 0; i < count; ++i) {
    X509_ATTRIBUTE* attribute = CMS_signed_get_attr(signer, i);
    SignedAttribute entry;
    entry.oid = OidText(X509_ATTRIBUTE_get0_object(attribute));
    ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(attribute, 0);
    if (value != nullptr) entry.value = Encode(value, i2d_ASN1_TYPE);
    if (!info.hasSigningTime && entry.oid == kSigningTimeOid && value != nullptr &&
        (value->type == V_ASN1_UTCTIME || value->type == V_ASN1_GENERALIZEDTIME)) {
      info.hasSigningTime = TimeToFileTime(value->value.asn1_string, &info.signingTime);
    }
    info.attributes.push_back(std::move(entry));
  }
  return info;
}

}  // namespace

Outcome SignMessage(const Key& key, const Bytes& certDer, const SignParams& params,
                    const Bytes& content, Bytes* message) {
  NoteMessageFlags(params.flags);
  Signing signing;
  if (uint32_t error = PrepareSigning(key, certDer, params, &signing)) return Fail(error, Step::Size);
  CmsPtr cms(CMS_sign(nullptr, nullptr, nullptr, nullptr, CMS_PARTIAL | CMS_BINARY));
  if (!cms || CMS_set_detached(cms.get(), 0) != 1) return Fail(kErrorFailed, Step::Size);
  CMS_SignerInfo* signer = CMS_add1_signer(cms.get(), signing.certificate.get(), signing.key,
                                           signing.digest, CMS_BINARY | CMS_NOSMIMECAP);
  if (signer == nullptr) return Fail(kErrorFailed, Step::Size);
  if (!ApplyHashParameters(signer, params.hashParameters)) return Fail(kErrorBadAlgorithm, Step::Size);
  if (!AddSigningTime(signer, params.signingTime)) return Fail(kErrorFailed, Step::Size);
  BioPtr input = MemoryBio(content);
  if (!input || CMS_final(cms.get(), input.get(), nullptr, CMS_BINARY) != 1) {
    return Fail(kErrorFailed, Step::Size);
  }
  Step failed = Step::None;
  if (!EncodeMessage(cms.get(), message, &failed)) return Fail(kErrorFailed, failed);
  ERR_clear_error();
  return {};
}

Outcome AddSigner(const Key& key, const Bytes& certDer, const SignParams& params,
                  const Bytes& message, Bytes* out) {
  NoteMessageFlags(params.flags);
  CmsPtr cms = ParseCms(message);
  if (!cms) return Fail(kErrorBadData, Step::Update);
  if (OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed) {
    return Fail(kErrorInvalidMessageType, Step::Update);
  }
  Signing signing;
  if (uint32_t error = PrepareSigning(key, certDer, params, &signing)) return Fail(error, Step::AddSigner);
  ASN1_OCTET_STRING** content = CMS_get0_content(cms.get());
  if (content == nullptr || *content == nullptr) return Fail(kErrorBadData, Step::AddSigner);

  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestSize = 0;
  if (EVP_Digest(ASN1_STRING_get0_data(*content), static_cast<size_t>(ASN1_STRING_length(*content)),
                 digest, &digestSize, signing.digest, nullptr) != 1) {
    return Fail(kErrorFailed, Step::AddSigner);
  }
  CMS_SignerInfo* signer =
      CMS_add1_signer(cms.get(), signing.certificate.get(), signing.key, signing.digest,
                      CMS_BINARY | CMS_NOSMIMECAP | CMS_PARTIAL | CMS_NOCERTS);
  if (signer == nullptr || !ApplyHashParameters(signer, params.hashParameters) ||
      CMS_signed_add1_attr_by_NID(signer, NID_pkcs9_contentType, V_ASN1_OBJECT,
                                  CMS_get0_eContentType(cms.get()), -1) != 1 ||
      !AddSigningTime(signer, params.signingTime) ||
      CMS_signed_add1_attr_by_NID(signer, NID_pkcs9_messageDigest, V_ASN1_OCTET_STRING, digest,
                                  static_cast<int>(digestSize)) != 1 ||
      CMS_SignerInfo_sign(signer) != 1) {
    return Fail(kErrorFailed, Step::AddSigner);
  }
  if (!HasCertificate(cms.get(), signing.certificate.get()) &&
      CMS_add1_cert(cms.get(), signing.certificate.get()) != 1) {
    return Fail(kErrorFailed, Step::AddCert);
  }
  Step failed = Step::None;
  if (!EncodeMessage(cms.get(), out, &failed)) return Fail(kErrorFailed, failed);
  ERR_clear_error();
  return {};
}

Outcome EncryptMessage(const Context& context, const std::vector<Bytes>& recipients,
                       const EncryptParams& params, const Bytes& content, Bytes* envelope) {
  NoteMessageFlags(params.flags);
  if (context.providerType == 0) return Fail(kErrorBadProviderType, Step::Size);
  const EVP_CIPHER* cipher = CipherForOid(params.contentOid);
  if (cipher == nullptr) return Fail(kErrorBadAlgorithm, Step::Size);
  CertStackPtr certificates(sk_X509_new_null());
  if (!certificates || recipients.empty()) return Fail(kErrorBadData, Step::Size);
  for (const Bytes& der : recipients) {
    X509Ptr certificate = ParseCertificate(der);
    if (!certificate) return Fail(kErrorBadData, Step::Size);
    if (sk_X509_push(certificates.get(), certificate.get()) <= 0) return Fail(kErrorFailed, Step::Size);
    certificate.release();
  }
  unsigned int flags = CMS_BINARY;
  if (params.flags & kMessageFlagRecipientKeyId) flags |= CMS_USE_KEYID;
  BioPtr input = MemoryBio(content);
  CmsPtr cms(input ? CMS_encrypt(certificates.get(), input.get(), cipher, flags) : nullptr);
  if (!cms) return Fail(kErrorFailed, Step::Size);
  Step failed = Step::None;
  if (!EncodeMessage(cms.get(), envelope, &failed)) return Fail(kErrorFailed, Step::Data);
  ERR_clear_error();
  return {};
}

Outcome DecryptMessage(const Key& key, const Bytes& certDer, const Bytes& envelope,
                       uint32_t flags, Bytes* content) {
  NoteMessageFlags(flags);
  CmsPtr cms = ParseCms(envelope);
  if (!cms) return Fail(kErrorBadData, Step::Size);
  if (OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_enveloped) {
    return Fail(kErrorInvalidMessageType, Step::Size);
  }
  X509Ptr certificate = ParseCertificate(certDer);
  if (!certificate) return Fail(kErrorBadData, Step::Size);
  if (!NamesRecipient(cms.get(), certificate.get())) return Fail(kErrorNoDecryptCert, Step::Size);
  if (!key.privateKey || !key.privateKey->key) {
    return Fail(key.keyError != 0 ? key.keyError : kErrorWrongPin, Step::Size);
  }
  BioPtr output(BIO_new(BIO_s_mem()));
  if (!output) return Fail(kErrorFailed, Step::Size);
  if (CMS_decrypt(cms.get(), key.privateKey->key.get(), certificate.get(), nullptr, output.get(),
                  CMS_BINARY) != 1) {
    return Fail(kErrorBadData, Step::Size);
  }
  *content = ReadAll(output.get());
  ERR_clear_error();
  return {};
}

Outcome DecodeMessage(const Bytes& data, DecodedMessage* message) {
  *message = DecodedMessage();
  std::shared_ptr<ParsedMessage> parsed = Parsed(data);
  std::lock_guard<std::mutex> use(parsed->use);
  if (parsed->certificate) {
    message->kind = ObjectKind::Certificate;
    return {};
  }
  CMS_ContentInfo* cms = parsed->cms.get();
  if (cms == nullptr) return Fail(kErrorBadData, Step::Update);
  if (OBJ_obj2nid(CMS_get0_type(cms)) != NID_pkcs7_signed) {
    message->kind = ObjectKind::OtherMessage;
    ERR_clear_error();
    return {};
  }
  message->kind = ObjectKind::Signed;
  CertStackPtr certificates(CMS_get1_certs(cms));
  for (int i = 0; certificates && i < sk_X509_num(certificates.get()); ++i) {
    Bytes der = EncodeCertificate(sk_X509_value(certificates.get(), i));
    if (!der.empty()) message->certificates.push_back(std::move(der));
  }
  STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(cms);
  for (int i = 0; i < sk_CMS_SignerInfo_num(signers); ++i) {
    message->signers.push_back(DescribeSigner(sk_CMS_SignerInfo_value(signers, i)));
  }
  ERR_clear_error();
  return {};
}

Outcome VerifySigner(const Context& context, const Bytes& message, size_t index, Bytes* content) {
  if (context.providerType == 0) return Fail(kErrorBadProviderType, Step::Size);
  std::shared_ptr<ParsedMessage> parsed = Parsed(message);
  std::lock_guard<std::mutex> use(parsed->use);
  CMS_ContentInfo* cms = parsed->cms.get();
  if (cms == nullptr) return Fail(kErrorBadData, Step::Size);
  if (OBJ_obj2nid(CMS_get0_type(cms)) != NID_pkcs7_signed) {
    return Fail(kErrorInvalidMessageType, Step::Size);
  }
  STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(cms);
  if (index >= static_cast<size_t>(std::max(sk_CMS_SignerInfo_num(signers), 0))) {
    return Fail(kErrorInvalidIndex, Step::Size);
  }
  CMS_SignerInfo* signer = sk_CMS_SignerInfo_value(signers, static_cast<int>(index));

  CertStackPtr certificates(CMS_get1_certs(cms));
  X509* signerCertificate = nullptr;
  for (int i = 0; certificates && i < sk_X509_num(certificates.get()); ++i) {
    if (CMS_SignerInfo_cert_cmp(signer, sk_X509_value(certificates.get(), i)) == 0) {
      signerCertificate = sk_X509_value(certificates.get(), i);
      break;
    }
  }
  if (signerCertificate == nullptr) return Fail(kErrorSignerNotFound, Step::Size);
  if (X509_get0_pubkey(signerCertificate) == nullptr) return Fail(kErrorBadSignature, Step::Size);
  CMS_SignerInfo_set1_signer_cert(signer, signerCertificate);

  if (CMS_signed_get_attr_count(signer) > 0 && CMS_SignerInfo_verify(signer) != 1) {
    return Fail(kErrorBadSignature, Step::Size);
  }
  BioPtr chain(CMS_dataInit(cms, nullptr));
  if (!chain) return Fail(kErrorBadSignature, Step::Size);
  ReadAll(chain.get());
  if (CMS_SignerInfo_verify_content(signer, chain.get()) != 1) return Fail(kErrorBadSignature, Step::Size);

  ASN1_OCTET_STRING** embedded = CMS_get0_content(cms);
  if (embedded == nullptr || *embedded == nullptr) return Fail(kErrorBadData, Step::Data);
  *content = StringBytes(*embedded);
  ERR_clear_error();
  return {};
}

}  // namespace crypto::provider
