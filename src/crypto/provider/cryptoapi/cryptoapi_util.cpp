// Helpers of the CryptoAPI backend (see cryptoapi_util.h).
#include "crypto/provider/cryptoapi/cryptoapi_util.h"

#include <algorithm>
#include <atomic>
#include <cwctype>

namespace crypto::provider::cryptoapi {

namespace {

std::atomic<uint32_t> lastMessageFlags{0};

// The name as text, each value in its own form, for comparing names.
std::wstring NameText(const CERT_NAME_BLOB& name) {
  CERT_NAME_BLOB copy = name;
  DWORD size = CertNameToStrW(X509_ASN_ENCODING, &copy, CERT_X500_NAME_STR, nullptr, 0);
  if (size <= 1) return {};
  std::wstring text(size, L'\0');
  CertNameToStrW(X509_ASN_ENCODING, &copy, CERT_X500_NAME_STR, text.data(), size);
  text.resize(size - 1);
  std::wstring folded;
  bool space = false;
  for (wchar_t c : text) {
    if (std::iswspace(static_cast<wint_t>(c))) {
      space = true;
      continue;
    }
    if (space && !folded.empty()) folded += L' ';
    space = false;
    folded += static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  }
  return folded;
}

}  // namespace

uint32_t LastError() {
  DWORD error = GetLastError();
  return error != 0 ? static_cast<uint32_t>(error) : kErrorFailed;
}

CertPtr MakeCertificate(const Bytes& der) {
  if (der.empty()) {
    SetLastError(static_cast<DWORD>(kErrorBadData));
    return nullptr;
  }
  return CertPtr(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
}

CrlPtr MakeCrl(const Bytes& der) {
  if (der.empty()) {
    SetLastError(static_cast<DWORD>(kErrorBadData));
    return nullptr;
  }
  return CrlPtr(CertCreateCRLContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
}

CertPtr FindInStore(HCERTSTORE store, const Bytes& der) {
  CertPtr wanted = MakeCertificate(der);
  if (!wanted || store == nullptr) return nullptr;
  return CertPtr(CertFindCertificateInStore(store, kEncoding, 0, CERT_FIND_EXISTING, wanted.get(), nullptr));
}

Bytes BlobBytes(const CRYPT_DATA_BLOB& blob) {
  if (blob.pbData == nullptr || blob.cbData == 0) return {};
  return Bytes(blob.pbData, blob.pbData + blob.cbData);
}

Bytes Encode(LPCSTR structType, const void* structure) {
  DWORD size = 0;
  if (!CryptEncodeObjectEx(kEncoding, structType, structure, 0, nullptr, nullptr, &size) || size == 0) return {};
  Bytes out(size);
  if (!CryptEncodeObjectEx(kEncoding, structType, structure, 0, nullptr, out.data(), &size)) return {};
  out.resize(size);
  return out;
}

bool MessageParam(HCRYPTMSG message, DWORD param, DWORD index, Bytes* value) {
  DWORD size = 0;
  if (!CryptMsgGetParam(message, param, index, nullptr, &size)) return false;
  value->assign(size, 0);
  if (size == 0) return true;
  if (!CryptMsgGetParam(message, param, index, value->data(), &size)) return false;
  value->resize(size);
  return true;
}

Bytes SerialMagnitude(const CRYPT_INTEGER_BLOB& serial) {
  Bytes out(serial.pbData, serial.pbData + serial.cbData);
  std::reverse(out.begin(), out.end());
  size_t zeros = 0;
  while (zeros + 1 < out.size() && out[zeros] == 0) ++zeros;
  out.erase(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(zeros));
  return out;
}

std::wstring DisplayName(const CERT_NAME_BLOB& name) {
  LocalPtr<CERT_NAME_INFO> info = Decode<CERT_NAME_INFO>(X509_NAME, name.pbData, name.cbData);
  if (!info) return {};
  static const char* const kOrder[] = {szOID_COMMON_NAME, szOID_ORGANIZATIONAL_UNIT_NAME, szOID_ORGANIZATION_NAME,
                                       szOID_RSA_emailAddr};
  for (const char* oid : kOrder) {
    for (DWORD r = 0; r < info->cRDN; ++r) {
      const CERT_RDN& rdn = info->rgRDN[r];
      for (DWORD a = 0; a < rdn.cRDNAttr; ++a) {
        const CERT_RDN_ATTR& attribute = rdn.rgRDNAttr[a];
        if (std::string(attribute.pszObjId) != oid) continue;
        CERT_RDN_VALUE_BLOB value = attribute.Value;
        DWORD size = CertRDNValueToStrW(attribute.dwValueType, &value, nullptr, 0);
        if (size <= 1) return {};
        std::wstring text(size, L'\0');
        CertRDNValueToStrW(attribute.dwValueType, &value, text.data(), size);
        text.resize(size - 1);
        return text;
      }
    }
  }
  return {};
}

bool SameName(const CERT_NAME_BLOB& a, const CERT_NAME_BLOB& b) {
  CERT_NAME_BLOB first = a;
  CERT_NAME_BLOB second = b;
  if (CertCompareCertificateName(X509_ASN_ENCODING, &first, &second)) return true;
  std::wstring textA = NameText(a);
  return !textA.empty() && textA == NameText(b);
}

int64_t FileTimeValue(const FILETIME& time) {
  return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

FILETIME FileTimeOf(int64_t value) {
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(value) & 0xFFFFFFFFu);
  time.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(value) >> 32);
  return time;
}

void NoteMessageFlags(uint32_t flags) {
  lastMessageFlags.store(flags);
}

}  // namespace crypto::provider::cryptoapi

namespace crypto::provider {

uint32_t LastMessageFlagsForTest() {
  return cryptoapi::lastMessageFlags.load();
}

KeyObject::~KeyObject() {
  // Keys are acquired without the CNG flag: the handle is a provider's.
  if (callerFrees && handle != 0) CryptReleaseContext(handle, 0);
  if (certificate != nullptr) CertFreeCertificateContext(certificate);
}

}  // namespace crypto::provider
