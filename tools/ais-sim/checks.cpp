// Checks of routed content (see checks.h).
#include "checks.h"

#include <openssl/cms.h>
#include <openssl/err.h>

#include "crypto/provider/provider.h"
#include "link/payload.h"
#include "pki.h"
#include "state.h"

namespace aissim {

namespace provider = crypto::provider;

namespace {

// True when the bytes are a DER CMS enveloped-data message.
bool IsEnvelope(const Bytes& payload) {
  const unsigned char* at = payload.data();
  CMS_ContentInfo* cms = d2i_CMS_ContentInfo(nullptr, &at, static_cast<long>(payload.size()));
  bool enveloped = cms != nullptr && OBJ_obj2nid(CMS_get0_type(cms)) == NID_pkcs7_enveloped;
  CMS_ContentInfo_free(cms);
  ERR_clear_error();
  return enveloped;
}

ContentCheck Refuse(const std::string& reason) {
  ContentCheck check;
  check.ok = false;
  check.reason = reason;
  return check;
}

// Verifies every signer of a signed message.
ContentCheck VerifySigned(const Bytes& message) {
  provider::DecodedMessage decoded;
  if (!provider::DecodeMessage(message, &decoded).ok() || decoded.kind != provider::ObjectKind::Signed) {
    return Refuse("the content is not a signed message");
  }
  if (decoded.signers.empty()) return Refuse("the signed message has no signer");
  provider::Context context;
  if (provider::AcquireVerifyContext(provider::OwnProviderType(), &context) != 0) {
    return Refuse("no provider context");
  }
  ContentCheck check;
  for (size_t i = 0; i < decoded.signers.size() && check.ok; ++i) {
    Bytes content;
    if (!provider::VerifySigner(context, message, i, &content).ok()) {
      check = Refuse("signature " + std::to_string(i + 1) + " does not verify");
    }
  }
  provider::ReleaseContext(&context);
  check.opened = check.ok;
  return check;
}

ContentCheck CheckEnvelopedDocument(const serverlink::ExchangeRecord& record, const std::string& recipientIks) {
  if (!IsEnvelope(record.payload)) return Refuse("the payload is not a CMS envelope");
  PkiOrganisation recipient;
  if (!FindPkiByIks(recipientIks, &recipient)) return {};  // no key: the form is all that can be checked
  Bytes plain;
  if (!DecryptAs(recipient, record.payload, &plain)) return Refuse("the envelope does not open for the recipient");
  serverlink::ExchangeRecord opened;
  opened.type = record.type;
  opened.payload = std::move(plain);
  opened.payloadLength = static_cast<uint32_t>(opened.payload.size());
  if (!serverlink::ExpandPayload(&opened)) return Refuse("the compressed content does not expand");
  return VerifySigned(opened.payload);
}

}  // namespace

ContentCheck CheckContent(const serverlink::ExchangeRecord& record, const std::string& recipientIks) {
  switch (TypeFamily(record.type)) {
    case 52:
    case 53:
    case 54:
      return CheckEnvelopedDocument(record, recipientIks);
    case 74:
      // Encrypted for the asker's public key; only its form can be checked.
      return IsEnvelope(record.payload) ? ContentCheck{} : Refuse("the payload is not a CMS envelope");
    case 56:
      return record.payload.empty() ? Refuse("the refusal carries no code") : ContentCheck{};
    case 73: {
      provider::PublicKeyInfo info;
      return provider::DecodePublicKeyInfo(record.payload, &info).ok()
                 ? ContentCheck{}
                 : Refuse("the payload is not a public key");
    }
    default:
      return {};
  }
}

}  // namespace aissim
