// Helpers of the OpenSSL backend (see openssl_util.h): parsing, encoding,
// names, times, key identifiers and the algorithm mapping.
#include "crypto/provider/openssl/openssl_util.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/objects.h>
#include <openssl/sha.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <ctime>
#include <mutex>
#include <vector>

#include "core/text.h"
#include "platform/clock.h"

namespace crypto::provider::openssl {

namespace {

std::atomic<uint32_t> lastMessageFlags{0};

// Objects parsed so far, newest last, found again by their encoding (a
// comparison of a few hundred bytes, cheaper than hashing them); each
// entry holds one reference. The tables are never
// destroyed: the library may already be shut down when the process's
// destructors run.
template <class T>
struct ParsedTable {
  struct Entry {
    Bytes der;  // the encoding parsed
    T* object;  // the parsed object
  };
  size_t limit;                // entries kept
  std::mutex lock;             // guards entries
  std::vector<Entry> entries;  // newest last
};

ParsedTable<X509>& parsedCertificates = *new ParsedTable<X509>{64, {}, {}};
ParsedTable<X509_CRL>& parsedCrls = *new ParsedTable<X509_CRL>{16, {}, {}};

// The shared parse of `der`: from the table, else parsed by `parse` and
// added to it.
template <class T, class Ptr, int (*UpRef)(T*), void (*Free)(T*)>
Ptr ParseShared(ParsedTable<T>& table, const Bytes& der, Ptr (*parse)(const Bytes&)) {
  {
    std::lock_guard<std::mutex> hold(table.lock);
    for (const auto& entry : table.entries) {
      if (entry.der == der && UpRef(entry.object) == 1) return Ptr(entry.object);
    }
  }
  Ptr object = parse(der);
  if (!object || UpRef(object.get()) != 1) return object;
  std::lock_guard<std::mutex> hold(table.lock);
  if (table.entries.size() >= table.limit) {
    Free(table.entries.front().object);
    table.entries.erase(table.entries.begin());
  }
  table.entries.push_back({der, object.get()});
  return object;
}

CrlPtr ParseCrlCopy(const Bytes& der) {
  const unsigned char* cursor = der.data();
  CrlPtr crl(d2i_X509_CRL(nullptr, &cursor, static_cast<long>(der.size())));
  if (crl && cursor != der.data() + der.size()) crl.reset();
  return crl;
}

// Stand-ins for the national algorithms, and the usual identifiers of the
// same algorithms so that messages of other programs open too.
constexpr const char* kHashOids[] = {
    "1.2.112.0.2.0.34.101.31.81",  // national hash -> SHA-256
    "2.16.840.1.101.3.4.2.1",      // SHA-256
};
constexpr const char* kCipherOids[] = {
    "1.2.112.0.2.0.34.101.31.33",  // national content encryption -> AES-256-CBC
    "2.16.840.1.101.3.4.1.42",     // AES-256-CBC
};
// 3DES, what the test profile names (the Windows build, whose provider
// under Wine has neither the national cipher nor AES in CMS): the server
// simulator encrypts with it for such a client.
constexpr char kTripleDesOid[] = "1.2.840.113549.3.7";

}  // namespace

const char kSigningTimeOid[] = "1.2.840.113549.1.9.5";

X509Ptr ParseCertificate(const Bytes& der) {
  return ParseShared<X509, X509Ptr, X509_up_ref, X509_free>(parsedCertificates, der, ParseCertificateCopy);
}

X509Ptr ParseCertificateCopy(const Bytes& der) {
  const unsigned char* cursor = der.data();
  X509Ptr certificate(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
  if (certificate && cursor != der.data() + der.size()) certificate.reset();
  return certificate;
}

CrlPtr ParseCrl(const Bytes& der) {
  return ParseShared<X509_CRL, CrlPtr, X509_CRL_up_ref, X509_CRL_free>(parsedCrls, der, ParseCrlCopy);
}

CmsPtr ParseCms(const Bytes& der) {
  const unsigned char* cursor = der.data();
  CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(der.size())));
  if (cms && cursor != der.data() + der.size()) cms.reset();
  return cms;
}

Bytes EncodeName(const X509_NAME* name) {
  return Encode(name, i2d_X509_NAME);
}

Bytes EncodeCertificate(X509* certificate) {
  return Encode(certificate, i2d_X509);
}

Bytes StringBytes(const ASN1_STRING* text) {
  if (text == nullptr) return {};
  const unsigned char* data = ASN1_STRING_get0_data(text);
  return Bytes(data, data + ASN1_STRING_length(text));
}

Bytes EncodePublicKey(const EVP_PKEY* key) {
  return Encode(key, i2d_PUBKEY);
}

std::wstring NameAttribute(const X509_NAME* name, int nid) {
  if (name == nullptr) return {};
  int index = X509_NAME_get_index_by_NID(name, nid, -1);
  if (index < 0) return {};
  const ASN1_STRING* data = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index));
  unsigned char* utf8 = nullptr;
  int size = ASN1_STRING_to_UTF8(&utf8, data);
  if (size < 0) return {};
  std::string text(reinterpret_cast<char*>(utf8), static_cast<size_t>(size));
  OPENSSL_free(utf8);
  return core::ToWide(text, core::kCodePageUtf8);
}

std::wstring DisplayName(const X509_NAME* name) {
  for (int nid : {NID_commonName, NID_organizationalUnitName, NID_organizationName,
                  NID_pkcs9_emailAddress}) {
    std::wstring text = NameAttribute(name, nid);
    if (!text.empty()) return text;
  }
  return {};
}

bool TimeToFileTime(const ASN1_TIME* time, int64_t* fileTime) {
  // Parsed once, with nothing allocated: a verification reads a few
  // dozen of these.
  struct tm moment {};
  if (time == nullptr || ASN1_TIME_to_tm(time, &moment) != 1) return false;
  struct tm epoch {};
  epoch.tm_year = 70;
  epoch.tm_mday = 1;
  int days = 0;
  int seconds = 0;
  if (OPENSSL_gmtime_diff(&days, &seconds, &epoch, &moment) != 1) return false;
  *fileTime = platform::FileTimeFromUnix(static_cast<int64_t>(days) * 86400 + seconds);
  return true;
}

AsnTimePtr FileTimeToTime(int64_t fileTime) {
  return AsnTimePtr(ASN1_TIME_set(nullptr, static_cast<time_t>(platform::UnixFromFileTime(fileTime))));
}

Bytes CertificateKeyId(X509* certificate) {
  const ASN1_OCTET_STRING* extension = X509_get0_subject_key_id(certificate);
  if (extension != nullptr) return StringBytes(extension);
  const ASN1_BIT_STRING* bits = X509_get0_pubkey_bitstr(certificate);
  if (bits == nullptr) return {};
  Bytes digest(SHA_DIGEST_LENGTH);
  SHA1(ASN1_STRING_get0_data(bits), static_cast<size_t>(ASN1_STRING_length(bits)), digest.data());
  return digest;
}

std::string OidText(const ASN1_OBJECT* object) {
  char text[128];
  int size = OBJ_obj2txt(text, sizeof text, object, 1);
  if (size <= 0) return {};
  if (static_cast<size_t>(size) >= sizeof text) return {};
  return std::string(text, static_cast<size_t>(size));
}

const EVP_MD* HashForOid(const std::string& oid) {
  for (const char* known : kHashOids) {
    if (oid == known) return EVP_sha256();
  }
  return nullptr;
}

const EVP_CIPHER* CipherForOid(const std::string& oid) {
  for (const char* known : kCipherOids) {
    if (oid == known) return EVP_aes_256_cbc();
  }
  if (oid == kTripleDesOid) return EVP_des_ede3_cbc();
  return nullptr;
}

void NoteMessageFlags(uint32_t flags) {
  lastMessageFlags.store(flags);
}

Bytes ReadAll(BIO* bio) {
  Bytes out;
  unsigned char chunk[4096];
  for (;;) {
    int got = BIO_read(bio, chunk, sizeof chunk);
    if (got <= 0) break;
    out.insert(out.end(), chunk, chunk + got);
  }
  return out;
}

BioPtr MemoryBio(const Bytes& data) {
  static const unsigned char kNothing[1] = {0};
  if (data.size() > 0x7FFFFFFF) return nullptr;
  const void* start = data.empty() ? kNothing : data.data();
  return BioPtr(BIO_new_mem_buf(start, static_cast<int>(data.size())));
}

std::vector<PemBlock> ReadPemBlocks(const Bytes& data) {
  std::vector<PemBlock> blocks;
  BioPtr bio = MemoryBio(data);
  if (!bio) return blocks;
  for (;;) {
    char* name = nullptr;
    char* header = nullptr;
    unsigned char* body = nullptr;
    long size = 0;
    if (PEM_read_bio(bio.get(), &name, &header, &body, &size) != 1) break;
    blocks.push_back({name, Bytes(body, body + size)});
    OPENSSL_free(name);
    OPENSSL_free(header);
    OPENSSL_free(body);
  }
  ERR_clear_error();
  return blocks;
}

Bytes Sha256(const Bytes& data) {
  Bytes digest(SHA256_DIGEST_LENGTH);
  SHA256(data.data(), data.size(), digest.data());
  return digest;
}

}  // namespace crypto::provider::openssl

namespace crypto::provider {

uint32_t LastMessageFlagsForTest() {
  return openssl::lastMessageFlags.load();
}

}  // namespace crypto::provider
