// CMS messages in the CryptoAPI backend: CryptSignMessage for a first
// signature, a further signer through CryptMsgOpenToDecode and
// CMSG_CTRL_ADD_SIGNER / CMSG_CTRL_ADD_CERT, CryptEncryptMessage, opening
// an envelope through CryptMsgOpenToDecode and CMSG_CTRL_DECRYPT, decoding
// (CryptQueryObject, CryptMsgGetParam) and CryptVerifyMessageSignature.
// Called by the code of src/crypto/ through provider.h.
#include <cstring>

#include "crypto/provider/cryptoapi/cryptoapi_util.h"

namespace crypto::provider {

namespace {

using namespace cryptoapi;

// The one signed attribute the program adds: the signing time.
struct SigningTimeAttribute {
  Bytes value;                // encoded time
  CRYPT_ATTR_BLOB blob{};     // over value
  CRYPT_ATTRIBUTE attribute{};  // over blob
};

uint32_t MakeSigningTime(const SignParams& params, SigningTimeAttribute* made) {
  FILETIME time = FileTimeOf(params.signingTime);
  made->value = Encode(szOID_RSA_signingTime, &time);
  if (made->value.empty()) return LastError();
  made->blob.cbData = static_cast<DWORD>(made->value.size());
  made->blob.pbData = made->value.data();
  made->attribute.pszObjId = const_cast<char*>(params.signingTimeOid.c_str());
  made->attribute.cValue = 1;
  made->attribute.rgValue = &made->blob;
  return 0;
}

CRYPT_ALGORITHM_IDENTIFIER HashAlgorithm(const SignParams& params) {
  CRYPT_ALGORITHM_IDENTIFIER algorithm{};
  algorithm.pszObjId = const_cast<char*>(params.hashOid.c_str());
  algorithm.Parameters.cbData = static_cast<DWORD>(params.hashParameters.size());
  algorithm.Parameters.pbData = const_cast<BYTE*>(params.hashParameters.data());
  return algorithm;
}

// The key a signature needs, or why there is none.
uint32_t SigningKey(const Key& key) {
  if (key.privateKey && key.privateKey->certificate != nullptr && key.privateKey->handle != 0) return 0;
  return key.keyError != 0 ? key.keyError : kErrorNoSmartCard;
}

// A message opened for decoding and fed the whole of `data`.
Outcome OpenDecoded(const Bytes& data, HCRYPTPROV provider, MsgPtr* message) {
  message->reset(CryptMsgOpenToDecode(kEncoding, 0, 0, provider, nullptr, nullptr));
  if (!*message) return {LastError(), Step::Open};
  if (data.empty() ||
      !CryptMsgUpdate(message->get(), data.data(), static_cast<DWORD>(data.size()), TRUE)) {
    return {data.empty() ? kErrorBadData : LastError(), Step::Update};
  }
  return {};
}

DWORD MessageType(HCRYPTMSG message) {
  DWORD type = 0;
  DWORD size = sizeof type;
  if (!CryptMsgGetParam(message, CMSG_TYPE_PARAM, 0, &type, &size)) return 0;
  return type;
}

// True when the certificate is among the message's certificates.
bool CarriesCertificate(HCRYPTMSG message, const CERT_CONTEXT* certificate) {
  DWORD count = 0;
  DWORD size = sizeof count;
  if (!CryptMsgGetParam(message, CMSG_CERT_COUNT_PARAM, 0, &count, &size)) return false;
  for (DWORD i = 0; i < count; ++i) {
    Bytes der;
    if (MessageParam(message, CMSG_CERT_PARAM, i, &der) && der.size() == certificate->cbCertEncoded &&
        std::memcmp(der.data(), certificate->pbCertEncoded, der.size()) == 0) {
      return true;
    }
  }
  return false;
}

Bytes CertificateKeyId(const CERT_CONTEXT* certificate) {
  DWORD size = 0;
  if (!CertGetCertificateContextProperty(certificate, CERT_KEY_IDENTIFIER_PROP_ID, nullptr, &size)) return {};
  Bytes id(size);
  if (!CertGetCertificateContextProperty(certificate, CERT_KEY_IDENTIFIER_PROP_ID, id.data(), &size)) return {};
  id.resize(size);
  return id;
}

bool SameSerial(const CRYPT_INTEGER_BLOB& a, const CRYPT_INTEGER_BLOB& b) {
  CRYPT_INTEGER_BLOB first = a;
  CRYPT_INTEGER_BLOB second = b;
  return CertCompareIntegerBlob(&first, &second) != FALSE;
}

// Index of the envelope's recipient that names the certificate (issuer and
// serial number, or key identifier); -1 when none does.
long RecipientIndex(HCRYPTMSG message, const CERT_CONTEXT* certificate) {
  DWORD count = 0;
  DWORD size = sizeof count;
  if (!CryptMsgGetParam(message, CMSG_RECIPIENT_COUNT_PARAM, 0, &count, &size)) return -1;
  const CERT_INFO* own = certificate->pCertInfo;
  Bytes ownKeyId;
  for (DWORD i = 0; i < count; ++i) {
    Bytes value;
    if (MessageParam(message, CMSG_CMS_RECIPIENT_INFO_PARAM, i, &value) && value.size() >= sizeof(CMSG_CMS_RECIPIENT_INFO)) {
      const auto* info = reinterpret_cast<const CMSG_CMS_RECIPIENT_INFO*>(value.data());
      if (info->dwRecipientChoice == CMSG_KEY_TRANS_RECIPIENT) {
        const CERT_ID& id = info->pKeyTrans->RecipientId;
        if (id.dwIdChoice == CERT_ID_ISSUER_SERIAL_NUMBER) {
          if (SameName(id.IssuerSerialNumber.Issuer, own->Issuer) &&
              SameSerial(id.IssuerSerialNumber.SerialNumber, own->SerialNumber)) {
            return static_cast<long>(i);
          }
        } else if (id.dwIdChoice == CERT_ID_KEY_IDENTIFIER) {
          if (ownKeyId.empty()) ownKeyId = CertificateKeyId(certificate);
          if (BlobBytes(id.KeyId) == ownKeyId) return static_cast<long>(i);
        }
      }
      continue;
    }
    if (MessageParam(message, CMSG_RECIPIENT_INFO_PARAM, i, &value) && value.size() >= sizeof(CERT_INFO)) {
      const auto* info = reinterpret_cast<const CERT_INFO*>(value.data());
      if (SameName(info->Issuer, own->Issuer) && SameSerial(info->SerialNumber, own->SerialNumber)) {
        return static_cast<long>(i);
      }
    }
  }
  return -1;
}

// What the message says of one signer: its identifier and signed
// attributes, from the CMS form of the signer information, else the older
// one (issuer and serial number only).
bool DescribeSigner(HCRYPTMSG message, DWORD index, SignerInfo* info) {
  Bytes value;
  const CRYPT_ATTRIBUTES* attributes = nullptr;
  if (MessageParam(message, CMSG_CMS_SIGNER_INFO_PARAM, index, &value) && value.size() >= sizeof(CMSG_CMS_SIGNER_INFO)) {
    const auto* signer = reinterpret_cast<const CMSG_CMS_SIGNER_INFO*>(value.data());
    if (signer->SignerId.dwIdChoice == CERT_ID_KEY_IDENTIFIER) {
      info->keyId = BlobBytes(signer->SignerId.KeyId);
    } else if (signer->SignerId.dwIdChoice == CERT_ID_ISSUER_SERIAL_NUMBER) {
      info->issuer = BlobBytes(signer->SignerId.IssuerSerialNumber.Issuer);
      info->serial = SerialMagnitude(signer->SignerId.IssuerSerialNumber.SerialNumber);
    }
    attributes = &signer->AuthAttrs;
  } else if (MessageParam(message, CMSG_SIGNER_INFO_PARAM, index, &value) && value.size() >= sizeof(CMSG_SIGNER_INFO)) {
    const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(value.data());
    info->issuer = BlobBytes(signer->Issuer);
    info->serial = SerialMagnitude(signer->SerialNumber);
    attributes = &signer->AuthAttrs;
  } else {
    return false;
  }
  for (DWORD a = 0; a < attributes->cAttr; ++a) {
    const CRYPT_ATTRIBUTE& attribute = attributes->rgAttr[a];
    SignedAttribute entry;
    entry.oid = attribute.pszObjId != nullptr ? attribute.pszObjId : "";
    if (attribute.cValue > 0) entry.value = BlobBytes(attribute.rgValue[0]);
    if (!info->hasSigningTime && entry.oid == szOID_RSA_signingTime && !entry.value.empty()) {
      FILETIME time;
      DWORD size = sizeof time;
      if (CryptDecodeObjectEx(kEncoding, szOID_RSA_signingTime, entry.value.data(),
                              static_cast<DWORD>(entry.value.size()), 0, nullptr, &time, &size)) {
        info->hasSigningTime = true;
        info->signingTime = FileTimeValue(time);
      }
    }
    info->attributes.push_back(std::move(entry));
  }
  return true;
}

}  // namespace

Outcome SignMessage(const Key& key, const Bytes& /*certDer*/, const SignParams& params,
                    const Bytes& content, Bytes* message) {
  NoteMessageFlags(params.flags);
  if (uint32_t error = SigningKey(key)) return {error, Step::Size};
  SigningTimeAttribute signingTime;
  if (uint32_t error = MakeSigningTime(params, &signingTime)) return {error, Step::Size};
  const CERT_CONTEXT* certificate = key.privateKey->certificate;
  CRYPT_SIGN_MESSAGE_PARA para{};
  para.cbSize = sizeof para;
  para.dwMsgEncodingType = kEncoding;
  para.pSigningCert = certificate;
  para.HashAlgorithm = HashAlgorithm(params);
  para.cMsgCert = 1;
  para.rgpMsgCert = &certificate;
  para.cAuthAttr = 1;
  para.rgAuthAttr = &signingTime.attribute;
  para.dwFlags = params.flags;
  const BYTE* data[] = {content.data()};
  DWORD sizes[] = {static_cast<DWORD>(content.size())};
  DWORD size = 0;
  if (!CryptSignMessage(&para, FALSE, 1, data, sizes, nullptr, &size)) return {LastError(), Step::Size};
  message->assign(size, 0);
  if (!CryptSignMessage(&para, FALSE, 1, data, sizes, message->data(), &size)) return {LastError(), Step::Data};
  message->resize(size);
  return {};
}

Outcome AddSigner(const Key& key, const Bytes& /*certDer*/, const SignParams& params,
                  const Bytes& message, Bytes* out) {
  NoteMessageFlags(params.flags);
  if (uint32_t error = SigningKey(key)) return {error, Step::Open};
  const KeyObject& signer = *key.privateKey;
  MsgPtr decoded;
  Outcome opened = OpenDecoded(message, static_cast<HCRYPTPROV>(signer.handle), &decoded);
  if (!opened.ok()) return opened;
  if (MessageType(decoded.get()) != CMSG_SIGNED) return {kErrorInvalidMessageType, Step::Update};

  SigningTimeAttribute signingTime;
  if (uint32_t error = MakeSigningTime(params, &signingTime)) return {error, Step::AddSigner};
  CMSG_SIGNER_ENCODE_INFO info{};
  info.cbSize = sizeof info;
  info.pCertInfo = signer.certificate->pCertInfo;
  info.hCryptProv = signer.handle;
  info.dwKeySpec = signer.keySpec;
  info.HashAlgorithm = HashAlgorithm(params);
  info.cAuthAttr = 1;
  info.rgAuthAttr = &signingTime.attribute;
  if (!CryptMsgControl(decoded.get(), 0, CMSG_CTRL_ADD_SIGNER, &info)) return {LastError(), Step::AddSigner};
  if (!CarriesCertificate(decoded.get(), signer.certificate)) {
    CERT_BLOB blob;
    blob.cbData = signer.certificate->cbCertEncoded;
    blob.pbData = signer.certificate->pbCertEncoded;
    if (!CryptMsgControl(decoded.get(), 0, CMSG_CTRL_ADD_CERT, &blob)) return {LastError(), Step::AddCert};
  }
  DWORD size = 0;
  if (!CryptMsgGetParam(decoded.get(), CMSG_ENCODED_MESSAGE, 0, nullptr, &size)) return {LastError(), Step::Size};
  out->assign(size, 0);
  if (!CryptMsgGetParam(decoded.get(), CMSG_ENCODED_MESSAGE, 0, out->data(), &size)) return {LastError(), Step::Data};
  out->resize(size);
  return {};
}

Outcome EncryptMessage(const Context& context, const std::vector<Bytes>& recipients,
                       const EncryptParams& params, const Bytes& content, Bytes* envelope) {
  NoteMessageFlags(params.flags);
  if (context.handle == 0) return {kErrorBadProviderType, Step::Size};
  if (recipients.empty()) return {kErrorBadData, Step::Size};
  std::vector<CertPtr> owned;
  std::vector<const CERT_CONTEXT*> certificates;
  for (const Bytes& der : recipients) {
    CertPtr certificate = MakeCertificate(der);
    if (!certificate) return {kErrorBadData, Step::Size};
    certificates.push_back(certificate.get());
    owned.push_back(std::move(certificate));
  }
  CRYPT_ENCRYPT_MESSAGE_PARA para{};
  para.cbSize = sizeof para;
  para.dwMsgEncodingType = kEncoding;
  para.hCryptProv = static_cast<HCRYPTPROV>(context.handle);
  para.ContentEncryptionAlgorithm.pszObjId = const_cast<char*>(params.contentOid.c_str());
  para.dwFlags = params.flags;
  DWORD size = 0;
  DWORD count = static_cast<DWORD>(certificates.size());
  if (!CryptEncryptMessage(&para, count, certificates.data(), content.data(), static_cast<DWORD>(content.size()),
                           nullptr, &size)) {
    return {LastError(), Step::Size};
  }
  envelope->assign(size, 0);
  if (!CryptEncryptMessage(&para, count, certificates.data(), content.data(), static_cast<DWORD>(content.size()),
                           envelope->data(), &size)) {
    return {LastError(), Step::Data};
  }
  envelope->resize(size);
  return {};
}

Outcome DecryptMessage(const Key& key, const Bytes& certDer, const Bytes& envelope,
                       uint32_t flags, Bytes* content) {
  NoteMessageFlags(flags);
  MsgPtr message;
  Outcome opened = OpenDecoded(envelope, 0, &message);
  if (!opened.ok()) return {opened.error, Step::Size};
  if (MessageType(message.get()) != CMSG_ENVELOPED) return {kErrorInvalidMessageType, Step::Size};
  CertPtr certificate = MakeCertificate(certDer);
  if (!certificate) return {kErrorBadData, Step::Size};
  long index = RecipientIndex(message.get(), certificate.get());
  if (index < 0) return {kErrorNoDecryptCert, Step::Size};
  if (!key.privateKey || key.privateKey->handle == 0) {
    return {key.keyError != 0 ? key.keyError : kErrorNoSmartCard, Step::Size};
  }
  CMSG_CTRL_DECRYPT_PARA para{};
  para.cbSize = sizeof para;
  para.hCryptProv = key.privateKey->handle;
  para.dwKeySpec = key.privateKey->keySpec;
  para.dwRecipientIndex = static_cast<DWORD>(index);
  if (!CryptMsgControl(message.get(), 0, CMSG_CTRL_DECRYPT, &para)) return {LastError(), Step::Size};
  if (!MessageParam(message.get(), CMSG_CONTENT_PARAM, 0, content)) return {LastError(), Step::Data};
  return {};
}

Outcome DecodeMessage(const Bytes& data, DecodedMessage* message) {
  *message = DecodedMessage();
  if (data.empty()) return {kErrorBadData, Step::Update};
  CERT_BLOB blob;
  blob.cbData = static_cast<DWORD>(data.size());
  blob.pbData = const_cast<BYTE*>(data.data());
  DWORD contentType = 0;
  HCRYPTMSG queried = nullptr;
  const void* context = nullptr;
  MsgPtr decoded;
  if (CryptQueryObject(CERT_QUERY_OBJECT_BLOB, &blob, CERT_QUERY_CONTENT_FLAG_ALL, CERT_QUERY_FORMAT_FLAG_ALL, 0,
                       nullptr, &contentType, nullptr, nullptr, &queried, &context)) {
    if (contentType == CERT_QUERY_CONTENT_CERT) {
      CertFreeCertificateContext(static_cast<const CERT_CONTEXT*>(context));
      if (queried != nullptr) CryptMsgClose(queried);
      message->kind = ObjectKind::Certificate;
      return {};
    }
    // Other contexts (lists, serialized stores) are no message.
    if (context != nullptr) {
      if (contentType == CERT_QUERY_CONTENT_CRL) CertFreeCRLContext(static_cast<const CRL_CONTEXT*>(context));
      if (contentType == CERT_QUERY_CONTENT_CTL) CertFreeCTLContext(static_cast<const CTL_CONTEXT*>(context));
      if (contentType == CERT_QUERY_CONTENT_SERIALIZED_STORE) CertCloseStore(const_cast<void*>(context), 0);
    }
    decoded.reset(queried);
  }
  if (!decoded) {
    // A message the query does not take (an envelope, for one): decoded as
    // DER.
    Outcome opened = OpenDecoded(data, 0, &decoded);
    if (!opened.ok()) return {opened.error, Step::Update};
  }
  if (MessageType(decoded.get()) != CMSG_SIGNED) {
    message->kind = ObjectKind::OtherMessage;
    return {};
  }
  message->kind = ObjectKind::Signed;
  DWORD count = 0;
  DWORD size = sizeof count;
  if (CryptMsgGetParam(decoded.get(), CMSG_CERT_COUNT_PARAM, 0, &count, &size)) {
    for (DWORD i = 0; i < count; ++i) {
      Bytes der;
      if (MessageParam(decoded.get(), CMSG_CERT_PARAM, i, &der) && !der.empty()) {
        message->certificates.push_back(std::move(der));
      }
    }
  }
  count = 0;
  size = sizeof count;
  if (!CryptMsgGetParam(decoded.get(), CMSG_SIGNER_COUNT_PARAM, 0, &count, &size)) return {LastError(), Step::Size};
  for (DWORD i = 0; i < count; ++i) {
    SignerInfo info;
    if (!DescribeSigner(decoded.get(), i, &info)) return {LastError(), Step::Data};
    message->signers.push_back(std::move(info));
  }
  return {};
}

Outcome VerifySigner(const Context& context, const Bytes& message, size_t index, Bytes* content) {
  if (context.handle == 0) return {kErrorBadProviderType, Step::Size};
  if (message.empty()) return {kErrorBadData, Step::Size};
  // The verification runs in the default provider of the signer's key
  // algorithm (no handle given): Wine lets go of a provider handed to
  // CryptVerifyMessageSignature, after which the caller's context could no
  // longer tell the provider's name and version.
  CRYPT_VERIFY_MESSAGE_PARA para{};
  para.cbSize = sizeof para;
  para.dwMsgAndCertEncodingType = kEncoding;
  para.hCryptProv = 0;
  DWORD size = 0;
  if (!CryptVerifyMessageSignature(&para, static_cast<DWORD>(index), message.data(),
                                   static_cast<DWORD>(message.size()), nullptr, &size, nullptr)) {
    return {LastError(), Step::Size};
  }
  content->assign(size, 0);
  if (!CryptVerifyMessageSignature(&para, static_cast<DWORD>(index), message.data(),
                                   static_cast<DWORD>(message.size()), content->data(), &size, nullptr)) {
    return {LastError(), Step::Data};
  }
  content->resize(size);
  return {};
}

}  // namespace crypto::provider
