// Taking the certificates out of a DER signed message before OpenSSL parses
// it (see openssl_util.h). Parsing a certificate decodes its public key,
// which OpenSSL 3 does slowly; the certificates a message carries are
// mostly the same few senders', so they are parsed through the shared
// table instead, and only the rest of the message is parsed afresh.
// Called by messages.cpp.
//
// Only the outer layers are walked: ContentInfo, its [0], SignedData and
// SignedData's fields up to the certificates. Anything unexpected (another
// content type, indefinite or long-form tags, lengths that do not add up,
// a certificate choice other than a plain certificate) makes the split
// decline, and the message is parsed whole as before.
#include <array>

#include "crypto/provider/openssl/openssl_util.h"

namespace crypto::provider::openssl {

namespace {

// id-signedData, 1.2.840.113549.1.7.2, with its tag and length.
constexpr std::array<uint8_t, 11> kSignedDataOid = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86,
                                                    0xF7, 0x0D, 0x01, 0x07, 0x02};

constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kSet = 0x31;
constexpr uint8_t kInteger = 0x02;
constexpr uint8_t kContext0 = 0xA0;  // [0] constructed

// One DER element within data[at, end).
struct Element {
  uint8_t tag = 0;     // the one-byte tag
  size_t start = 0;    // where the element starts (its tag)
  size_t content = 0;  // where its contents start
  size_t end = 0;      // one past its last byte
};

// Reads the element at `at`; false when it does not fit in [at, end) or
// uses a form this walk does not take (multi-byte tags, indefinite length,
// lengths over four bytes).
bool ReadElement(const Bytes& data, size_t at, size_t end, Element* element) {
  if (at >= end || end - at < 2) return false;
  element->tag = data[at];
  if ((element->tag & 0x1F) == 0x1F) return false;
  size_t cursor = at + 1;
  size_t length = data[cursor++];
  if (length & 0x80) {
    size_t octets = length & 0x7F;
    if (octets == 0 || octets > 4 || end - cursor < octets) return false;
    length = 0;
    for (size_t i = 0; i < octets; ++i) length = (length << 8) | data[cursor++];
    if (length < 0x80) return false;  // DER uses the short form there
  }
  if (end - cursor < length) return false;
  element->start = at;
  element->content = cursor;
  element->end = cursor + length;
  return true;
}

void AppendHeader(uint8_t tag, size_t length, Bytes* out) {
  out->push_back(tag);
  if (length < 0x80) {
    out->push_back(static_cast<uint8_t>(length));
    return;
  }
  uint8_t octets[4];
  int count = 0;
  for (size_t rest = length; rest != 0; rest >>= 8) octets[count++] = static_cast<uint8_t>(rest);
  out->push_back(static_cast<uint8_t>(0x80 | count));
  while (count > 0) out->push_back(octets[--count]);
}

// Tag, length byte and, past 127, the length's own bytes.
size_t HeaderSize(size_t length) {
  if (length < 0x80) return 2;
  size_t size = 2;
  for (size_t rest = length; rest != 0; rest >>= 8) ++size;
  return size;
}

}  // namespace

bool SplitSignedCertificates(const Bytes& message, Bytes* withoutCertificates, std::vector<Bytes>* certificates) {
  certificates->clear();
  Element contentInfo;
  if (!ReadElement(message, 0, message.size(), &contentInfo) || contentInfo.tag != kSequence ||
      contentInfo.end != message.size()) {
    return false;
  }
  const size_t oidEnd = contentInfo.content + kSignedDataOid.size();
  if (oidEnd > contentInfo.end ||
      !std::equal(kSignedDataOid.begin(), kSignedDataOid.end(), message.begin() + contentInfo.content)) {
    return false;
  }
  Element explicitContent;
  Element signedData;
  if (!ReadElement(message, oidEnd, contentInfo.end, &explicitContent) || explicitContent.tag != kContext0 ||
      explicitContent.end != contentInfo.end ||
      !ReadElement(message, explicitContent.content, explicitContent.end, &signedData) ||
      signedData.tag != kSequence || signedData.end != explicitContent.end) {
    return false;
  }
  // version, digestAlgorithms, encapContentInfo, then the certificates.
  Element field;
  size_t at = signedData.content;
  for (uint8_t expected : {kInteger, kSet, kSequence}) {
    if (!ReadElement(message, at, signedData.end, &field) || field.tag != expected) return false;
    at = field.end;
  }
  const size_t certificatesAt = at;
  Element set;
  if (!ReadElement(message, certificatesAt, signedData.end, &set) || set.tag != kContext0) return false;
  for (size_t cursor = set.content; cursor < set.end;) {
    Element certificate;
    if (!ReadElement(message, cursor, set.end, &certificate) || certificate.tag != kSequence) return false;
    certificates->emplace_back(message.begin() + static_cast<std::ptrdiff_t>(certificate.start),
                               message.begin() + static_cast<std::ptrdiff_t>(certificate.end));
    cursor = certificate.end;
  }
  if (certificates->empty()) return false;

  // The same layers around the same fields, less the certificates.
  const size_t signedLength = (signedData.end - signedData.content) - (set.end - set.start);
  const size_t explicitLength = HeaderSize(signedLength) + signedLength;
  const size_t outerLength = kSignedDataOid.size() + HeaderSize(explicitLength) + explicitLength;
  Bytes& out = *withoutCertificates;
  out.clear();
  out.reserve(HeaderSize(outerLength) + outerLength);
  AppendHeader(kSequence, outerLength, &out);
  out.insert(out.end(), kSignedDataOid.begin(), kSignedDataOid.end());
  AppendHeader(kContext0, explicitLength, &out);
  AppendHeader(kSequence, signedLength, &out);
  out.insert(out.end(), message.begin() + static_cast<std::ptrdiff_t>(signedData.content),
             message.begin() + static_cast<std::ptrdiff_t>(certificatesAt));
  out.insert(out.end(), message.begin() + static_cast<std::ptrdiff_t>(set.end),
             message.begin() + static_cast<std::ptrdiff_t>(signedData.end));
  return true;
}

}  // namespace crypto::provider::openssl
