// Certificates, public keys and revocation lists in the CryptoAPI backend:
// their fields through certificate contexts, the modified copies used to
// encrypt to a key that a certificate does not carry, the lookup of a
// certificate in a list (CertFindCertificateInCRL) and the check of a
// list's signature (CryptVerifyCertificateSignatureEx). Called by the code
// of src/crypto/ through provider.h.
#include <algorithm>
#include <cstring>

#include "crypto/provider/cryptoapi/cryptoapi_util.h"

namespace crypto::provider {

namespace {

using namespace cryptoapi;

std::wstring NameString(const CERT_CONTEXT* certificate, DWORD type, DWORD flags, const void* parameter) {
  DWORD size = CertGetNameStringW(certificate, type, flags, const_cast<void*>(parameter), nullptr, 0);
  if (size <= 1) return {};
  std::wstring text(size, L'\0');
  CertGetNameStringW(certificate, type, flags, const_cast<void*>(parameter), text.data(), size);
  text.resize(size - 1);
  return text;
}

// The certificate encoded anew with its to-be-signed part changed by
// `change`, the old signature kept (encryption does not check it).
template <class Change>
uint32_t ReencodeCertificate(Bytes* certDer, Change change) {
  LocalPtr<CERT_SIGNED_CONTENT_INFO> outer =
      Decode<CERT_SIGNED_CONTENT_INFO>(X509_CERT, certDer->data(), static_cast<DWORD>(certDer->size()));
  if (!outer) return kErrorBadData;
  LocalPtr<CERT_INFO> info = Decode<CERT_INFO>(X509_CERT_TO_BE_SIGNED, certDer->data(),
                                               static_cast<DWORD>(certDer->size()));
  if (!info) return kErrorBadData;
  if (uint32_t error = change(info.get())) return error;
  Bytes toBeSigned = Encode(X509_CERT_TO_BE_SIGNED, info.get());
  if (toBeSigned.empty()) return LastError();
  CERT_SIGNED_CONTENT_INFO changed = *outer;
  changed.ToBeSigned.cbData = static_cast<DWORD>(toBeSigned.size());
  changed.ToBeSigned.pbData = toBeSigned.data();
  Bytes encoded = Encode(X509_CERT, &changed);
  if (encoded.empty()) return LastError();
  *certDer = std::move(encoded);
  return 0;
}

}  // namespace

uint32_t ReadCertificate(const Bytes& der, CertInfo* info) {
  CertPtr certificate = MakeCertificate(der);
  if (!certificate) return kErrorBadData;
  const CERT_INFO* fields = certificate->pCertInfo;
  *info = CertInfo();
  info->subjectName = NameString(certificate.get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr);
  info->issuerName = NameString(certificate.get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, CERT_NAME_ISSUER_FLAG, nullptr);
  info->surname = NameString(certificate.get(), CERT_NAME_ATTR_TYPE, 0, szOID_SUR_NAME);
  info->givenName = NameString(certificate.get(), CERT_NAME_ATTR_TYPE, 0, "2.5.4.41");
  info->subject = BlobBytes(fields->Subject);
  info->issuer = BlobBytes(fields->Issuer);
  info->serial = SerialMagnitude(fields->SerialNumber);
  info->notBefore = FileTimeValue(fields->NotBefore);
  info->notAfter = FileTimeValue(fields->NotAfter);
  DWORD size = 0;
  if (CertGetCertificateContextProperty(certificate.get(), CERT_KEY_IDENTIFIER_PROP_ID, nullptr, &size) && size > 0) {
    info->keyId.resize(size);
    if (!CertGetCertificateContextProperty(certificate.get(), CERT_KEY_IDENTIFIER_PROP_ID, info->keyId.data(),
                                           &size)) {
      info->keyId.clear();
    }
  }
  info->publicKeyInfo = Encode(X509_PUBLIC_KEY_INFO, &fields->SubjectPublicKeyInfo);
  info->signatureParameters = BlobBytes(fields->SignatureAlgorithm.Parameters);
  for (DWORD i = 0; i < fields->cExtension; ++i) {
    const CERT_EXTENSION& extension = fields->rgExtension[i];
    info->extensions.push_back({extension.pszObjId, extension.fCritical != FALSE, BlobBytes(extension.Value)});
  }
  return 0;
}

uint32_t QueryCertificate(const Bytes& data, Bytes* der) {
  if (data.empty()) return kErrorBadData;
  CERT_BLOB blob;
  blob.cbData = static_cast<DWORD>(data.size());
  blob.pbData = const_cast<BYTE*>(data.data());
  const void* context = nullptr;
  if (!CryptQueryObject(CERT_QUERY_OBJECT_BLOB, &blob, CERT_QUERY_CONTENT_FLAG_CERT, CERT_QUERY_FORMAT_FLAG_ALL, 0,
                        nullptr, nullptr, nullptr, nullptr, nullptr, &context) ||
      context == nullptr) {
    return kErrorBadData;
  }
  CertPtr certificate(static_cast<const CERT_CONTEXT*>(context));
  der->assign(certificate->pbCertEncoded, certificate->pbCertEncoded + certificate->cbCertEncoded);
  return 0;
}

uint32_t SetCertificateKeyId(Bytes* certDer, const Bytes& keyId) {
  // The key-identifier property of a context made from the copy is its
  // subject key identifier extension, which is replaced (or added).
  // The encoded identifier and the extensions live until the copy is encoded.
  Bytes encodedId;
  std::vector<CERT_EXTENSION> extensions;
  return ReencodeCertificate(certDer, [&](CERT_INFO* info) -> uint32_t {
    CRYPT_DATA_BLOB id;
    id.cbData = static_cast<DWORD>(keyId.size());
    id.pbData = const_cast<BYTE*>(keyId.data());
    encodedId = Encode(szOID_SUBJECT_KEY_IDENTIFIER, &id);
    if (encodedId.empty()) return LastError();
    extensions.assign(info->rgExtension, info->rgExtension + info->cExtension);
    bool replaced = false;
    for (CERT_EXTENSION& extension : extensions) {
      if (std::strcmp(extension.pszObjId, szOID_SUBJECT_KEY_IDENTIFIER) == 0) {
        extension.Value.cbData = static_cast<DWORD>(encodedId.size());
        extension.Value.pbData = encodedId.data();
        replaced = true;
      }
    }
    if (!replaced) {
      CERT_EXTENSION added{};
      added.pszObjId = const_cast<char*>(szOID_SUBJECT_KEY_IDENTIFIER);
      added.Value.cbData = static_cast<DWORD>(encodedId.size());
      added.Value.pbData = encodedId.data();
      extensions.push_back(added);
    }
    info->cExtension = static_cast<DWORD>(extensions.size());
    info->rgExtension = extensions.data();
    return 0;
  });
}

uint32_t SetCertificatePublicKey(Bytes* certDer, const Bytes& publicKey) {
  LocalPtr<CERT_PUBLIC_KEY_INFO> given;
  if (!publicKey.empty()) {
    given = Decode<CERT_PUBLIC_KEY_INFO>(X509_PUBLIC_KEY_INFO, publicKey.data(), static_cast<DWORD>(publicKey.size()));
  }
  Bytes bits;  // lives until the copy is encoded
  return ReencodeCertificate(certDer, [&](CERT_INFO* info) -> uint32_t {
    if (given) {
      info->SubjectPublicKeyInfo = *given;
      return 0;
    }
    // Bare key bits of the certificate's own kind: the whole key, the two
    // coordinates of an uncompressed point (after its 0x04), else the
    // first 64 bytes written over the first 64 of the certificate's key.
    CRYPT_BIT_BLOB& own = info->SubjectPublicKeyInfo.PublicKey;
    if (publicKey.size() == own.cbData) {
      bits = publicKey;
    } else if (publicKey.size() == 64 && own.cbData == 65 && own.pbData[0] == 0x04) {
      bits.assign(1, 0x04);
      bits.insert(bits.end(), publicKey.begin(), publicKey.end());
    } else if (publicKey.size() >= 64 && own.cbData >= 64) {
      bits.assign(own.pbData, own.pbData + own.cbData);
      std::copy(publicKey.begin(), publicKey.begin() + 64, bits.begin());
    } else {
      return kErrorBadData;
    }
    own.cbData = static_cast<DWORD>(bits.size());
    own.pbData = bits.data();
    own.cUnusedBits = 0;
    return 0;
  });
}

Outcome DecodePublicKeyInfo(const Bytes& der, PublicKeyInfo* info) {
  if (der.empty()) return {kErrorBadData, Step::Size};
  LocalPtr<CERT_PUBLIC_KEY_INFO> decoded =
      Decode<CERT_PUBLIC_KEY_INFO>(X509_PUBLIC_KEY_INFO, der.data(), static_cast<DWORD>(der.size()));
  if (!decoded) return {LastError(), Step::Size};
  if (decoded->PublicKey.cbData == 0 || decoded->Algorithm.pszObjId == nullptr) return {kErrorBadData, Step::Data};
  info->algorithm = decoded->Algorithm.pszObjId;
  info->parameters = BlobBytes(decoded->Algorithm.Parameters);
  info->key.assign(decoded->PublicKey.pbData, decoded->PublicKey.pbData + decoded->PublicKey.cbData);
  return {};
}

uint32_t ReadCrl(const Bytes& der, CrlInfo* info) {
  CrlPtr crl = MakeCrl(der);
  if (!crl) return kErrorBadData;
  *info = CrlInfo();
  info->issuerName = DisplayName(crl->pCrlInfo->Issuer);
  info->issuer = BlobBytes(crl->pCrlInfo->Issuer);
  info->thisUpdate = FileTimeValue(crl->pCrlInfo->ThisUpdate);
  info->nextUpdate = FileTimeValue(crl->pCrlInfo->NextUpdate);
  return 0;
}

uint32_t FindCertificateInCrl(const Bytes& crlDer, const Bytes& certDer, bool* listed) {
  CrlPtr crl = MakeCrl(crlDer);
  CertPtr certificate = MakeCertificate(certDer);
  if (!crl || !certificate) return kErrorBadData;
  CRL_ENTRY* entry = nullptr;
  if (!CertFindCertificateInCRL(certificate.get(), crl.get(), 0, nullptr, &entry)) return LastError();
  *listed = entry != nullptr;
  return 0;
}

bool CrlIssuerMatches(const Bytes& crlDer, const Bytes& certDer) {
  CrlPtr crl = MakeCrl(crlDer);
  CertPtr certificate = MakeCertificate(certDer);
  return crl && certificate && SameName(crl->pCrlInfo->Issuer, certificate->pCertInfo->Issuer);
}

uint32_t VerifyCrlSignature(const Store& store, const Bytes& crlDer) {
  CrlPtr crl = MakeCrl(crlDer);
  if (!crl) return kErrorBadData;
  uint32_t result = kErrorNotFound;
  for (const Bytes& candidate : store.certificates) {
    CertPtr certificate = MakeCertificate(candidate);
    if (!certificate || !SameName(certificate->pCertInfo->Subject, crl->pCrlInfo->Issuer)) continue;
    if (CryptVerifyCertificateSignatureEx(0, X509_ASN_ENCODING, CRYPT_VERIFY_CERT_SIGN_SUBJECT_CRL,
                                          const_cast<CRL_CONTEXT*>(crl.get()), CRYPT_VERIFY_CERT_SIGN_ISSUER_CERT,
                                          const_cast<CERT_CONTEXT*>(certificate.get()), 0, nullptr)) {
      return 0;
    }
    result = kErrorBadSignature;
  }
  return result;
}

}  // namespace crypto::provider
