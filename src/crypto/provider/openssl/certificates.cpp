// Certificates, public keys and revocation lists in the OpenSSL backend:
// reading their fields, the modified copies used to encrypt to a key that a
// certificate does not carry, the lookup of a certificate in a list, and
// the check of a list's issuer and signature. Called by the code of
// src/crypto/ through provider.h.
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "crypto/provider/openssl/openssl_util.h"

namespace crypto::provider {

namespace {

using namespace openssl;

// Forces the certificate to be encoded anew after a change of its fields.
Bytes EncodeChanged(X509* certificate) {
  if (i2d_re_X509_tbs(certificate, nullptr) <= 0) return {};
  return EncodeCertificate(certificate);
}

// A public key of the certificate's own kind from bare key bits: an
// uncompressed point (65 bytes, 0x04 first) or its two coordinates (64
// bytes) on the curve of the certificate's key.
PkeyPtr KeyFromBits(X509* certificate, const Bytes& bits) {
  EVP_PKEY* own = X509_get0_pubkey(certificate);
  if (own == nullptr || EVP_PKEY_get_base_id(own) != EVP_PKEY_EC) return nullptr;
  char group[64];
  size_t groupSize = 0;
  if (EVP_PKEY_get_utf8_string_param(own, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, &groupSize) != 1) {
    return nullptr;
  }
  Bytes point;
  if (bits.size() == 65 && bits[0] == 0x04) {
    point = bits;
  } else if (bits.size() == 64) {
    point.push_back(0x04);
    point.insert(point.end(), bits.begin(), bits.end());
  } else {
    return nullptr;
  }
  PkeyCtxPtr context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  if (!context || EVP_PKEY_fromdata_init(context.get()) != 1) return nullptr;
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
      OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size()),
      OSSL_PARAM_construct_end(),
  };
  EVP_PKEY* made = nullptr;
  if (EVP_PKEY_fromdata(context.get(), &made, EVP_PKEY_PUBLIC_KEY, params) != 1) return nullptr;
  PkeyPtr key(made);
  PkeyCtxPtr check(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
  if (!check || EVP_PKEY_public_check(check.get()) != 1) return nullptr;
  return key;
}

// What checking a list's signature with a certificate gave. A list is
// checked at every signature verified, so the outcome is kept for the
// parsed list (held by a reference of its own, so that its address names
// it while it is here) and the certificate's encoding; a list parsed
// afresh is checked afresh. Never destroyed, like the tables of parsed
// objects (openssl_util.cpp).
struct CrlCheck {
  X509_CRL* crl;      // the parsed list
  Bytes certificate;  // DER of the certificate checked against
  bool verified;      // its key verifies the list
};
constexpr size_t kCrlChecks = 32;
std::mutex crlChecksLock;
std::vector<CrlCheck>& crlChecks = *new std::vector<CrlCheck>;  // newest last, guarded by crlChecksLock

bool CrlVerifiedBy(X509_CRL* crl, const Bytes& certDer, X509* certificate) {
  {
    std::lock_guard<std::mutex> hold(crlChecksLock);
    for (const CrlCheck& check : crlChecks) {
      if (check.crl == crl && check.certificate == certDer) return check.verified;
    }
  }
  EVP_PKEY* key = X509_get0_pubkey(certificate);
  bool verified = key != nullptr && X509_CRL_verify(crl, key) == 1;
  ERR_clear_error();
  if (X509_CRL_up_ref(crl) != 1) return verified;
  std::lock_guard<std::mutex> hold(crlChecksLock);
  if (crlChecks.size() >= kCrlChecks) {
    X509_CRL_free(crlChecks.front().crl);
    crlChecks.erase(crlChecks.begin());
  }
  crlChecks.push_back({crl, certDer, verified});
  return verified;
}

}  // namespace

uint32_t ReadCertificate(const Bytes& der, CertInfo* info) {
  X509Ptr certificate = ParseCertificate(der);
  if (!certificate) {
    ERR_clear_error();
    return kErrorBadData;
  }
  X509* x = certificate.get();
  *info = CertInfo();
  const X509_NAME* subject = X509_get_subject_name(x);
  const X509_NAME* issuer = X509_get_issuer_name(x);
  info->subjectName = DisplayName(subject);
  info->issuerName = DisplayName(issuer);
  info->surname = NameAttribute(subject, NID_surname);
  info->givenName = NameAttribute(subject, NID_name);
  info->subject = EncodeName(subject);
  info->issuer = EncodeName(issuer);
  info->serial = StringBytes(X509_get0_serialNumber(x));
  if (!TimeToFileTime(X509_get0_notBefore(x), &info->notBefore) ||
      !TimeToFileTime(X509_get0_notAfter(x), &info->notAfter)) {
    ERR_clear_error();
    return kErrorBadData;
  }
  info->keyId = CertificateKeyId(x);
  info->publicKeyInfo = Encode(X509_get_X509_PUBKEY(x), i2d_X509_PUBKEY);

  const ASN1_BIT_STRING* signature = nullptr;
  const X509_ALGOR* algorithm = nullptr;
  X509_get0_signature(&signature, &algorithm, x);
  const ASN1_OBJECT* algorithmOid = nullptr;
  int parameterType = V_ASN1_UNDEF;
  const void* parameterValue = nullptr;
  X509_ALGOR_get0(&algorithmOid, &parameterType, &parameterValue, algorithm);
  if (parameterType != V_ASN1_UNDEF) {
    AsnTypePtr parameter(ASN1_TYPE_new());
    if (parameter && ASN1_TYPE_set1(parameter.get(), parameterType, parameterValue) == 1) {
      info->signatureParameters = Encode(parameter.get(), i2d_ASN1_TYPE);
    }
  }

  for (int i = 0; i < X509_get_ext_count(x); ++i) {
    X509_EXTENSION* extension = X509_get_ext(x, i);
    info->extensions.push_back({OidText(X509_EXTENSION_get_object(extension)),
                                X509_EXTENSION_get_critical(extension) == 1,
                                StringBytes(X509_EXTENSION_get_data(extension))});
  }
  ERR_clear_error();
  return 0;
}

uint32_t QueryCertificate(const Bytes& data, Bytes* der) {
  if (ParseCertificate(data)) {
    *der = data;
    return 0;
  }
  BioPtr bio = MemoryBio(data);
  X509Ptr certificate(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
  ERR_clear_error();
  if (!certificate) return kErrorBadData;
  *der = EncodeCertificate(certificate.get());
  return der->empty() ? kErrorBadData : 0;
}

uint32_t SetCertificateKeyId(Bytes* certDer, const Bytes& keyId) {
  X509Ptr certificate = ParseCertificateCopy(*certDer);
  OctetPtr value(ASN1_OCTET_STRING_new());
  if (!certificate || !value ||
      ASN1_OCTET_STRING_set(value.get(), keyId.data(), static_cast<int>(keyId.size())) != 1 ||
      X509_add1_ext_i2d(certificate.get(), NID_subject_key_identifier, value.get(), 0,
                        X509V3_ADD_REPLACE) != 1) {
    ERR_clear_error();
    return kErrorBadData;
  }
  Bytes changed = EncodeChanged(certificate.get());
  ERR_clear_error();
  if (changed.empty()) return kErrorFailed;
  *certDer = std::move(changed);
  return 0;
}

uint32_t SetCertificatePublicKey(Bytes* certDer, const Bytes& publicKey) {
  X509Ptr certificate = ParseCertificateCopy(*certDer);
  if (!certificate) {
    ERR_clear_error();
    return kErrorBadData;
  }
  const unsigned char* cursor = publicKey.data();
  PkeyPtr key(d2i_PUBKEY(nullptr, &cursor, static_cast<long>(publicKey.size())));
  if (key && cursor != publicKey.data() + publicKey.size()) key.reset();
  if (!key) key = KeyFromBits(certificate.get(), publicKey);
  if (!key || X509_set_pubkey(certificate.get(), key.get()) != 1) {
    ERR_clear_error();
    return kErrorBadData;
  }
  Bytes changed = EncodeChanged(certificate.get());
  ERR_clear_error();
  if (changed.empty()) return kErrorFailed;
  *certDer = std::move(changed);
  return 0;
}

Outcome DecodePublicKeyInfo(const Bytes& der, PublicKeyInfo* info) {
  const unsigned char* cursor = der.data();
  PubkeyPtr decoded(d2i_X509_PUBKEY(nullptr, &cursor, static_cast<long>(der.size())));
  if (!decoded || cursor != der.data() + der.size()) {
    ERR_clear_error();
    return {kErrorBadData, Step::Size};
  }
  ASN1_OBJECT* algorithm = nullptr;
  const unsigned char* key = nullptr;
  int keySize = 0;
  X509_ALGOR* algorithmInfo = nullptr;
  if (X509_PUBKEY_get0_param(&algorithm, &key, &keySize, &algorithmInfo, decoded.get()) != 1 ||
      X509_PUBKEY_get0(decoded.get()) == nullptr) {
    ERR_clear_error();
    return {kErrorBadData, Step::Data};
  }
  info->algorithm = OidText(algorithm);
  info->key.assign(key, key + keySize);
  info->parameters.clear();
  const void* parameterValue = nullptr;
  int parameterType = V_ASN1_UNDEF;
  X509_ALGOR_get0(nullptr, &parameterType, &parameterValue, algorithmInfo);
  if (parameterType != V_ASN1_UNDEF) {
    AsnTypePtr parameter(ASN1_TYPE_new());
    if (parameter && ASN1_TYPE_set1(parameter.get(), parameterType, parameterValue) == 1) {
      info->parameters = Encode(parameter.get(), i2d_ASN1_TYPE);
    }
  }
  ERR_clear_error();
  return {};
}

uint32_t ReadCrl(const Bytes& der, CrlInfo* info) {
  CrlPtr crl = ParseCrl(der);
  if (!crl) {
    ERR_clear_error();
    return kErrorBadData;
  }
  *info = CrlInfo();
  const X509_NAME* issuer = X509_CRL_get_issuer(crl.get());
  info->issuerName = DisplayName(issuer);
  info->issuer = EncodeName(issuer);
  if (!TimeToFileTime(X509_CRL_get0_lastUpdate(crl.get()), &info->thisUpdate)) {
    ERR_clear_error();
    return kErrorBadData;
  }
  const ASN1_TIME* next = X509_CRL_get0_nextUpdate(crl.get());
  if (next != nullptr && !TimeToFileTime(next, &info->nextUpdate)) info->nextUpdate = 0;
  ERR_clear_error();
  return 0;
}

uint32_t FindCertificateInCrl(const Bytes& crlDer, const Bytes& certDer, bool* listed) {
  CrlPtr crl = ParseCrl(crlDer);
  X509Ptr certificate = ParseCertificate(certDer);
  if (!crl || !certificate) {
    ERR_clear_error();
    return kErrorBadData;
  }
  X509_REVOKED* entry = nullptr;
  *listed = X509_CRL_get0_by_cert(crl.get(), &entry, certificate.get()) == 1;
  ERR_clear_error();
  return 0;
}

bool CrlIssuerMatches(const Bytes& crlDer, const Bytes& certDer) {
  CrlPtr crl = ParseCrl(crlDer);
  X509Ptr certificate = ParseCertificate(certDer);
  bool same = crl && certificate &&
              X509_NAME_cmp(X509_CRL_get_issuer(crl.get()), X509_get_issuer_name(certificate.get())) == 0;
  ERR_clear_error();
  return same;
}

uint32_t VerifyCrlSignature(const Store& store, const Bytes& crlDer) {
  CrlPtr crl = ParseCrl(crlDer);
  if (!crl) {
    ERR_clear_error();
    return kErrorBadData;
  }
  const X509_NAME* issuer = X509_CRL_get_issuer(crl.get());
  uint32_t result = kErrorNotFound;
  for (const Bytes& candidate : store.certificates) {
    X509Ptr certificate = ParseCertificate(candidate);
    if (!certificate || X509_NAME_cmp(X509_get_subject_name(certificate.get()), issuer) != 0) continue;
    if (CrlVerifiedBy(crl.get(), candidate, certificate.get())) {
      result = 0;
      break;
    }
    result = kErrorBadSignature;
  }
  ERR_clear_error();
  return result;
}

}  // namespace crypto::provider
