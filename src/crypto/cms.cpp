// Signing, encryption, decryption, message digest and public-key export of
// CMS messages (see cms.h).
#include "crypto/cms.h"

#include "core/format.h"
#include "core/log.h"
#include "core/text.h"
#include "crypto/markers.h"
#include "crypto/provider/provider.h"
#include "crypto/verify.h"
#include "platform/clock.h"
#include "storage/settings.h"

namespace crypto {

namespace {

using provider::Bytes;

constexpr uint32_t kRefused = 1;
// The acquisition error that lets signing go on without a key of its own.
constexpr uint32_t kErrorInvalidFunction = 1;

// The key-medium PIN: "IDC_PASS" in code page 1251; empty when not set.
std::string StoredPin() {
  return core::ToNarrow(storage::GetSettingText("IDC_PASS").value_or(L""), core::kCodePage1251);
}

// Opens "My" and finds the certificate; logs the store failure.
uint32_t OpenMy(provider::Store* my) {
  uint32_t error = provider::OpenStore(provider::StoreName::My, my);
  if (error != 0) core::LogError("Хранилище сертификатов не открыто", error);
  return error;
}

uint32_t FindOwn(const provider::Store& my, const KeyId& keyId, Bytes* der) {
  return provider::FindCertificateByKeyId(my, keyId.data(), keyId.size(), der);
}

// Sets the PIN when "IDC_PASS" has one; true when it was set.
bool GivePin(provider::Key* key) {
  std::string pin = StoredPin();
  if (pin.empty()) return false;
  if (uint32_t error = provider::SetSignaturePin(key, pin)) {
    core::LogError("CryptSetProvParam-PP_SIGNATURE_PIN", error);
    return false;
  }
  return true;
}

// The hash parameters of a further signature: the first two bytes of the
// certificate's own signature-algorithm parameters, none when it has fewer.
Bytes CoSignatureHashParameters(const Bytes& certificateDer) {
  provider::CertInfo info;
  if (provider::ReadCertificate(certificateDer, &info) != 0) return {};
  if (info.signatureParameters.size() < 2) return {};
  return Bytes(info.signatureParameters.begin(), info.signatureParameters.begin() + 2);
}

// What a decryption's error says of the key: the provider names the
// envelope's own faults (not for this key, damaged) before it looks at the key.
DecryptFailure KeyFailure(uint32_t error) {
  switch (error) {
    case provider::kErrorNoSmartCard:
    case provider::kErrorBadKeyset:
      return DecryptFailure::NoKeyMedium;
    case provider::kErrorWrongPin:
      return DecryptFailure::PinRefused;
    default:
      return DecryptFailure::Envelope;
  }
}

}  // namespace

uint32_t SignMessage(const DataBlock& content, const KeyId& ownKeyId, DataBlock* out, bool pinFlag) {
  OperationMarkers markers("SM");
  try {
    provider::Store my;
    if (uint32_t error = OpenMy(&my)) return error;

    int signatures = 0;
    int verified = VerifyMessageSignature(content, &signatures, nullptr, nullptr, nullptr);
    if (verified == 1 && signatures == 2) {
      core::LogError("Сообщение уже содержит две подписи", 0);
      return kRefused;
    }
    bool alreadySigned = verified != -1;

    Bytes certificate;
    if (FindOwn(my, ownKeyId, &certificate) != 0) {
      core::LogError("Сертификат для подписи не найден", 0);
      return kRefused;
    }
    core::LogInfo("Сертификат для подписи найден");

    provider::Key key;
    bool keyHeld = false;
    bool pinSet = false;
    uint32_t pinRefused = 0;  // why the provider did not take the PIN; 0 when it did or none was given
    if (uint32_t error = provider::AcquireCertificateKey(my, certificate, true, &key)) {
      core::LogError("HCRYPTPROV_OR_NCRYPT_KEY_HANDLE", error);
      if (error != kErrorInvalidFunction) return error;
    } else {
      keyHeld = true;
      core::LogInfo("Контейнер найден");
      if (pinFlag && !StoredPin().empty()) {
        if (uint32_t error = provider::SetSignaturePin(&key, StoredPin())) {
          core::LogError("CryptSetProvParam-PP_SIGNATURE_PIN", error);
          pinRefused = error;
        } else {
          pinSet = true;
          core::LogInfo("PIN-Ok");
        }
      }
      std::string container;
      if (uint32_t error = provider::GetContainerName(key, &container)) {
        core::LogError("CryptGetProvParam", error);
      } else {
        core::LogValue("Size of PP_CONTAINER", static_cast<int64_t>(container.size() + 1));
        core::LogInfo(container);
      }
    }

    // A PIN the provider did not take ends a further signature: acquiring
    // the key again would hand out the key that an earlier right PIN left
    // open, as if this one had been accepted.
    if (pinRefused != 0 && alreadySigned) return pinRefused;
    if (!pinSet && alreadySigned) {
      provider::Key asked;
      if (uint32_t error = provider::AcquireCertificateKey(my, certificate, false, &asked)) {
        core::LogError("CryptAcquireCertificatePrivateKey", error);
        if (error != kErrorInvalidFunction) return error;
      } else {
        key = std::move(asked);
        keyHeld = true;
      }
    }

    provider::SignParams params;
    params.hashOid = kHashOid;
    params.signingTimeOid = kSigningTimeOid;
    params.signingTime = platform::FileTimeNow();
    params.flags = SilentMessageFlag();

    Bytes signedMessage;
    if (!alreadySigned) {
      core::LogInfo("Подписываем файл первой подписью");
      provider::Outcome outcome =
          provider::SignMessage(key, certificate, params, BlockBytes(content), &signedMessage);
      if (!outcome.ok()) {
        core::LogError(outcome.step == provider::Step::Data ? "CryptSignMessage" : "Getting signed BLOB size failed",
                       outcome.error);
        return outcome.error;
      }
      core::LogInfo("Файл успешно подписан");
    } else {
      if (!keyHeld) return kRefused;
      core::LogInfo("Подписываем файл последующей подписью");
      params.hashParameters = CoSignatureHashParameters(certificate);
      provider::Outcome outcome =
          provider::AddSigner(key, certificate, params, BlockBytes(content), &signedMessage);
      if (!outcome.ok()) {
        const char* step = "CryptMsgControl";
        switch (outcome.step) {
          case provider::Step::Open: step = "CryptMsgOpenToDecode"; break;
          case provider::Step::Update: step = "CryptMsgUpdate"; break;
          case provider::Step::AddCert: step = "Add cert"; break;
          case provider::Step::Size: step = "CryptMsgGetParam-1"; break;
          case provider::Step::Data: step = "CryptMsgGetParam-2"; break;
          default: break;
        }
        core::LogError(step, outcome.error);
        return outcome.error;
      }
      core::LogInfo("Дополнительная подпись добавлена");
    }
    SetBlockBytes(out, signedMessage);
    return 0;
  } catch (...) {
    core::LogException("SignMessage");
    return kRefused;
  }
}

bool CryptMessage(const DataBlock& content, const std::vector<Recipient>& recipients, DataBlock* out) {
  OperationMarkers markers("CM");
  try {
    std::vector<Bytes> certificates;
    for (const Recipient& recipient : recipients) {
      Bytes certificate;
      if (uint32_t error = provider::QueryCertificate(core::Base64Decode(recipient.certificate), &certificate)) {
        core::LogError("CryptQueryObject", error);
        continue;
      }
      if (!recipient.publicKey.empty()) {
        Bytes key = core::Base64Decode(recipient.publicKey);
        if (uint32_t error = provider::SetCertificatePublicKey(&certificate, key)) {
          // A replacement key that is too short or of another kind.
          core::LogValue("Replacement public key rejected, length", static_cast<int64_t>(key.size()));
          core::LogError("CryptQueryObject", error);
          continue;
        }
      }
      certificates.push_back(std::move(certificate));
    }
    if (certificates.empty()) {
      core::LogError("didn't find any certificates from " + std::to_string(recipients.size()), 0);
      return false;
    }

    provider::Context context;
    if (uint32_t error = provider::AcquireVerifyContext(ProviderTypeInForce(), &context)) {
      core::LogError("CryptAcquireContext", error);
      return false;
    }
    provider::EncryptParams params;
    params.contentOid = kContentEncryptionOid;
    params.flags = SilentMessageFlag();
    Bytes envelope;
    provider::Outcome outcome = provider::EncryptMessage(context, certificates, params, BlockBytes(content), &envelope);
    provider::ReleaseContext(&context);
    if (!outcome.ok()) {
      core::LogError(outcome.step == provider::Step::Data ? "CryptEncryptMessage" : "Getting signed BLOB size failed",
                     outcome.error);
      return false;
    }
    core::LogInfo("Файл успешно зашифрован");
    SetBlockBytes(out, envelope);
    return true;
  } catch (...) {
    core::LogException("CryptMessage");
    return false;
  }
}

bool CryptMessageByPublicKey(const DataBlock& content, const KeyId& ownKeyId, const DataBlock& publicKey,
                             const KeyId& recipientKeyId, DataBlock* out) {
  OperationMarkers markers("CMBPK");
  try {
    provider::Store my;
    if (OpenMy(&my) != 0) return false;
    Bytes own;
    if (FindOwn(my, ownKeyId, &own) != 0) {
      core::LogError("Сертификат для шифрования не найден", 0);
      return false;
    }
    core::LogInfo("Сертификат для шифрования найден");

    provider::CertInfo check;
    if (uint32_t error = provider::ReadCertificate(own, &check)) {
      core::LogError("CertCreateCertificateContext", error);
      return false;
    }
    Bytes copy = own;
    if (uint32_t error =
            provider::SetCertificateKeyId(&copy, Bytes(recipientKeyId.begin(), recipientKeyId.end()))) {
      core::LogError("CertSetCertificateContextProperty", error);
      return false;
    }
    Bytes spki = BlockBytes(publicKey);
    provider::PublicKeyInfo decoded;
    provider::Outcome outcome = provider::DecodePublicKeyInfo(spki, &decoded);
    if (!outcome.ok()) {
      core::LogError(outcome.step == provider::Step::Data ? "CryptDecodeObjectEx=2=" : "CryptDecodeObjectEx=1=",
                     outcome.error);
      return false;
    }
    if (uint32_t error = provider::SetCertificatePublicKey(&copy, spki)) {
      core::LogError("CryptDecodeObjectEx=2=", error);
      return false;
    }

    provider::Context context;
    if (uint32_t error = provider::AcquireVerifyContext(ProviderTypeInForce(), &context)) {
      core::LogError("CryptAcquireContext", error);
      return false;
    }
    provider::EncryptParams params;
    params.contentOid = kContentEncryptionOid;
    params.flags = SilentMessageFlag() | provider::kMessageFlagRecipientKeyId;
    Bytes envelope;
    outcome = provider::EncryptMessage(context, {copy}, params, BlockBytes(content), &envelope);
    provider::ReleaseContext(&context);
    if (!outcome.ok()) {
      core::LogError(outcome.step == provider::Step::Data ? "CryptEncryptMessage - 2" : "CryptEncryptMessage - 1",
                     outcome.error);
      return false;
    }
    core::LogInfo("Файл успешно зашифрован");
    SetBlockLabel(out, "pbSing");
    SetBlockBytes(out, envelope);
    return true;
  } catch (...) {
    core::LogException("CryptMessageByPublicKey");
    return false;
  }
}

bool DecryptMessage(const DataBlock& envelope, const KeyId& ownKeyId, DataBlock* out, DecryptFailure* failure) {
  OperationMarkers markers("DM");
  DecryptFailure ignored;
  DecryptFailure& why = failure != nullptr ? *failure : ignored;
  why = DecryptFailure::Envelope;
  try {
    provider::Store my;
    if (OpenMy(&my) != 0) return false;
    Bytes own;
    if (uint32_t error = FindOwn(my, ownKeyId, &own)) {
      core::LogError("CertFindCertificateInStore", error);
      return false;
    }
    core::LogInfo("Сертификат для расшифровывания найден");

    provider::Key key;
    if (uint32_t error = provider::AcquireCertificateKey(my, own, true, &key)) {
      core::LogError("HCRYPTPROV_OR_NCRYPT_KEY_HANDLE", error);
      key.keyError = error;
    } else {
      core::LogInfo("Контейнер найден");
      GivePin(&key);
      std::string container;
      if (uint32_t error = provider::GetContainerName(key, &container)) {
        core::LogError("CryptGetProvParam", error);
      } else {
        core::LogInfo(container);
      }
    }

    Bytes plain;
    provider::Outcome outcome =
        provider::DecryptMessage(key, own, BlockBytes(envelope), SilentMessageFlag(), &plain);
    if (!outcome.ok()) {
      core::LogError("CryptDecryptMessage", outcome.error);
      why = KeyFailure(outcome.error);
      return false;
    }
    why = DecryptFailure::None;
    core::LogInfo("Файл успешно расшифрован");
    SetBlockBytes(out, plain);
    return true;
  } catch (...) {
    core::LogException("DecryptMessage");
    return false;
  }
}

bool GetDataFromEncode(const DataBlock& message, DataBlock* out) {
  OperationMarkers markers("GDFE");
  try {
    provider::Context context;
    if (uint32_t error = provider::AcquireVerifyContext(ProviderTypeInForce(), &context)) {
      core::LogError("CryptAcquireContext", error);
      return false;
    }
    provider::ReleaseContext(&context);
    provider::DecodedMessage decoded;
    provider::Outcome outcome = provider::DecodeMessage(BlockBytes(message), &decoded);
    if (!outcome.ok() || decoded.kind == provider::ObjectKind::Certificate) {
      core::LogError(outcome.step == provider::Step::Open ? "CryptMsgOpenToDecode" : "CryptMsgUpdate",
                     outcome.ok() ? provider::kErrorBadData : outcome.error);
      return false;
    }
    if (decoded.kind != provider::ObjectKind::Signed) {
      core::LogError("CryptMsgGetParam", provider::kErrorInvalidMessageType);
      return false;
    }
    if (decoded.signers.size() != 1) {
      core::LogError("Количество подписей в сообщении не равно 1", 0);
      return false;
    }
    for (const provider::SignedAttribute& attribute : decoded.signers[0].attributes) {
      if (attribute.oid != kMessageDigestOid) continue;
      // An OCTET STRING: byte 1 its short-form length, the digest from byte 2.
      const Bytes& value = attribute.value;
      if (value.size() < 2 || value[1] >= 0x80 || static_cast<size_t>(value[1]) + 2 > value.size()) {
        core::LogValue("Message digest attribute malformed, length", static_cast<int64_t>(value.size()));
        return false;
      }
      SetBlockBytes(out, value.data() + 2, value[1]);
      return true;
    }
    core::LogError("Нет указанных атрибутов", 0);
    return false;
  } catch (...) {
    core::LogException("GetDataFromEncode");
    return false;
  }
}

bool GPKFCBC(const KeyId& ownKeyId, DataBlock* out) {
  OperationMarkers markers("GPKFCBC");
  try {
    provider::Store my;
    if (OpenMy(&my) != 0) return false;
    Bytes own;
    if (uint32_t error = FindOwn(my, ownKeyId, &own)) {
      core::LogError("CertFindCertificateInStore", error);
      return false;
    }
    core::LogInfo("Сертификат для экспорта открытого ключа найден");
    provider::Key key;
    if (uint32_t error = provider::AcquireCertificateKey(my, own, true, &key)) {
      core::LogError("HCRYPTPROV_OR_NCRYPT_KEY_HANDLE", error);
      return false;
    }
    core::LogInfo("Контейнер найден");
    GivePin(&key);
    Bytes spki;
    provider::Outcome outcome = provider::ExportPublicKeyInfo(key, &spki);
    if (!outcome.ok()) {
      core::LogError(outcome.step == provider::Step::Data ? "CryptExportPublicKeyInfo.Stage - 2"
                                                          : "CryptExportPublicKeyInfo.Stage - 1",
                     outcome.error);
      return false;
    }
    SetBlockBytes(out, spki);
    return true;
  } catch (...) {
    core::LogException("GPKFCBC");
    return false;
  }
}

}  // namespace crypto
